// The document watchers on simulated sources: scan timing under bursts of window activity,
// instance counting, failed scans, Recent-folder link names and retries, and the detector
// that turns documents into visits on the window whose title names them.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "common/temp_dir.h"
#include "context/test_context.h"
#include "platform/desktop/sim_desktop.h"
#include "platform/desktop/sim_recent_folder.h"
#include "platform/desktop/sim_running_documents.h"
#include "tracer/detection/desktop_item_detector.h"
#include "tracer/detection/detection_constants.h"
#include "tracer/detection/popup_tracker.h"
#include "tracer/detection/recent_docs_watcher.h"
#include "tracer/detection/running_docs_watcher.h"
#include "tracer/detection/window_docs_worker.h"
#include "tracer/tracer_constants.h"

namespace qv::tracer {
namespace {

using namespace qv::platform;
using namespace std::chrono_literals;

struct Recorded : DocumentEvents {
  std::vector<std::pair<std::uint32_t, std::string>> opened;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> closed;
  int fatal = 0;
  void DocumentOpened(std::uint32_t key, std::string path) override {
    opened.emplace_back(key, std::move(path));
  }
  void DocumentClosed(std::uint32_t key, std::uint32_t remaining) override {
    closed.emplace_back(key, remaining);
  }
  void Fatal() override { ++fatal; }
};

class RunningDocsTest : public ::testing::Test {
 protected:
  // Steps the watcher the way the tracer's manual mode does, 100 ms at a time.
  void Advance(std::chrono::milliseconds d) {
    for (auto t = 0ms; t < d; t += 100ms) {
      tc_.clock().Advance(100ms);
      while (watcher_.RunReady() == Step::Worked) {
      }
    }
  }
  WinEvent Create() { return {EVENT_OBJECT_CREATE, 7, OBJID_WINDOW, CHILDID_SELF, 1}; }

