#include "client/journal_view.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "context/test_context.h"
#include "platform/messaging/inproc_transport.h"
#include "provider/journal/journal.h"
#include "provider/journal/journal_notification.h"
#include "provider/journal/journal_paths.h"
#include "provider/journal/window_notifier.h"

namespace qv::client {
namespace {

namespace jn = qv::journal;

// The journal in one "process" and the view in another, on one in-memory transport; local
// time is UTC so that days are predictable.
class JournalViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) oldTz_ = tz;
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    transport_ = std::make_shared<platform::InProcessTransport>(clock_);
    station_ = std::make_unique<platform::WindowStation>(transport_, clock_);
    journal_ = std::make_unique<jn::Journal>(
        test_.ctx(), std::make_shared<jn::WindowJournalNotifier>(
                         std::make_shared<platform::WindowStation>(transport_, clock_)));
    loopThread_ = std::thread([this] { loop_.Run(); });
  }
  void TearDown() override {
    listener_.reset();
    loop_.PostQuit(0);
    loopThread_.join();
    if (oldTz_) ::setenv("TZ", oldTz_->c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
  }

  // Logs a visit to `url` at `iso` (UTC) and returns its marker's path.
  std::string Log(const std::string& url, const char* iso) {
    jn::EntryFields f;
    f.url = url;
    f.start = *ParseIsoDate(iso);
    f.end = f.start + 1.0 / 24;
    f.workingTime = 60;
    std::string marker;
    EXPECT_EQ(journal_->LogEntry(f, &marker), S_OK);
    return marker;
  }
  static std::vector<std::string> Urls(const JournalViewModel& m) {
    std::vector<std::string> out;
    for (const auto& e : m.entries()) out.push_back(e.url);
    return out;
  }

  SystemClock clock_;
  TestContext test_;
  std::optional<std::string> oldTz_;
  std::shared_ptr<platform::Transport> transport_;
  std::unique_ptr<platform::WindowStation> station_;
  std::unique_ptr<jn::Journal> journal_;
  platform::MessageLoop loop_{clock_};
  std::thread loopThread_;
  JournalViewModel model_{jn::JournalRoot(test_.root())};
  std::unique_ptr<JournalViewListener> listener_;
};

using Strings = std::vector<std::string>;

TEST_F(JournalViewTest, ADayListsItsEntriesNewestFirstAndADayWithoutAFileIsEmpty) {
  Log("/a", "2005-07-26T09:00:00Z");
  Log("/b", "2005-07-26T11:00:00Z");
  Log("/other day", "2005-07-27T10:00:00Z");
  EXPECT_EQ(model_.ShowDay({2005, 7, 26}), S_OK);
  EXPECT_EQ(model_.dayKey(), "2005\\7\\26");
  EXPECT_EQ(Urls(model_), (Strings{"/b", "/a"}));
  EXPECT_EQ(model_.ShowDay({2004, 1, 1}), S_OK);
  EXPECT_TRUE(model_.entries().empty());
}

TEST_F(JournalViewTest, AnEntryWhoseMarkerWasDeletedDoesNotComeBack) {
  const auto gone = Log("/gone", "2005-07-26T09:00:00Z");
  Log("/kept", "2005-07-26T10:00:00Z");
  ASSERT_TRUE(std::filesystem::remove(gone));
  EXPECT_EQ(model_.ShowDay({2005, 7, 26}), S_OK);
  EXPECT_EQ(Urls(model_), (Strings{"/kept"}));
}

TEST_F(JournalViewTest, NewEntriesOfTheShownDayAppearAndOthersDoNot) {
  ASSERT_EQ(JournalViewListener::Create(*station_, loop_, model_, listener_), S_OK);
  ASSERT_EQ(listener_->ShowDay({2005, 7, 26}), S_OK);
  EXPECT_TRUE(station_->FindMessageWindow(jn::kNotificationWindowClass, "2005\\7\\26"));
  // The journal's sends are synchronous: the entry is listed when LogEntry returns.
  Log("/live", "2005-07-26T12:00:00Z");
  Log("/tomorrow", "2005-07-27T12:00:00Z");
  EXPECT_EQ(Urls(model_), (Strings{"/live"}));

  // After switching, only the new day's entries arrive.
  ASSERT_EQ(listener_->ShowDay({2005, 7, 27}), S_OK);
  EXPECT_FALSE(station_->FindMessageWindow(jn::kNotificationWindowClass, "2005\\7\\26"));
  EXPECT_EQ(Urls(model_), (Strings{"/tomorrow"}));
  Log("/yesterday again", "2005-07-26T13:00:00Z");
  Log("/tomorrow again", "2005-07-27T13:00:00Z");
  EXPECT_EQ(Urls(model_), (Strings{"/tomorrow again", "/tomorrow"}));
}

