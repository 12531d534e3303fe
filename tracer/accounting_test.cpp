// Time accounting: input crediting into the buckets, visible share over the interval, covered
// and missing windows; and the recorder queue's limit and bounded drain.
#include "tracer/accounting.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "tracer/tracer_harness.h"

namespace qv::tracer {
namespace {

using namespace std::chrono_literals;
constexpr std::uint64_t kSecond = kTicksPerSecond;

TEST(InputBucketsTest, FirstEventGetsTheCapThenTheGapCappedAt1500ms) {
  InputBuckets b;
  auto yes = [](platform::DesktopWindow) { return true; };
  std::int64_t t = 1000;
  EXPECT_FALSE(b.Credit(1, t, yes));  // 1.5 s
  t += 3'000'000;
  EXPECT_FALSE(b.Credit(1, t, yes));  // 0.3 s
  t += 50 * kSecond;
  EXPECT_FALSE(b.Credit(2, t, yes));  // capped: 1.5 s
  EXPECT_FALSE(b.Credit(2, t, yes));  // same moment: nothing
  t += kSecond;
  EXPECT_FALSE(b.Credit(0, t, yes));  // no window: nothing, but the time moves on
  t += kSecond;
  EXPECT_FALSE(b.Credit(3, t, [](platform::DesktopWindow) { return false; }));
  InputBucket got = b.Swap();
  ASSERT_EQ(got.entries.size(), 2u);
  EXPECT_EQ(got.entries[0], std::make_pair(platform::DesktopWindow{1}, std::uint64_t{18'000'000}));
  EXPECT_EQ(got.entries[1], std::make_pair(platform::DesktopWindow{2}, std::uint64_t{15'000'000}));
  EXPECT_EQ(got.total, 33'000'000u);
  EXPECT_EQ(b.Swap().total, 0u);
}

TEST(InputBucketsTest, AsksForAPassAtTenWindowsThirtySecondsAndWhenFull) {
  auto yes = [](platform::DesktopWindow) { return true; };
  InputBuckets windows;
  std::int64_t t = 0;
  for (platform::DesktopWindow w = 1; w <= 9; ++w) EXPECT_FALSE(windows.Credit(w, t += 100, yes));
  EXPECT_TRUE(windows.Credit(10, t += 100, yes));
  for (platform::DesktopWindow w = 11; w <= 30; ++w) windows.Credit(w, t += 100, yes);
  EXPECT_TRUE(windows.Credit(31, t += 100, yes));  // 30 windows: full, nothing added
  EXPECT_EQ(windows.Swap().entries.size(), 30u);

  InputBuckets time;
  t = 0;
  int events = 0;
  while (!time.Credit(1, t += 15'000'000, yes)) ++events;
  EXPECT_EQ(events, 19);  // the 20th event brings 30 s
  for (int i = 0; i < 20; ++i) time.Credit(1, t += 15'000'000, yes);
  EXPECT_EQ(time.Swap().total, 600'000'000u);  // stops at 60 s
}

TEST(AccountingTest, VisibleShareOfElapsedTime) {
  TracerHarness h;
  h.tc.registry().SetValue(platform::Hive::CurrentUser, "Software\\Quillon\\Vesper",
                           "InactivityTimeout", platform::RegValue::Dword(300));
  ASSERT_EQ(h.Start(), S_OK);
  h.Window(1, "full", {0, 0, 1920, 1080});
  h.Window(2, "quarter", {0, 0, 960, 540});  // on top of window 1
  // Working time grows from the first pass that measured the window by its share of the
  // elapsed time; the visit's end brings it up to that moment.
  auto measure = [&](platform::DesktopWindow w, const std::string& url) {
    EXPECT_EQ(h.StartVisit(w, url), S_OK);
    h.desktop.SetForeground(w == 1 ? 1 : 2);
    h.Advance(1500ms);
    const auto open = h.tracer->table().Snapshot().at(0);
    const std::int64_t measured = h.tracer->table().lastPass;
    h.Advance(10s);
    EXPECT_EQ(h.EndVisit(w), S_OK);
    const auto v = h.web.visits().back();
    return std::make_pair(open.coverage, static_cast<double>(v.workingTime - open.workingTime) /
                                             static_cast<double>(v.endMono - measured));
  };
  const auto [quarterCoverage, quarterShare] = measure(2, "http://quarter/");
  EXPECT_EQ(quarterCoverage, 25u);
  EXPECT_NEAR(quarterShare, 0.25, 0.001);
  const auto [fullCoverage, fullShare] = measure(1, "http://full/");
  EXPECT_EQ(fullCoverage, 100u);
  EXPECT_NEAR(fullShare, 1.0, 0.001);
}

TEST(AccountingTest, CoveredWindowGainsOnlyInputTime) {
  TracerHarness h;
  ASSERT_EQ(h.Start(), S_OK);
  h.Window(1, "under", {0, 0, 800, 600});
  h.Window(2, "over", {0, 0, 1920, 1080});
  ASSERT_EQ(h.StartVisit(1, "http://under/"), S_OK);
  h.Key(1);  // first input: 1.5 s
  h.Advance(400ms);
  h.Key(1);  // 0.4 s
  h.Advance(5s);
  h.Key(1);  // capped at 1.5 s
  h.Advance(2s);
  ASSERT_EQ(h.EndVisit(1), S_OK);
  const auto v = h.web.visits().at(0);
  EXPECT_EQ(v.activeTime, 34'000'000u);
  EXPECT_EQ(v.workingTime, 34'000'000u);
}

TEST(AccountingTest, InputToAChildCountsForItsParentsVisit) {
  TracerHarness h;
  ASSERT_EQ(h.Start(), S_OK);
  h.Window(1, "frame", {0, 0, 10, 10});
  platform::WindowState child;
  child.id = 2;
  child.parent = 1;
  child.threadId = 100;
  h.desktop.CreateWindow(child);
  ASSERT_EQ(h.StartVisit(1, "http://page/"), S_OK);
  h.Key(2);
  h.Advance(2s);
  EXPECT_EQ(h.tracer->table().Snapshot().at(0).activeTime, 15'000'000u);
}

TEST(AccountingTest, MissingWindowEndsItsVisitAfterThreePasses) {
  TracerHarness h;
  ASSERT_EQ(h.Start(), S_OK);
  h.Window(1);
  h.Window(2, "other", {0, 0, 10, 10});
  ASSERT_EQ(h.StartVisit(1, "http://page/"), S_OK);
  h.Advance(3s);
  h.desktop.DestroyWindow(1);  // a reported visit is not ended by the destroy event
  h.Advance(2s);
  EXPECT_EQ(h.tracer->table().Size(), 1u);
  for (int i = 0; i < 2; ++i) {
    h.desktop.SetForeground(2);  // something wakes the pass
    h.Advance(2s);
  }
  EXPECT_EQ(h.tracer->table().Size(), 0u);
  EXPECT_EQ(h.web.identifiers(), std::vector<std::string>{"http://page/"});
}

TEST(AccountingTest, DetectedDocumentsFollowTitlesAndWindows) {
  TracerHarness h;
  ASSERT_EQ(h.Start(), S_OK);
  h.Window(1, "/home/u/a.txt - Editor");
  h.desktop.SetForeground(1);
  h.Advance(3s);
  ASSERT_EQ(h.tracer->table().Size(), 1u);
  EXPECT_EQ(h.tracer->table().Snapshot()[0].kind, kKindDocument);
  h.desktop.SetTitle(1, "/home/u/b.txt - Editor");  // another file in the same window
  h.Advance(3s);
  h.desktop.SetTitle(1, "Editor");  // no file any more
  h.Advance(2s);
  EXPECT_EQ(h.tracer->table().Size(), 0u);
  h.Window(2, "/home/u/c.txt - Editor");
  h.desktop.SetForeground(2);
  h.Advance(2s);
  h.desktop.DestroyWindow(2);
  h.tracer->RunUntilIdle();
  EXPECT_EQ(h.tracer->table().Size(), 0u);
  EXPECT_EQ(h.file.identifiers(),
            (std::vector<std::string>{"file:///home/u/a.txt", "file:///home/u/b.txt",
                                      "file:///home/u/c.txt"}));
}

class SlowWriter final : public VisitWriter {
 public:
  explicit SlowWriter(ManualClock& clock) : clock_(clock) {}
  void Record(const Visit& v) override {
    clock_.Advance(15s);
    recorded.push_back(v.identifier);
  }
  std::vector<std::string> recorded;