  TestContext tc_;
  SimRunningDocuments docs_;
  Recorded events_;
  RunningDocsWatcher watcher_{tc_.ctx(), docs_, events_};
};

TEST_F(RunningDocsTest, TriggersAreTheWindowAndEndEvents) {
  EXPECT_TRUE(RunningDocsWatcher::IsTrigger(Create()));
  EXPECT_TRUE(RunningDocsWatcher::IsTrigger({EVENT_OBJECT_DESTROY, 7, 0, 0, 1}));
  EXPECT_FALSE(RunningDocsWatcher::IsTrigger({EVENT_OBJECT_DESTROY, 7, 0, 3, 1}));  // a child id
  EXPECT_TRUE(RunningDocsWatcher::IsTrigger({EVENT_SYSTEM_MENUEND, 7, -4, 0, 1}));
  EXPECT_TRUE(RunningDocsWatcher::IsTrigger({EVENT_SYSTEM_DIALOGEND, 7, 5, 0, 1}));
  EXPECT_FALSE(RunningDocsWatcher::IsTrigger({EVENT_OBJECT_SHOW, 7, 0, 0, 1}));
}

TEST_F(RunningDocsTest, ScanComesOneSecondAfterTheBurstCalmsDown) {
  docs_.Open("/d/a.txt");
  watcher_.Trigger();
  Advance(900ms);
  EXPECT_EQ(watcher_.Scans(), 0u);
  watcher_.Trigger();  // replaces the due time
  Advance(900ms);
  EXPECT_EQ(watcher_.Scans(), 0u);
  Advance(200ms);
  EXPECT_EQ(watcher_.Scans(), 1u);
  ASSERT_EQ(events_.opened.size(), 1u);
  EXPECT_EQ(events_.opened[0].first, DocumentKey("/d/a.txt"));
  // The burst's 5 s limit still fires once; the document is not new again.
  Advance(4000ms);
  EXPECT_EQ(watcher_.Scans(), 2u);
  EXPECT_EQ(events_.opened.size(), 1u);
  Advance(10s);  // nothing pending: no more scans
  EXPECT_EQ(watcher_.Scans(), 2u);
}

TEST_F(RunningDocsTest, AnEndlessBurstIsScannedEveryFiveSeconds) {
  for (int i = 0; i < 120; ++i) {  // a trigger every 100 ms for 12 s
    watcher_.Trigger();
    Advance(100ms);
  }
  // Scans at about 5 s and 10 s, then 1 s after the end.
  EXPECT_EQ(watcher_.Scans(), 2u);
  Advance(1100ms);
  EXPECT_EQ(watcher_.Scans(), 3u);
}

TEST_F(RunningDocsTest, InstancesOpenAndCloseOneByOne) {
  const auto a1 = docs_.Open("/d/a.txt");
  const auto a2 = docs_.Open("/d/a.txt");
  docs_.Open("/d/b.txt");
  watcher_.Scan();
  ASSERT_EQ(events_.opened.size(), 3u);  // two instances of a, one of b
  watcher_.Scan();
  EXPECT_EQ(events_.opened.size(), 3u);
  docs_.Close(a1);
  watcher_.Scan();
  ASSERT_EQ(events_.closed.size(), 1u);
  EXPECT_EQ(events_.closed[0], std::make_pair(DocumentKey("/d/a.txt"), 1u));
  docs_.Close(a2);
  watcher_.Scan();
  ASSERT_EQ(events_.closed.size(), 2u);
  EXPECT_EQ(events_.closed[1].second, 0u);
  // Gone from the table: opening it again is new.
  docs_.Open("/d/a.txt");
  watcher_.Scan();
  EXPECT_EQ(events_.opened.size(), 4u);
}

TEST_F(RunningDocsTest, FailedScanKeepsTheCountsSoClosesAreStillSeen) {
  const auto a = docs_.Open("/d/a.txt");
  watcher_.Scan();
  docs_.Close(a);
  docs_.FailNext(E_FAIL);
  watcher_.Scan();  // fails while the document closes
  EXPECT_TRUE(events_.closed.empty());
  EXPECT_EQ(tc_.EventIds(), std::vector<std::uint32_t>{kEvRunningDocsScan});
  watcher_.Scan();  // the next good scan reports the close, and nothing opens twice
  ASSERT_EQ(events_.closed.size(), 1u);
  EXPECT_EQ(events_.closed[0].second, 0u);
  EXPECT_EQ(events_.opened.size(), 1u);
  EXPECT_EQ(watcher_.ConsecutiveFailures(), 0u);
}

TEST_F(RunningDocsTest, TenFailuresInARowAreFatal) {
  docs_.FailNext(E_FAIL, 9);
  for (int i = 0; i < 9; ++i) watcher_.Scan();
  watcher_.Scan();  // a good one resets the count
  docs_.FailNext(E_FAIL, 10);
  for (int i = 0; i < 9; ++i) watcher_.Scan();
  EXPECT_EQ(events_.fatal, 0);
  watcher_.Trigger();
  Advance(1100ms);
  EXPECT_EQ(events_.fatal, 1);
  EXPECT_EQ(tc_.EventIds().back(), kEvRunningDocsFatal);
  EXPECT_EQ(watcher_.RunReady(), Step::Finished);
}

TEST(RecentLinkNameTest, OnlyDocumentLinks) {
  EXPECT_TRUE(IsDocumentLinkName("notes.txt.lnk"));
  EXPECT_FALSE(IsDocumentLinkName("notes.lnk"));
  EXPECT_FALSE(IsDocumentLinkName(".lnk"));
  EXPECT_FALSE(IsDocumentLinkName(".bashrc.lnk"));
  EXPECT_TRUE(IsDocumentLinkName("a.tar.gz.lnk"));
  EXPECT_FALSE(IsDocumentLinkName(""));
  EXPECT_TRUE(IsDocumentLinkName(std::string(NAME_MAX - 4, 'n') + ".txt.lnk"));
  EXPECT_FALSE(IsDocumentLinkName(std::string(NAME_MAX, 'n') + ".txt.lnk"));
}

class RecentDocsTest : public ::testing::Test {
 protected:
  void Advance(std::chrono::milliseconds d) {
    for (auto t = 0ms; t <= d; t += 100ms) {
      Step s;
      while ((s = watcher_.RunReady()) == Step::Worked) {
      }
      if (s == Step::Finished) return;
      tc_.clock().Advance(100ms);
    }
  }
  TestContext tc_;
  SimRecentFolder folder_;
  Recorded events_;
  RecentDocsWatcher watcher_{tc_.ctx(), folder_, events_};
};

TEST_F(RecentDocsTest, DocumentLinksOpenTheirTargets) {
  Advance(0ms);
  ASSERT_TRUE(watcher_.IsWatching());
  folder_.WriteLink("notes.lnk", "/home/u/notes");  // one extension: ignored
  folder_.WriteLink("notes.txt.lnk", "/home/u/notes.txt");
  folder_.WriteLink("gone.txt.lnk", std::nullopt);  // does not resolve
  folder_.WriteLink("old.txt.lnk", "/home/u/old.txt", kRecentActionRemoved);
  folder_.WriteLink("again.txt.lnk", "/home/u/again.txt", kRecentActionModified);
  Advance(0ms);
  ASSERT_EQ(events_.opened.size(), 2u);
  EXPECT_EQ(events_.opened[0], std::make_pair(0u, std::string("/home/u/notes.txt")));
  EXPECT_EQ(events_.opened[1].second, "/home/u/again.txt");
  folder_.RaiseEmpty();
  Advance(0ms);
  EXPECT_EQ(tc_.EventIds(), std::vector<std::uint32_t>{kEvRecentEmpty});
}

TEST_F(RecentDocsTest, OpeningRetriesFiveTimesASecondApart) {
  folder_.FailOpens(E_ACCESSDENIED, 4);
  Advance(3500ms);
  EXPECT_EQ(folder_.OpenAttempts(), 4u);
  EXPECT_FALSE(watcher_.IsWatching());
  Advance(600ms);
  EXPECT_TRUE(watcher_.IsWatching());
  EXPECT_EQ(folder_.OpenAttempts(), 5u);
}

TEST_F(RecentDocsTest, GivesUpAfterFiveFailedOpens) {
  folder_.FailOpens(E_ACCESSDENIED, 5);
  Advance(10s);
  EXPECT_EQ(folder_.OpenAttempts(), 5u);
  EXPECT_EQ(watcher_.RunReady(), Step::Finished);
  const auto ids = tc_.EventIds();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), kEvRecentOpen), 5);
  EXPECT_EQ(ids.back(), kEvRecentGaveUp);
}

