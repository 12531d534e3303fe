// The visit table: the recording minimums, precedence and take-over, ends and updates, and
// where finished visits go.
#include "tracer/visit_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "context/test_context.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "platform/desktop/sim_desktop.h"
#include "tracer/accounting.h"
#include "tracer/item_detector.h"
#include "tracer/tracer_constants.h"

namespace qv::tracer {
namespace {

using namespace std::chrono_literals;
using hooks::KIV_VF_NOJOURNAL;
using hooks::KIV_VF_NORANK;
using hooks::KIV_VF_NOTRACK;
using hooks::KIV_VF_TRACK;

class KeepingRecorders final : public VisitRecorders {
 public:
  HRESULT Queue(RecorderKind kind, VisitPtr visit) override {
    got.emplace_back(kind, *visit);
    return result;
  }
  std::vector<std::pair<RecorderKind, Visit>> got;
  HRESULT result = S_OK;
};

class VisitTableTest : public ::testing::Test {
 protected:
  VisitTableTest() {
    for (platform::DesktopWindow w : {1, 2, 3}) Window(w, 100);
    platform::WindowState child;
    child.id = 11;
    child.parent = 1;
    child.threadId = 100;
    child.rect = {0, 0, 10, 10};
    desktop_.CreateWindow(child);
    Window(50, 200);  // another thread
  }
  void Window(platform::DesktopWindow id, std::uint32_t thread, std::string title = "Editor") {
    platform::WindowState s;
    s.id = id;
    s.threadId = thread;
    s.title = std::move(title);
    s.rect = {0, 0, 100, 100};
    desktop_.CreateWindow(s);
  }
  // Ages every open visit by `d` and gives each `working` of working time.
  void Work(std::chrono::milliseconds d, std::uint64_t working) {
    table_.ForEachShared([&](Visit& v) { v.workingTime = working; });
    tc_.clock().Advance(d);
  }
  std::vector<std::string> Recorded() const {
    std::vector<std::string> out;
    for (const auto& [kind, v] : recorders_.got) out.push_back(v.identifier);
    return out;
  }

