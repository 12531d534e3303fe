#include "service/QvRankingSvc/catalog_worker.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

#include "context/test_context.h"

namespace qv::service {
namespace {

// A processing step that holds each request until the test lets it go.
class Gate {
 public:
  void Enter(const CatalogRequest& r) {
    std::unique_lock lock(mutex_);
    entered_.push_back(r.folder);
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  // Bounded: a worker that never takes a request fails the test instead of hanging it.
  bool WaitEntered(std::size_t n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30),
                             [&] { return entered_.size() >= n; });
  }
  std::vector<std::string> entered() {
    std::lock_guard lock(mutex_);
    return entered_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> entered_;
  bool open_ = false;
};

CatalogRequest Request(int n) {
  CatalogRequest r;
  r.folder = "/data/" + std::to_string(n) + "/";
  return r;
}

TEST(CatalogWorker, SixtyFourWaitTheSixtyFifthIsPendingAndRoomComesBackOnceOneIsTaken) {
  TestContext tc;
  Gate gate;
  CatalogWorker worker(tc.ctx(), [&](const CatalogRequest& r) { gate.Enter(r); },
                       std::chrono::milliseconds(30'000));
  ASSERT_EQ(worker.Start(), S_OK);
  ASSERT_EQ(worker.Enqueue(Request(0)), S_OK);
  ASSERT_TRUE(gate.WaitEntered(1));  // the worker holds request 0; the queue is empty again
  for (int i = 1; i <= 64; ++i) ASSERT_EQ(worker.Enqueue(Request(i)), S_OK) << i;
  EXPECT_EQ(worker.Enqueue(Request(65)), E_PENDING);
  EXPECT_EQ(worker.Queued(), 64u);
  gate.Open();
  ASSERT_TRUE(gate.WaitEntered(65));
  EXPECT_EQ(worker.Enqueue(Request(66)), S_OK);
  ASSERT_TRUE(gate.WaitEntered(66));
  // First in, first out; the refused one never ran.
  const auto entered = gate.entered();
  for (int i = 0; i <= 64; ++i) EXPECT_EQ(entered[i], Request(i).folder);
  EXPECT_EQ(entered[65], Request(66).folder);
  EXPECT_TRUE(worker.Stop());
}

TEST(CatalogWorker, AStopDuringALongRequestGivesUpAfterTheWaitWithAWarning) {
  TestContext tc;
  Gate gate;
  CatalogWorker worker(tc.ctx(), [&](const CatalogRequest& r) { gate.Enter(r); },
                       std::chrono::milliseconds(50));
  ASSERT_EQ(worker.Start(), S_OK);
  ASSERT_EQ(worker.Enqueue(Request(1)), S_OK);
  ASSERT_EQ(worker.Enqueue(Request(2)), S_OK);
  ASSERT_TRUE(gate.WaitEntered(1));
  EXPECT_FALSE(worker.Stop());
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEventWorkerAbandoned});
  // Stopping, the worker takes nothing more; what was queued is dropped.
  EXPECT_EQ(worker.Enqueue(Request(3)), kWorkerNotRunning);
  gate.Open();  // lets the destructor's join finish
}

TEST(CatalogWorker, AnOrderlyStopEndsAtOnceWithoutEvents) {
  TestContext tc;
  CatalogWorker worker(tc.ctx(), [](const CatalogRequest&) {}, std::chrono::milliseconds(30'000));
  ASSERT_EQ(worker.Start(), S_OK);
  EXPECT_TRUE(worker.Stop());
  EXPECT_TRUE(tc.EventIds().empty());
}

TEST(CatalogWorker, ADeadWorkerMakesQueueingFailInsteadOfPromisingWork) {
  TestContext tc;
  std::promise<void> thrown;
  CatalogWorker worker(tc.ctx(), [&](const CatalogRequest&) {
    thrown.set_value();
    throw std::runtime_error("repair failed badly");
  });
  // Never started: nobody would serve the request.
  EXPECT_EQ(worker.Enqueue(Request(1)), kWorkerNotRunning);
  ASSERT_EQ(worker.Start(), S_OK);
  ASSERT_EQ(worker.Enqueue(Request(1)), S_OK);
  ASSERT_EQ(thrown.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  // The worker leaves its loop right after the throw; bounded wait for the refusal.
  HRESULT hr = S_OK;
  for (int i = 0; i < 3000 && hr == S_OK; ++i) {
    hr = worker.Enqueue(Request(2));
    if (hr == S_OK) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(hr, kWorkerNotRunning);
  const auto ids = tc.EventIds();
  ASSERT_FALSE(ids.empty());
  EXPECT_EQ(ids[0], kEventWorkerFailed);
}

}  // namespace
}  // namespace qv::service