TEST_F(RecentDocsTest, FailedReadsReopenAndFiveInARowEnd) {
  Advance(0ms);
  folder_.FailReads(E_FAIL, 2);
  Advance(0ms);
  EXPECT_TRUE(watcher_.IsWatching());  // reopened after each failure
  EXPECT_EQ(folder_.OpenAttempts(), 3u);
  folder_.WriteLink("a.txt.lnk", "/a.txt");
  Advance(0ms);
  EXPECT_EQ(events_.opened.size(), 1u);
  folder_.FailReads(E_FAIL, 5);
  Advance(0ms);
  EXPECT_EQ(watcher_.RunReady(), Step::Finished);
  EXPECT_EQ(tc_.EventIds().back(), kEvRecentGaveUp);
}

TEST(PopupTrackerTest, HidesOfTheLastFourPopupsAreDropped) {
  SimDesktop desk;
  PopupTracker popups(desk);
  auto make = [&](DesktopWindow id, std::uint32_t style) {
    WindowState s;
    s.id = id;
    s.style = style;
    s.rect = {0, 0, 10, 10};
    desk.CreateWindow(s);
    popups.Pass({EVENT_OBJECT_CREATE, id, 0, 0, 1});
  };
  const WinEvent hide1{EVENT_OBJECT_HIDE, 1, 0, 0, 1};
  make(1, WS_POPUP);
  make(2, WS_POPUP | WS_DLGFRAME);  // a dialog: not tracked
  EXPECT_FALSE(popups.Pass(hide1));
  EXPECT_TRUE(popups.Pass({EVENT_OBJECT_HIDE, 2, 0, 0, 1}));
  for (DesktopWindow id = 3; id <= 6; ++id) make(id, WS_POPUP);  // pushes 1 out
  EXPECT_TRUE(popups.Pass(hide1));
  EXPECT_FALSE(popups.Pass({EVENT_OBJECT_HIDE, 3, 0, 0, 1}));
  EXPECT_TRUE(popups.Pass({EVENT_OBJECT_DESTROY, 3, 0, 0, 1}));  // handled as usual
  EXPECT_FALSE(popups.Listed(3));
  EXPECT_TRUE(popups.Pass({EVENT_OBJECT_HIDE, 3, 0, 0, 1}));
}

