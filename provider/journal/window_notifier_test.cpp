#include "provider/journal/window_notifier.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

#include "context/test_context.h"
#include "platform/messaging/inproc_transport.h"
#include "provider/journal/journal.h"
#include "provider/journal/journal_paths.h"

namespace qv::journal {
namespace {

using platform::Message;
using platform::WindowSpec;

// Journal view windows in a "client process", and the journal in another, sharing one
// in-memory transport.
class WindowNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) oldTz_ = tz;
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    transport_ = std::make_shared<platform::InProcessTransport>(clock_);
    viewStation_ = std::make_unique<platform::WindowStation>(transport_, clock_);
    loopThread_ = std::thread([this] { loop_.Run(); });
  }
  void TearDown() override {
    windows_.clear();
    loop_.PostQuit(0);
    loopThread_.join();
    if (oldTz_) ::setenv("TZ", oldTz_->c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
  }

  // A window that records what it receives under `name`.
  void View(const std::string& name, WindowSpec spec) {
    std::unique_ptr<platform::Window> w;
    ASSERT_EQ(viewStation_->CreateWindow(
                  loop_, spec,
                  [this, name](const Message& m) -> platform::LRESULT {
                    std::lock_guard lock(mutex_);
                    received_.push_back({name, m});
                    return 0;
                  },
                  w),
              S_OK);
    windows_.push_back(std::move(w));
  }

  SystemClock clock_;
  TestContext test_;
  std::optional<std::string> oldTz_;
  std::shared_ptr<platform::Transport> transport_;
  std::unique_ptr<platform::WindowStation> viewStation_;
  platform::MessageLoop loop_{clock_};
  std::thread loopThread_;
  std::vector<std::unique_ptr<platform::Window>> windows_;
  std::mutex mutex_;
  std::vector<std::pair<std::string, Message>> received_;
};

TEST_F(WindowNotifierTest, OnlyTheMessageOnlyWindowsOfTheEntrysDayHearOfIt) {
  View("today", {std::string(kNotificationWindowClass), "2005\\7\\26", true});
  View("today too", {std::string(kNotificationWindowClass), "2005\\7\\26", true});
  View("other day", {std::string(kNotificationWindowClass), "2005\\7\\27", true});
  View("top-level", {std::string(kNotificationWindowClass), "2005\\7\\26", false});
  View("other class", {"QvSomethingElse", "2005\\7\\26", true});

  auto notifier = std::make_shared<WindowJournalNotifier>(
      std::make_shared<platform::WindowStation>(transport_, clock_));
  Journal journal(test_.ctx(), notifier);
  EntryFields f;
  f.url = "/doc";
  f.start = *ParseIsoDate("2005-07-26T10:15:30.5Z");
  f.end = f.start;
  std::string marker;
  ASSERT_EQ(journal.LogEntry(f, &marker), S_OK);

  // The sends are synchronous: both answers are in before LogEntry returns.
  std::lock_guard lock(mutex_);
  ASSERT_EQ(received_.size(), 2u);
  std::set<std::string> names;
  for (const auto& [name, m] : received_) {
    names.insert(name);
    EXPECT_EQ(m.message, platform::WM_COPYDATA);
    EXPECT_EQ(m.wParam, 0u);
    ASSERT_TRUE(m.copyData);
    EXPECT_EQ(m.copyData->dwData, 0u);
    const auto n = DecodeNotification(m.copyData->bytes);
    ASSERT_TRUE(n);
    EXPECT_EQ(MarkerName(n->entry), std::filesystem::path(marker).filename().string());
    EXPECT_EQ(n->localStart, (SystemTime{2005, 7, 2, 26, 10, 15, 30, 500}));
  }
  EXPECT_EQ(names, (std::set<std::string>{"today", "today too"}));
}

TEST_F(WindowNotifierTest, AWindowThatDoesNotAnswerKeepsNoOneElseFromHearing) {
  // The first window's loop is stuck; the journal gives up on it and goes on.
  platform::MessageLoop stuckLoop(clock_);
  std::unique_ptr<platform::Window> stuck;
  ASSERT_EQ(viewStation_->CreateWindow(stuckLoop,
                                       {std::string(kNotificationWindowClass), "2005\\7\\26", true},
                                       [](const Message&) { return platform::LRESULT{0}; }, stuck),
            S_OK);
  View("listening", {std::string(kNotificationWindowClass), "2005\\7\\26", true});

  WindowJournalNotifier notifier(std::make_shared<platform::WindowStation>(transport_, clock_),
                                 std::chrono::milliseconds(100));
  SystemTime t{2005, 7, 2, 26, 10, 0, 0, 0};
  notifier.Notify("2005\\7\\26", EncodeNotification(Guid{1, 2, 3, {}}, t));
  std::lock_guard lock(mutex_);
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0].first, "listening");
}

}  // namespace
}  // namespace qv::journal
