// The service host through real sockets: calls from the listener proxy reach the handlers
// with their values and the caller's identity, results come back, and the host keeps its
// promises about queueing, refusals and bad input.
#include "service/QvRankingSvc/service_host.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include "common/held_in_child.h"
#include "context/test_context.h"
#include "platform/messaging/runtime_folder.h"
#include "provider/ranking/file_ranking.h"
#include "service/QvRankingSvc/service_client.h"

namespace qv::service {
namespace {

using std::chrono::seconds;

// Holds each call until the test opens it; bounded waits so a fault fails instead of hanging.
class Gate {
 public:
  void Pass() {
    std::unique_lock lock(mutex_);
    ++entered_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  bool WaitEntered(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, seconds(30), [&] { return entered_ >= n; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int entered_ = 0;
  bool open_ = false;
};

class ServiceHostTest : public ::testing::Test {
 protected:
  // A failed assertion must not leave the worker parked in the gate; the gate outlives the
  // host, since the worker may still be passing it while the host stops.
  void TearDown() override {
    gate.Open();
    StopHost();
  }

  HostOptions Options() {
    HostOptions o;
    o.folder = tc.root() / "run";
    o.uid = ::getuid();
    o.workerStopWait = seconds(30);
    return o;
  }
  void StartHost(HostOptions options) {
    host = std::make_unique<ServiceHost>(tc.ctx(), handlers, std::move(options));
    ASSERT_EQ(host->Open(), S_OK);
    thread = std::thread([this] { runResult = host->Run(); });
  }
  void StartHost() { StartHost(Options()); }
  void StopHost() {
    if (!thread.joinable()) return;
    host->RequestStop();
    thread.join();
  }
  ServiceClientOptions ClientOptions() {
    ServiceClientOptions o;
    o.folder = tc.root() / "run";
    o.program = "/nonexistent/QvRankingSvc";  // these tests never start a service
    o.callTimeout = seconds(30);
    return o;
  }

  TestContext tc;
  Gate gate;
  ListenerHandlers handlers;
  std::unique_ptr<ServiceHost> host;
  std::thread thread;
  HRESULT runResult = E_FAIL;
};

TEST_F(ServiceHostTest, ALockedFilesUpdateReachesTheServiceThroughItsSocket) {
  const std::string file = (tc.root() / "minutes.odt").string();
  std::ofstream(file) << "minutes of the meeting";

  // Another process holds a POSIX write lock on the file, as an office suite does.
  HeldInChild locker([&] { return HeldInChild::PosixWriteLock(file.c_str()); });

  std::vector<std::pair<PendingUpdate, Caller>> received;
  int jobRuns = 0;
  handlers.updatePending = [&](const PendingUpdate& u, const Caller& c) {
    received.emplace_back(u, c);
    return S_OK;
  };
  handlers.runDueJobs = [&]() -> std::optional<SystemTime> {
    ++jobRuns;
    return std::nullopt;
  };
  StartHost();
  RegisterRankingClasses(tc.ctx());
  RegisterKivListenerProxy(tc.classes(), ClientOptions());

  FileRanking fr(tc.ctx());
  const std::string key = "{11111111-2222-3333-4444-555555555555}";
  const HRESULT hr = fr.UpdateRank(&file, 450, 1, 46000.25, 46000.5, 900, 800, 7, 2, &key);
  locker.Release();
  ASSERT_TRUE(locker.taken()) << "the child could not lock the file";
  StopHost();

  EXPECT_EQ(hr, S_OK);
  ASSERT_EQ(received.size(), 1u);
  const auto& [u, caller] = received[0];
  EXPECT_EQ(u.file, file);
  EXPECT_EQ(u.units, 450u);
  EXPECT_EQ(u.visits, 1u);
  EXPECT_EQ(u.start, 46000.25);
  EXPECT_EQ(u.finish, 46000.5);
  EXPECT_EQ(u.workingTime, 900u);
  EXPECT_EQ(u.activeTime, 800u);
  EXPECT_EQ(u.scope, 7u);
  EXPECT_EQ(u.retry, 2u);
  EXPECT_EQ(u.searchKey, key);
  EXPECT_EQ(caller.uid, ::getuid());
  EXPECT_EQ(caller.pid, ::getpid());
  // Once at start, once after the update that was scheduled.
  EXPECT_EQ(jobRuns, 2);
}

TEST_F(ServiceHostTest, TheSixtyFifthCatalogRequestIsPendingAndLogged) {
  handlers.makeConfigRequest = [](std::string_view dir, bool rescan, const Caller&,
                                  CatalogRequest& out) {
    out.folder = std::string(dir);
    out.rescan = rescan;
    return S_OK;
  };
  handlers.processCatalogRequest = [&](const CatalogRequest&) { gate.Pass(); };
  StartHost();
  KivListenerProxy proxy(ClientOptions());
  const std::string dir = "/home/u/data/";
  ASSERT_EQ(proxy.CfgVerify(&dir, VARIANT_TRUE), S_OK);
  ASSERT_TRUE(gate.WaitEntered(1));
  for (int i = 0; i < 64; ++i) ASSERT_EQ(proxy.CfgVerify(&dir, VARIANT_FALSE), S_OK) << i;
  EXPECT_EQ(proxy.CfgVerify(&dir, VARIANT_FALSE), E_PENDING);
  EXPECT_EQ(proxy.servicePid(), static_cast<std::uint32_t>(::getpid()));
  // Nothing to queue is refused before the queue is looked at; every failure is logged.
  EXPECT_EQ(proxy.CfgVerify(nullptr, VARIANT_FALSE), E_INVALIDARG);
  const std::string empty;
  EXPECT_EQ(proxy.OtlProfile(&dir, &empty, &dir), E_INVALIDARG);
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>(3, kEventCatalogCallFailed));
  gate.Open();
}

TEST_F(ServiceHostTest, ABeginCallReturnsOnceQueuedAndFinishGivesTheResult) {
  handlers.deleteStale = [&](std::string_view file, const Caller&) {
    gate.Pass();
    return file == "/x/page.q6w" ? S_FALSE : E_ACCESSDENIED;
  };
  StartHost();
  KivListenerProxy proxy(ClientOptions());
  const std::string file = "/x/page.q6w";
  PendingCall call;
  // The service is still inside the call when the begin-call has returned.
  ASSERT_EQ(proxy.BeginDeleteStale(&file, call), S_OK);
  ASSERT_TRUE(gate.WaitEntered(1));
  gate.Open();
  EXPECT_EQ(call.Finish(seconds(30)), S_FALSE);
  // A begin-call whose caller left early does not upset the service.
  PendingCall abandoned;
  ASSERT_EQ(proxy.BeginDeleteStale(&file, abandoned), S_OK);
  abandoned = PendingCall();
  EXPECT_EQ(proxy.DeleteStale(&file), S_FALSE);
  EXPECT_EQ(proxy.DeleteStale(nullptr), E_INVALIDARG);
}

TEST_F(ServiceHostTest, CallersOfAnotherUserAreRefusedAndLogged) {
  HostOptions options = Options();
  options.peerCredentials = [](int, Caller& out) {
    out = {::getuid() + 1, ::getgid(), 4242};
    return true;
  };
  bool called = false;
  handlers.updatePending = [&](const PendingUpdate&, const Caller&) {
    called = true;
    return S_OK;
  };
  StartHost(std::move(options));
  KivListenerProxy proxy(ClientOptions());
  const std::string file = "/home/u/a.txt";
  EXPECT_EQ(proxy.UpdatePending(&file, 1, 1, 1.0, 2.0, 3, 4, 5, 0, nullptr), E_ACCESSDENIED);
  EXPECT_FALSE(called);
  const auto events = tc.eventLog().ReadAll();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].eventId, kEventForeignCallerRefused);
  EXPECT_EQ(events[0].strings.at(2), "4242");
}

TEST_F(ServiceHostTest, MalformedCallsGetAnErrorAndTheServiceServesOn) {
  StartHost();
  const auto socket = ServiceSocketPath(tc.root() / "run");
  SystemClock clock;
  for (const std::vector<std::uint8_t>& junk :
       {std::vector<std::uint8_t>{1, 2, 3}, std::vector<std::uint8_t>(platform::kMaxCallBytes + 1, 0x51)}) {
    platform::UniqueFd fd;
    ASSERT_EQ(platform::ConnectTo(socket, fd), S_OK);
    ASSERT_GT(::send(fd.get(), junk.data(), junk.size(), 0), 0);
    platform::CallReply reply;
    ASSERT_EQ(platform::ReceiveReply(fd.get(), clock, seconds(30), reply), S_OK);
    EXPECT_EQ(reply.hr, HresultFromWin32(win32::ERROR_INVALID_DATA));
    // The connection is closed after the error.
    EXPECT_EQ(platform::ReceiveReply(fd.get(), clock, seconds(30), reply),
              HresultFromWin32(win32::ERROR_BROKEN_PIPE));
  }
  // Well-framed but the wrong arguments for the method, or no such method.
  platform::UniqueFd fd;
  ASSERT_EQ(platform::ConnectTo(socket, fd), S_OK);
  platform::CallReply reply;
  ASSERT_EQ(platform::SendCall(fd.get(), {1, false, {std::uint32_t{1}}}, clock, seconds(30), reply),
            S_OK);
  EXPECT_EQ(reply.hr, HresultFromWin32(win32::ERROR_INVALID_DATA));
  ASSERT_EQ(platform::SendCall(fd.get(), {77, false, {}}, clock, seconds(30), reply), S_OK);
  EXPECT_EQ(reply.hr, E_NOTIMPL);

  // Handlers not wired answer "not implemented"; a null file is no update.
  KivListenerProxy proxy(ClientOptions());
  const std::string dir = "/d";
  EXPECT_EQ(proxy.OtlStopScope(&dir), E_NOTIMPL);
  EXPECT_EQ(proxy.UpdatePending(nullptr, 1, 1, 1.0, 2.0, 3, 4, 5, 0, nullptr), E_INVALIDARG);
}

TEST_F(ServiceHostTest, OneServicePerUserAndAStaleSocketIsReplaced) {
  const auto folder = tc.root() / "run";
  ASSERT_EQ(platform::EnsureRuntimeFolder(folder, ::getuid()), S_OK);
  {
    // What a killed service leaves: a socket file nobody serves.
    platform::UniqueFd dead;
    ASSERT_EQ(platform::ListenOn(ServiceSocketPath(folder), dead), S_OK);
  }
  StartHost();
  ServiceHost second(tc.ctx(), handlers, Options());
  EXPECT_EQ(second.Open(), kAlreadyRunning);
  KivListenerProxy proxy(ClientOptions());
  const std::string dir = "/d";
  EXPECT_EQ(proxy.OtlStopScope(&dir), E_NOTIMPL);  // the first one answers
  StopHost();
  EXPECT_EQ(runResult, S_OK);
  EXPECT_FALSE(std::filesystem::exists(ServiceSocketPath(folder)));
  host.reset();  // the lock goes with the service
  ServiceHost third(tc.ctx(), handlers, Options());
  EXPECT_EQ(third.Open(), S_OK);
}

TEST_F(ServiceHostTest, DueJobsRunWhenTheTimerComesWithoutACallInBetween) {
  std::promise<void> second;
  int runs = 0;
  handlers.runDueJobs = [&]() -> std::optional<SystemTime> {
    if (++runs == 2) second.set_value();
    // First: a job is due at once (its time has passed); then none.
    return runs == 1 ? std::optional<SystemTime>(SystemTime{}) : std::nullopt;
  };
  StartHost();
  EXPECT_EQ(second.get_future().wait_for(seconds(30)), std::future_status::ready);
  StopHost();
  EXPECT_EQ(runs, 2);
}

TEST_F(ServiceHostTest, AStopDuringALongRepairGivesUpOnTheWorkerAfterTheWait) {
  handlers.makeConfigRequest = [](std::string_view dir, bool, const Caller&,
                                  CatalogRequest& out) {
    out.folder = std::string(dir);
    return S_OK;
  };
  handlers.processCatalogRequest = [&](const CatalogRequest&) { gate.Pass(); };
  HostOptions options = Options();
  options.workerStopWait = std::chrono::milliseconds(50);
  StartHost(std::move(options));
  KivListenerProxy proxy(ClientOptions());
  const std::string dir = "/home/u/data/";
  PendingCall call;
  ASSERT_EQ(proxy.BeginCfgVerify(&dir, VARIANT_TRUE, call), S_OK);
  EXPECT_EQ(call.Finish(seconds(30)), S_OK);
  ASSERT_TRUE(gate.WaitEntered(1));
  StopHost();
  EXPECT_EQ(runResult, S_OK);
  EXPECT_TRUE(host->workerAbandoned());
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEventWorkerAbandoned});
  gate.Open();  // the service's main would end the process here; the test lets the worker go
}

TEST_F(ServiceHostTest, AStopCallEndsTheServiceInOrder) {
  StartHost();
  platform::UniqueFd fd;
  ASSERT_EQ(platform::ConnectTo(ServiceSocketPath(tc.root() / "run"), fd), S_OK);
  SystemClock clock;
  platform::CallReply reply;
  ASSERT_EQ(platform::SendCall(fd.get(), {static_cast<std::uint32_t>(Method::Stop), false, {}},
                               clock, seconds(30), reply),
            S_OK);
  EXPECT_EQ(reply.hr, S_OK);
  thread.join();
  EXPECT_EQ(runResult, S_OK);
  EXPECT_FALSE(host->workerAbandoned());
}

}  // namespace
}  // namespace qv::service