// A sink like the tracer's: detections and document closes are recorded.
struct TestSink : DetectionSink, DocumentSink {
  struct Item {
    DesktopWindow window;
    std::int32_t kind;
    std::uint32_t key;
    std::string item;
  };
  std::vector<Item> items;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> closed;
  void ItemDetected(DesktopWindow w, std::int32_t kind, std::uint32_t key, std::string item) override {
    items.push_back({w, kind, key, std::move(item)});
  }
  void DocumentClosed(std::uint32_t key, std::uint32_t remaining) override {
    closed.emplace_back(key, remaining);
  }
  void DetectorFailed() override {}
};

TEST(DesktopItemDetectorTest, RunningDocumentOpensOnTheWindowThatNamesIt) {
  TestContext tc;
  TempDir dir;
  const std::string path = (dir.path() / "report.txt").string();
  std::ofstream(path) << "x";
  SimDesktop desk;
  SimRunningDocuments docs;
  SimRecentFolder recent;
  DesktopItemDetector det(tc.ctx(), desk, {&docs, &recent, nullptr});
  TestSink sink;
  det.Attach(sink);

  WindowState s;
  s.title = "report.txt - Editor";
  s.style = WS_CAPTION;
  s.rect = {0, 0, 100, 100};
  const DesktopWindow w = desk.CreateWindow(s);
  s.title = "Terminal";
  desk.CreateWindow(s);
  const auto i1 = docs.Open(path);
  docs.Open((dir.path() / "missing.txt").string());  // does not exist: no visit
  det.OnWindowEvent({EVENT_OBJECT_CREATE, w, 0, 0, 1}, sink);
  auto* watcher = det.runningWatcher();
  tc.clock().Advance(1100ms);
  while (watcher->RunReady() == Step::Worked) {
  }
  ASSERT_EQ(sink.items.size(), 1u);
  EXPECT_EQ(sink.items[0].window, w);
  EXPECT_EQ(sink.items[0].kind, kKindDocument);
  EXPECT_EQ(sink.items[0].key, DocumentKey(path));
  EXPECT_EQ(sink.items[0].item, path);

  docs.Close(i1);
  watcher->Scan();
  ASSERT_EQ(sink.closed.size(), 1u);
  EXPECT_EQ(sink.closed[0], std::make_pair(DocumentKey(path), 0u));
  EXPECT_EQ(det.ScoreTitle("report.txt - Editor", path), 2);

  // A Recent-folder document, key 0.
  const std::string other = (dir.path() / "plan.odt").string();
  std::ofstream(other) << "y";
  s.title = other;
  const DesktopWindow w2 = desk.CreateWindow(s);
  auto* rw = det.recentWatcher();
  while (rw->RunReady() == Step::Worked) {
  }
  recent.WriteLink("plan.odt.lnk", other);
  while (rw->RunReady() == Step::Worked) {
  }
  ASSERT_EQ(sink.items.size(), 2u);
  EXPECT_EQ(sink.items[1].window, w2);
  EXPECT_EQ(sink.items[1].key, 0u);
}

TEST(DesktopItemDetectorTest, OverlongPathIsLoggedNotMatched) {
  TestContext tc;
  SimDesktop desk;
  SimRunningDocuments docs;
  DesktopItemDetector det(tc.ctx(), desk, {&docs, nullptr, nullptr});
  TestSink sink;
  det.Attach(sink);
  docs.Open("/" + std::string(PATH_MAX + 10, 'x'));
  det.runningWatcher()->Scan();
  EXPECT_TRUE(sink.items.empty());
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEvTitlePattern});
}

TEST(DesktopItemDetectorTest, TheLinuxDetectorDropsHidesOfRecentPopups) {
  TestContext tc;
  TempDir recent;
  SimDesktop desk;
  auto det = MakeLinuxItemDetector(tc.ctx(), desk, recent.path());
  WindowState s;
  s.style = WS_POPUP;
  s.rect = {0, 0, 10, 10};
  const DesktopWindow menu = desk.CreateWindow(s);
  s.style = WS_CAPTION;
  const DesktopWindow editor = desk.CreateWindow(s);
  EXPECT_TRUE(det->PassEvent({EVENT_OBJECT_SHOW, menu, 0, 0, 1}));
  EXPECT_TRUE(det->PassEvent({EVENT_OBJECT_SHOW, editor, 0, 0, 1}));
  EXPECT_FALSE(det->PassEvent({EVENT_OBJECT_HIDE, menu, 0, 0, 1}));
  EXPECT_TRUE(det->PassEvent({EVENT_OBJECT_HIDE, editor, 0, 0, 1}));
}