 private:
  ManualClock& clock_;
};

TEST(RecorderQueueTest, SixtyFifthVisitIsRefusedAndDrainIsBounded) {
  TestContext tc;
  SlowWriter writer(tc.clock());
  RecorderHost host{tc.ctx()};
  RecorderQueue queue(RecorderKind::File, writer, host);
  auto visit = [](int i) {
    auto v = std::make_unique<Visit>();
    v->identifier = "file:///f" + std::to_string(i);
    return v;
  };
  EXPECT_EQ(queue.Queue(visit(0)), E_FAIL);  // not begun: refused
  ASSERT_EQ(queue.Prepare(), S_OK);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(queue.Queue(visit(i)), S_OK);
  EXPECT_EQ(queue.Queue(visit(64)), kRecorderQueueFull);
  queue.RequestStop();
  EXPECT_EQ(queue.Queue(visit(65)), E_ABORT);
  Step s;
  while ((s = queue.RunReady()) == Step::Worked) {
  }
  EXPECT_EQ(s, Step::Finished);
  // 15 s a visit and 20 s to drain: two are recorded, the rest are logged.
  EXPECT_EQ(writer.recorded, (std::vector<std::string>{"file:///f0", "file:///f1"}));
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>(62, kEvVisitQueue));
}

TEST(RecorderQueueTest, ThreadedRecorderDrainsBeforeItEnds) {
  TestContext tc;
  CollectingWriter writer;
  RecorderHost host{tc.ctx()};
  RecorderQueue queue(RecorderKind::Web, writer, host);
  StartGate gate;
  WorkerHost worker(queue, true);
  ASSERT_EQ(worker.Start(gate), S_OK);
  for (int i = 0; i < 10; ++i) {
    auto v = std::make_unique<Visit>();
    v->identifier = "http://" + std::to_string(i);
    ASSERT_EQ(queue.Queue(std::move(v)), S_OK);
  }
  queue.RequestStop();
  gate.Open();
  EXPECT_TRUE(worker.WaitEnded(10s));
  worker.Join();
  EXPECT_EQ(writer.visits().size(), 10u);
}

// A writer that does not return until the test lets it.
class StuckWriter final : public VisitWriter {
 public:
  void Record(const Visit&) override {
    std::unique_lock lock(mutex_);
    entered_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return released_; });
  }
  bool WaitEntered() {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, 10s, [this] { return entered_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool entered_ = false;
  bool released_ = false;
};

TEST(RecorderQueueTest, StuckWriterIsReportedWithWhatIsQueued) {
  TestContext tc;
  StuckWriter writer;
  RecorderHost host{tc.ctx()};
  RecorderQueue queue(RecorderKind::File, writer, host);
  StartGate gate;
  WorkerHost worker(queue, true);
  ASSERT_EQ(worker.Start(gate), S_OK);
  for (const char* id : {"file:///held", "file:///queued1", "file:///queued2"}) {
    auto v = std::make_unique<Visit>();
    v->identifier = id;
    ASSERT_EQ(queue.Queue(std::move(v)), S_OK);
  }
  gate.Open();
  ASSERT_TRUE(writer.WaitEntered());
  queue.RequestStop();
  EXPECT_FALSE(worker.WaitEnded(50ms));
  // The shutdown gives up on it: the visit in hand and the queued ones are in the log.
  EXPECT_TRUE(queue.ReportLeft());
  EXPECT_EQ(queue.Pending(), 0u);
  std::vector<std::string> items;
  for (const auto& e : tc.eventLog().ReadAll()) {
    EXPECT_EQ(e.eventId, kEvVisitQueue);
    if (!e.strings.empty()) items.push_back(e.strings[0]);
  }
  EXPECT_EQ(items, (std::vector<std::string>{"file:///held", "file:///queued1", "file:///queued2"}));
  // Should it return after all, it ends without recording the dropped ones.
  writer.Release();
  EXPECT_TRUE(worker.WaitEnded(10s));
  worker.Join();
  EXPECT_FALSE(queue.ReportLeft());
}


// The mail add-in waits at its shutdown until the mail recorder has nothing left: the idle
// signal falls when a mail visit is queued and rises only once every one is done with,
// recorded or given up.
TEST(RecorderQueueTest, MailIdleSignalFollowsUnfinishedMailVisits) {
  TestContext tc;
  StuckWriter writer;
  std::mutex mutex;
  std::vector<bool> signals;
  RecorderHost host{tc.ctx()};
  host.mailIdle = [&](bool idle) {
    std::lock_guard lock(mutex);
    signals.push_back(idle);
  };
  RecorderQueue queue(RecorderKind::Mail, writer, host);
  StartGate gate;
  WorkerHost worker(queue, true);
  ASSERT_EQ(worker.Start(gate), S_OK);
  for (const char* id : {"outlook:01", "outlook:02"}) {
    auto v = std::make_unique<Visit>();
    v->identifier = id;
    ASSERT_EQ(queue.Queue(std::move(v)), S_OK);
  }
  gate.Open();
  ASSERT_TRUE(writer.WaitEntered());
  // One in hand, one queued: both still count.
  EXPECT_EQ(queue.Unfinished(), 2u);
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(signals, (std::vector<bool>{false, false}));
  }
  // Given up at shutdown: the waiting add-in is released at once, not after its time-out.
  queue.RequestStop();
  EXPECT_TRUE(queue.ReportLeft());
  EXPECT_EQ(queue.Unfinished(), 0u);
  {
    std::lock_guard lock(mutex);
    ASSERT_FALSE(signals.empty());
    EXPECT_TRUE(signals.back());
  }
  writer.Release();
  EXPECT_TRUE(worker.WaitEnded(10s));
  worker.Join();
  EXPECT_EQ(queue.Unfinished(), 0u);
}