TEST_F(JournalViewTest, NotificationsForOtherDaysMissingMarkersOrBrokenBlocksAddNothing) {
  ASSERT_EQ(model_.ShowDay({2005, 7, 26}), S_OK);
  const auto marker = Log("/no marker", "2005-07-26T09:00:00Z");
  Guid id;
  std::filesystem::path dayFile;
  ASSERT_EQ(jn::ParseMarkerPath(marker, id, dayFile), S_OK);
  std::filesystem::remove(marker);
  const auto block = jn::EncodeNotification(id, {2005, 7, 2, 26, 9, 0, 0, 0});
  EXPECT_EQ(model_.OnNotification(block), S_FALSE);
  const auto otherDay = jn::EncodeNotification(id, {2005, 7, 3, 27, 9, 0, 0, 0});
  EXPECT_EQ(model_.OnNotification(otherDay), S_FALSE);
  EXPECT_EQ(model_.OnNotification(std::span(block).first(31)), E_INVALIDARG);
  EXPECT_TRUE(model_.entries().empty());
  // The same entry announced twice is listed once.
  const auto twice = Log("/twice", "2005-07-26T10:00:00Z");
  ASSERT_EQ(jn::ParseMarkerPath(twice, id, dayFile), S_OK);
  EXPECT_EQ(model_.OnNotification(jn::EncodeNotification(id, {2005, 7, 2, 26, 10, 0, 0, 0})), S_OK);
  EXPECT_EQ(model_.OnNotification(jn::EncodeNotification(id, {2005, 7, 2, 26, 10, 0, 0, 0})),
            S_FALSE);
  EXPECT_EQ(model_.entries().size(), 1u);
}

TEST_F(JournalViewTest, DeletedEntriesStayGoneAndAMissingMarkerCountsAsDeleted) {
  const auto a = Log("/a", "2005-07-26T09:00:00Z");
  const auto b = Log("/b", "2005-07-26T10:00:00Z");
  Log("/c", "2005-07-26T11:00:00Z");
  ASSERT_EQ(model_.ShowDay({2005, 7, 26}), S_OK);
  std::vector<Guid> chosen;
  for (const auto& e : model_.entries()) {
    if (e.url != "/c") chosen.push_back(e.id);
  }
  std::filesystem::remove(a);  // deleted meanwhile by someone else
  EXPECT_EQ(model_.DeleteEntries(chosen), S_OK);
  EXPECT_FALSE(std::filesystem::exists(b));
  EXPECT_EQ(Urls(model_), (Strings{"/c"}));
  EXPECT_EQ(model_.ShowDay({2005, 7, 26}), S_OK);
  EXPECT_EQ(Urls(model_), (Strings{"/c"}));
}

TEST_F(JournalViewTest, AnUnreadableDayFileIsReportedAndListsNothing) {
  const auto marker = Log("/a", "2005-07-26T09:00:00Z");
  const auto dayFile = std::filesystem::path(marker).parent_path() / jn::kDayFileName;
  std::filesystem::remove(dayFile);
  std::filesystem::create_directory(dayFile);  // a folder where the file should be
  EXPECT_TRUE(Failed(model_.ShowDay({2005, 7, 26})));
  EXPECT_TRUE(model_.entries().empty());
}

TEST(JournalKindTextTest, EveryKnownKindHasItsNameAndOthersKeepTheirNumber) {
  EXPECT_EQ(JournalKindText(0), "File");
  EXPECT_EQ(JournalKindText(1), "Web page");
  EXPECT_EQ(JournalKindText(2), "Mail message");
  EXPECT_EQ(JournalKindText(3), "Appointment");
  EXPECT_EQ(JournalKindText(4), "Contact");
  EXPECT_EQ(JournalKindText(5), "Task");
  // Just past the table and far past it: the number, never a neighbour's name.
  EXPECT_EQ(JournalKindText(6), "6");
  EXPECT_EQ(JournalKindText(0xFFFFFFFFu), "4294967295");
}

TEST(JournalSortTest, NewColumnsStartAscendingUpToTheKindColumnAndTheSameColumnToggles) {
  JournalSort s;
  EXPECT_EQ(s, (JournalSort{kJournalColumnStart, false}));
  EXPECT_TRUE(ClickJournalColumn(s, kJournalColumnName));
  EXPECT_EQ(s, (JournalSort{kJournalColumnName, true}));
  EXPECT_TRUE(ClickJournalColumn(s, kJournalColumnName));
  EXPECT_FALSE(s.ascending);
  EXPECT_TRUE(ClickJournalColumn(s, kJournalColumnWorkingTime));
  EXPECT_EQ(s, (JournalSort{kJournalColumnWorkingTime, false}));
  EXPECT_FALSE(ClickJournalColumn(s, kJournalColumnCount));

  TestContext test;
  EXPECT_EQ(LoadJournalSort(test.registry()), JournalSort{});
  ASSERT_EQ(SaveJournalSort(test.registry(), {kJournalColumnKind, false}), 0);
  EXPECT_EQ(LoadJournalSort(test.registry()), (JournalSort{kJournalColumnKind, false}));
}

}  // namespace
}  // namespace qv::client