// Command lines by process, as a test sets them.
struct FakeCommandLines : WindowDocuments {
  std::map<std::int32_t, std::vector<std::string>> files;
  HRESULT FilesNamedBy(std::int32_t pid, std::vector<std::string>& out) override {
    out = files[pid];
    return S_OK;
  }
};

TEST(DesktopItemDetectorTest, AFileNamedOnlyByTheCommandLineOpensOnceTheTitleNamesIt) {
  TestContext tc;
  TempDir dir;
  const std::string path = (dir.path() / "notes.txt").string();
  std::ofstream(path) << "draft";
  SimDesktop desk;
  FakeCommandLines lines;
  DesktopItemDetector det(tc.ctx(), desk, {nullptr, nullptr, nullptr, &lines});
  TestSink sink;
  det.Attach(sink);
  auto* worker = det.windowDocsWorker();
  ASSERT_NE(worker, nullptr);
  auto settle = [&] {
    while (worker->RunReady() == Step::Worked) {
    }
  };

  // A terminal whose shell started the editor: its title does not name the file yet.
  WindowState s;
  s.title = "xterm";
  s.style = WS_CAPTION;
  s.rect = {0, 0, 100, 100};
  s.pid = 77;
  const DesktopWindow term = desk.CreateWindow(s);
  lines.files[77] = {path, (dir.path() / "missing.txt").string()};
  det.OnWindowEvent({EVENT_OBJECT_CREATE, term, 0, 0, 1}, sink);
  settle();
  EXPECT_TRUE(sink.items.empty());

  // The editor sets the title: the visit opens with the title matching's own score.
  desk.SetTitle(term, "notes.txt (" + dir.path().string() + ") - VIM");
  det.OnWindowEvent({EVENT_OBJECT_NAMECHANGE, term, 0, 0, 1}, sink);
  det.OnWindowEvent({EVENT_SYSTEM_FOREGROUND, term, 0, 0, 1}, sink);  // queued once
  settle();
  ASSERT_EQ(sink.items.size(), 1u);
  EXPECT_EQ(sink.items[0].window, term);
  EXPECT_EQ(sink.items[0].kind, kKindDocument);
  EXPECT_EQ(sink.items[0].key, 0u);
  EXPECT_EQ(sink.items[0].item, path);

  // Further title changes while the editor runs offer nothing new.
  det.OnWindowEvent({EVENT_OBJECT_NAMECHANGE, term, 0, 0, 1}, sink);
  settle();
  EXPECT_EQ(sink.items.size(), 1u);

  // The editor quits and is started again on the same file: a new visit.
  lines.files[77].clear();
  desk.SetTitle(term, "xterm");
  det.OnWindowEvent({EVENT_OBJECT_NAMECHANGE, term, 0, 0, 1}, sink);
  settle();
  lines.files[77] = {path};
  desk.SetTitle(term, "notes.txt - VIM");
  det.OnWindowEvent({EVENT_OBJECT_NAMECHANGE, term, 0, 0, 1}, sink);
  settle();
  EXPECT_EQ(sink.items.size(), 2u);

  // Child windows and pop-ups are not read; stopping ends the worker.
  lines.files[77] = {path};
  det.OnWindowEvent({EVENT_OBJECT_DESTROY, term, 0, 0, 1}, sink);
  desk.DestroyWindow(term);
  s.style = WS_POPUP;
  s.title = "notes.txt";
  const DesktopWindow menu = desk.CreateWindow(s);
  det.OnWindowEvent({EVENT_OBJECT_SHOW, menu, 0, 0, 1}, sink);
  s.style = WS_CAPTION;
  s.parent = desk.CreateWindow(s);  // shown in a frame of its own, a child names it too
  const DesktopWindow child = desk.CreateWindow(s);
  det.OnWindowEvent({EVENT_OBJECT_NAMECHANGE, child, 0, 0, 1}, sink);
  settle();
  EXPECT_EQ(sink.items.size(), 2u);
  det.RequestStop();
  EXPECT_EQ(worker->RunReady(), Step::Finished);
}

}  // namespace
}  // namespace qv::tracer