  TestContext tc_;
  platform::SimDesktop desktop_;
  KeepingRecorders recorders_;
  TitlePathDetector detector_{desktop_};
  int opened_ = 0;
  VisitTable table_{VisitTableDeps{
      tc_.ctx(), desktop_, recorders_,
      [this](std::string_view t, std::string_view p) { return detector_.ScoreTitle(t, p); },
      [this] { ++opened_; }}};
};

TEST_F(VisitTableTest, RecordingMinimums) {
  const std::uint64_t second = kTicksPerSecond;
  ASSERT_EQ(table_.Open(1, 0, 0, "http://a/", KIV_VF_TRACK, ""), S_OK);
  Work(900ms, 100 * second);  // long working time, too short a visit
  EXPECT_EQ(table_.Close(1, 0), S_FALSE);

  ASSERT_EQ(table_.Open(1, 0, 0, "http://b/", KIV_VF_TRACK, ""), S_OK);
  Work(1000ms, 3'999'999);  // 0.39.. s: one unit
  EXPECT_EQ(table_.Close(1, 0), S_FALSE);

  ASSERT_EQ(table_.Open(1, 0, 0, "http://c/", KIV_VF_TRACK, ""), S_OK);
  Work(1000ms, 4'000'000);  // 0.4 s and 1 s: recorded
  EXPECT_EQ(table_.Close(1, 0), S_OK);

  ASSERT_EQ(table_.Open(1, 0, 0, "http://d/", KIV_VF_NOTRACK, ""), S_OK);
  Work(5s, 4 * second);
  EXPECT_EQ(table_.Close(1, 0), S_FALSE);

  ASSERT_EQ(table_.Open(1, 0, 0, "http://e/", KIV_VF_TRACK | KIV_VF_NORANK | KIV_VF_NOJOURNAL, ""),
            S_OK);
  Work(5s, 4 * second);
  EXPECT_EQ(table_.Close(1, 0), S_FALSE);
  EXPECT_EQ(Recorded(), std::vector<std::string>{"http://c/"});
}

TEST_F(VisitTableTest, DurationFollowsTheMonotonicClockNotWallSteps) {
  ASSERT_EQ(table_.Open(1, 0, 0, "http://a/", KIV_VF_TRACK, ""), S_OK);
  table_.ForEachShared([](Visit& v) { v.workingTime = 10 * kTicksPerSecond; });
  tc_.clock().SetNow(tc_.clock().Now() + 3600 * kTicksPerSecond);  // the wall clock jumps
  EXPECT_EQ(table_.Close(1, 0), S_FALSE);
}

TEST_F(VisitTableTest, RejectsBadStarts) {
  EXPECT_EQ(table_.Open(99, 0, 0, "http://a/", KIV_VF_TRACK, ""), E_INVALIDARG);  // no window
  EXPECT_EQ(table_.Open(1, 0, 0, "", KIV_VF_TRACK, ""), E_INVALIDARG);
  EXPECT_EQ(table_.Open(1, 0, 0, "http://a/", KIV_VF_NORANK, ""), E_INVALIDARG);  // nibble 0
  EXPECT_EQ(table_.Open(1, 0, 0, "notes.txt", KIV_VF_TRACK, ""), E_INVALIDARG);  // relative
  EXPECT_EQ(table_.Open(1, 0, 0, "about:blank", KIV_VF_TRACK, ""), S_FALSE);
  EXPECT_EQ(table_.Size(), 0u);
  EXPECT_EQ(tc_.EventIds(), std::vector<std::uint32_t>(4, kEvVisitStart));
}

TEST_F(VisitTableTest, ReportedVisitReplacesDocumentButNotTheReverse) {
  ASSERT_EQ(table_.Open(1, kKindDocument, 0, "/home/u/report.odt", KIV_VF_TRACK, ""), S_OK);
  Work(2s, kTicksPerSecond);
  ASSERT_EQ(table_.Open(1, kKindReported, 0, "http://page/", KIV_VF_TRACK, ""), S_OK);
  ASSERT_EQ(recorders_.got.size(), 1u);  // the document visit was finished and recorded
  EXPECT_EQ(recorders_.got[0].first, RecorderKind::File);
  EXPECT_EQ(recorders_.got[0].second.identifier, "file:///home/u/report.odt");
  EXPECT_EQ(table_.Open(1, kKindDocument, 0, "/home/u/other.odt", KIV_VF_TRACK, ""), S_FALSE);
  EXPECT_EQ(table_.Open(1, kKindBrowserPane, 0, "http://pane/", KIV_VF_TRACK, ""), S_FALSE);
  ASSERT_EQ(table_.Snapshot().size(), 1u);
  EXPECT_EQ(table_.Snapshot()[0].identifier, "http://page/");
}

TEST_F(VisitTableTest, BetterTitleMatchWinsBetweenDocuments) {
  desktop_.SetTitle(2, "/home/u/b/notes.txt - Editor");
  ASSERT_EQ(table_.Open(2, kKindDocument, 0, "/home/u/a/notes.txt", KIV_VF_TRACK, ""), S_OK);
  // The name matches both; the full path only the second.
  ASSERT_EQ(table_.Open(2, kKindDocument, 0, "/home/u/b/notes.txt", KIV_VF_TRACK, ""), S_OK);
  EXPECT_EQ(table_.Snapshot().at(0).identifier, "file:///home/u/b/notes.txt");
  EXPECT_EQ(table_.Open(2, kKindDocument, 0, "/home/u/a/notes.txt", KIV_VF_TRACK, ""), S_FALSE);
  EXPECT_EQ(table_.Size(), 1u);
}

TEST_F(VisitTableTest, SameItemInChildWindowIsTakenOver) {
  ASSERT_EQ(table_.Open(1, kKindDocument, 7, "/home/u/r.odt", KIV_VF_NOTRACK, "old frame"), S_OK);
  tc_.clock().Advance(5s);
  ASSERT_EQ(table_.Open(11, kKindReported, 0, "file:///home/u/r.odt", KIV_VF_TRACK | KIV_VF_NORANK,
                        ""),
            S_OK);
  const auto open = table_.Snapshot();
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].window, 11u);
  EXPECT_EQ(open[0].kind, kKindReported);
  EXPECT_EQ(open[0].documentKey, 7u);
  EXPECT_TRUE(open[0].tracked);
  EXPECT_EQ(open[0].recordFlags, KIV_VF_NORANK);
  EXPECT_EQ(open[0].frameData, "");
  EXPECT_EQ(open[0].trackingStart, tc_.clock().Now());
  EXPECT_LT(open[0].start, open[0].trackingStart);
  EXPECT_TRUE(recorders_.got.empty());
  // A detected document never takes over a reported visit of the same item.
  EXPECT_EQ(table_.Open(11, kKindDocument, 0, "/home/u/r.odt", KIV_VF_TRACK, ""), S_FALSE);
}