TEST(RecorderQueueTest, MailIdleRisesWhenTheLastMailVisitIsRecorded) {
  TestContext tc;
  CollectingWriter writer;
  std::vector<bool> signals;
  RecorderHost host{tc.ctx()};
  host.mailIdle = [&](bool idle) { signals.push_back(idle); };
  RecorderQueue queue(RecorderKind::Mail, writer, host);
  StartGate gate;
  WorkerHost worker(queue, true);
  ASSERT_EQ(worker.Start(gate), S_OK);
  for (int i = 0; i < 3; ++i) {
    auto v = std::make_unique<Visit>();
    v->identifier = "outlook:0" + std::to_string(i);
    ASSERT_EQ(queue.Queue(std::move(v)), S_OK);
  }
  queue.RequestStop();
  gate.Open();
  EXPECT_TRUE(worker.WaitEnded(10s));
  worker.Join();
  EXPECT_EQ(writer.visits().size(), 3u);
  EXPECT_EQ(signals, (std::vector<bool>{false, false, false, true}));

  // Other recorders never touch the mail signal.
  std::vector<bool> web;
  RecorderHost webHost{tc.ctx()};
  webHost.mailIdle = [&](bool idle) { web.push_back(idle); };
  RecorderQueue webQueue(RecorderKind::Web, writer, webHost);
  StartGate webGate;
  WorkerHost webWorker(webQueue, true);
  ASSERT_EQ(webWorker.Start(webGate), S_OK);
  auto v = std::make_unique<Visit>();
  v->identifier = "http://a/";
  ASSERT_EQ(webQueue.Queue(std::move(v)), S_OK);
  webQueue.RequestStop();
  webGate.Open();
  EXPECT_TRUE(webWorker.WaitEnded(10s));
  webWorker.Join();
  EXPECT_TRUE(web.empty());
}

}  // namespace
}  // namespace qv::tracer