TEST_F(VisitTableTest, FilePathsCompareWithCase) {
  ASSERT_EQ(table_.Open(1, 0, 0, "/home/u/Report.txt", KIV_VF_TRACK, ""), S_OK);
  Work(2s, kTicksPerSecond);
  // A different file on Linux: the first visit is replaced and recorded, not taken over.
  ASSERT_EQ(table_.Open(1, 0, 0, "/home/u/report.txt", KIV_VF_TRACK, ""), S_OK);
  EXPECT_EQ(Recorded(), std::vector<std::string>{"file:///home/u/Report.txt"});
  // Web addresses still compare without case.
  ASSERT_EQ(table_.Open(2, 0, 0, "http://Example.com/", KIV_VF_TRACK, ""), S_OK);
  ASSERT_EQ(table_.Open(2, 0, 0, "HTTP://example.COM/", KIV_VF_TRACK, ""), S_OK);
  EXPECT_EQ(table_.Size(), 2u);
}

TEST_F(VisitTableTest, VisitsOfOtherThreadsDoNotInteract) {
  ASSERT_EQ(table_.Open(1, 0, 0, "http://a/", KIV_VF_TRACK, ""), S_OK);
  ASSERT_EQ(table_.Open(50, 0, 0, "http://a/", KIV_VF_TRACK, ""), S_OK);
  EXPECT_EQ(table_.Size(), 2u);
}

TEST_F(VisitTableTest, EndWithNewIdentifierAndPath) {
  ASSERT_EQ(table_.Open(1, 0, 0, "http://a/", KIV_VF_TRACK, ""), S_OK);
  ASSERT_EQ(table_.Open(2, 0, 0, "http://b/", KIV_VF_TRACK, ""), S_OK);
  ASSERT_EQ(table_.Open(3, 0, 0, "http://c/", KIV_VF_TRACK, ""), S_OK);
  Work(2s, kTicksPerSecond);
  EXPECT_EQ(table_.Close(1, 0, VisitChange{"http://renamed/", 0, "http://renamed/\nframes"}),
            S_OK);
  // A plain path at the end becomes a file URL, as at open, and goes to the file recorder.
  EXPECT_EQ(table_.Close(2, 0, VisitChange{"/home/u/saved as.txt", 0, ""}), S_OK);
  // NOTRACK at the end: not recorded.
  EXPECT_EQ(table_.Close(3, 0, VisitChange{"", KIV_VF_NOTRACK, ""}), S_FALSE);
  ASSERT_EQ(recorders_.got.size(), 2u);
  EXPECT_EQ(recorders_.got[0].second.identifier, "http://renamed/");
  EXPECT_EQ(recorders_.got[0].second.frameData, "http://renamed/\nframes");
  EXPECT_EQ(recorders_.got[1].first, RecorderKind::File);
  EXPECT_EQ(recorders_.got[1].second.identifier, "file:///home/u/saved%20as.txt");
  EXPECT_EQ(table_.Close(1, 0), S_FALSE);  // nothing left to close
}

TEST_F(VisitTableTest, UpdateAndMinimumKindOnClose) {
  ASSERT_EQ(table_.Open(1, kKindBrowserPane, 0, "http://a/", KIV_VF_TRACK, ""), S_OK);
  EXPECT_EQ(table_.Change(1, VisitChange{"http://b/", KIV_VF_NOJOURNAL, ""}), S_OK);
  EXPECT_EQ(table_.Change(2, VisitChange{"http://x/", 0, ""}), S_FALSE);
  auto v = table_.Snapshot().at(0);
  EXPECT_EQ(v.identifier, "http://b/");
  EXPECT_TRUE(v.tracked);  // a zero nibble leaves tracking as it was
  EXPECT_EQ(v.recordFlags, KIV_VF_NOJOURNAL);
  EXPECT_EQ(table_.Close(1, kKindDocument), S_FALSE);  // kind 1 < minimum 2
  EXPECT_EQ(table_.Size(), 1u);
  Work(2s, kTicksPerSecond);
  EXPECT_EQ(table_.Close(1, kKindBrowserPane), S_OK);
}

TEST_F(VisitTableTest, MailVisitsCloseTogetherAndRouting) {
  ASSERT_EQ(table_.Open(1, 0, 0, "outlook:0000AB", KIV_VF_TRACK, ""), S_OK);
  ASSERT_EQ(table_.Open(2, 0, 0, "http://web/", KIV_VF_TRACK, ""), S_OK);
  ASSERT_EQ(table_.Open(3, 0, 0, "OUTLOOK:0000CD", KIV_VF_TRACK, ""), S_OK);
  Work(2s, kTicksPerSecond);
  EXPECT_EQ(table_.CloseMailVisits(), S_OK);
  ASSERT_EQ(recorders_.got.size(), 2u);
  EXPECT_EQ(recorders_.got[0].first, RecorderKind::Mail);
  EXPECT_EQ(recorders_.got[0].second.identifier, "outlook:0000AB");
  EXPECT_EQ(recorders_.got[1].second.identifier, "OUTLOOK:0000CD");
  EXPECT_EQ(table_.Size(), 1u);

  Visit v;
  v.identifier = "file:///a";
  EXPECT_EQ(ChooseRecorder(v), RecorderKind::File);
  v.identifier = "https://a/";
  EXPECT_EQ(ChooseRecorder(v), RecorderKind::Web);
  v.identifier = "Outlook:x";
  EXPECT_EQ(ChooseRecorder(v), RecorderKind::Mail);
  v.kind = kKindDocument;
  EXPECT_EQ(ChooseRecorder(v), RecorderKind::File);
  v.kind = 0;
  v.identifier = "no scheme";
  EXPECT_EQ(ChooseRecorder(v), std::nullopt);
  v.identifier = "";
  EXPECT_EQ(ChooseRecorder(v), std::nullopt);
}

TEST_F(VisitTableTest, QueueFailureIsLogged) {
  recorders_.result = kRecorderQueueFull;
  ASSERT_EQ(table_.Open(1, 0, 0, "http://a/", KIV_VF_TRACK, ""), S_OK);
  Work(2s, kTicksPerSecond);
  EXPECT_EQ(table_.Close(1, 0), kRecorderQueueFull);
  const auto events = tc_.eventLog().ReadAll();
  ASSERT_GE(events.size(), 1u);
  EXPECT_EQ(events[0].eventId, kEvVisitQueue);
  EXPECT_EQ(events[0].strings.at(0), "http://a/");
}

TEST_F(VisitTableTest, CloseAllRecordsOrDiscards) {
  for (platform::DesktopWindow w : {1, 2, 3}) {
    ASSERT_EQ(table_.Open(w, 0, 0, "http://x/" + std::to_string(w), KIV_VF_TRACK, ""), S_OK);
  }
  Work(2s, kTicksPerSecond);
  EXPECT_EQ(table_.CloseAll(true), S_OK);
  EXPECT_TRUE(recorders_.got.empty());
  EXPECT_EQ(table_.Size(), 0u);
  for (platform::DesktopWindow w : {1, 2, 3}) {
    ASSERT_EQ(table_.Open(w, 0, 0, "http://x/" + std::to_string(w), KIV_VF_TRACK, ""), S_OK);
  }
  Work(2s, kTicksPerSecond);
  EXPECT_EQ(table_.CloseAll(false), S_OK);
  EXPECT_EQ(Recorded(), (std::vector<std::string>{"http://x/1", "http://x/2", "http://x/3"}));
  EXPECT_EQ(opened_, 6);
}

// The accounting pass credits both times of a visit on its own thread with the table held
// shared; a snapshot taken meanwhile must see both or neither (and ThreadSanitizer must find
// no race between the two).
TEST_F(VisitTableTest, SnapshotsWhileTheAccountingPassRuns) {
  ASSERT_EQ(table_.Open(1, 0, 0, "http://a/", KIV_VF_TRACK, ""), S_OK);
  ASSERT_EQ(table_.Open(2, 0, 0, "http://b/", KIV_VF_TRACK, ""), S_OK);
  InputBuckets buckets;
  TracerFlags flags;  // paused: no visible share, so input is all that is credited
  AccountingPass pass(table_, buckets, desktop_, flags, tc_.clock(), [](platform::DesktopWindow) {});
  constexpr int kPasses = 2000;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    auto yes = [](platform::DesktopWindow) { return true; };
    for (int i = 1; i <= kPasses; ++i) {
      buckets.Credit(1 + i % 2, std::int64_t{i} * kTicksPerSecond, yes);
      pass.Run();
    }
    done = true;
  });
  std::uint64_t seen = 0;
  int torn = 0;
  for (int i = 0; !done || i == 0; ++i) {
    for (const Visit& v : table_.Snapshot()) {
      torn += v.workingTime != v.activeTime;
      seen = std::max<std::uint64_t>(seen, v.workingTime);
    }
  }
  worker.join();
  EXPECT_EQ(torn, 0);
  std::uint64_t total = 0;
  for (const Visit& v : table_.Snapshot()) {
    EXPECT_EQ(v.workingTime, v.activeTime);
    total += v.workingTime;
  }
  EXPECT_GE(total, seen);
  EXPECT_GT(total, 0u);
}

}  // namespace
}  // namespace qv::tracer
