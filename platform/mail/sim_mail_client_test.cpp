// SimMailClient: the windows the add-in looks for, the order of the events it receives, and
// the main-thread timers and posted work on a manual clock.
#include "platform/mail/sim_mail_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/temp_dir.h"
#include "platform/mail/maildir_store.h"

namespace qv::platform::mail {
namespace {

using namespace std::chrono_literals;

class SimMailClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(client_.OpenStore(dir_.path() / "Mail", "Personal", &store_), S_OK);
    ASSERT_EQ(store_->DefaultFolder(FolderType::Inbox, inbox_), S_OK);
    for (const char* subject : {"first", "second"}) {
      Message m;
      m.folderId = inbox_;
      m.normalizedSubject = subject;
      m.bodyPlain = std::string("body of ") + subject;
      ASSERT_EQ(store_->SaveMessage(m), S_OK);
      ids_.push_back(m.entryId);
    }
    ClientEvents events;
    events.explorerOpened = [this](Explorer& e) { Log("explorerOpened " + e.windowInfo().caption); };
    events.selectionChange = [this](Explorer& e) {
      std::vector<EntryId> sel;
      e.Selection(sel);
      Log("selectionChange " + std::to_string(sel.size()) +
          (e.readingPaneVisible() ? " pane" : " nopane"));
    };
    events.explorerClose = [this](Explorer&) { Log("explorerClose"); };
    events.inspectorOpened = [this](Inspector& i) { Log("inspectorOpened " + Item(i)); };
    events.inspectorActivate = [this](Inspector& i) {
      // The add-in finds the window as the foreground one with the reported caption.
      WindowState fg;
      desktop_.GetWindow(desktop_.Foreground(), fg);
      Log("inspectorActivate " + Item(i) + (fg.title == i.windowInfo().caption ? " fg" : ""));
    };
    events.itemWrite = [this](Inspector& i) { Log("itemWrite " + Item(i)); };
    events.inspectorClose = [this](Inspector& i) {
      // The add-in ends the visit of the window, so the window is still there.
      const auto* sim = dynamic_cast<SimInspector*>(&i);
      Log(std::string("inspectorClose") + (sim && desktop_.IsWindow(sim->window()) ? "" : " gone"));
    };
    events.quit = [this] { Log("quit " + std::to_string(client_.Explorers().size())); };
    client_.Connect(std::move(events));
  }
  void Log(std::string s) { log_.push_back(std::move(s)); }
  static std::string Item(Inspector& i) {
    Message m;
    i.CurrentItem(m);
    return (m.entryId.empty() ? "unsaved " : "saved ") + m.normalizedSubject.value_or("");
  }

  TempDir dir_;
  ManualClock clock_{134'000'000'000'000'000ull};
  SimDesktop desktop_;
  SimMailClient client_{desktop_, clock_};
  MessageStore* store_ = nullptr;
  EntryId inbox_;
  std::vector<EntryId> ids_;
  std::vector<std::string> log_;
};

TEST_F(SimMailClientTest, ExplorerWindowsAreWhereTheAddInLooks) {
  SimExplorer* explorer = nullptr;
  ASSERT_EQ(client_.OpenExplorer(*store_, inbox_, &explorer), S_OK);
  const ClientWindowInfo info = explorer->windowInfo();
  EXPECT_EQ(info.caption, "Inbox - Personal");
  // One top-level window with exactly the reported caption and rectangle.
  int matches = 0;
  for (const DesktopWindow w : desktop_.TopLevelWindows()) {
    WindowState s;
    ASSERT_TRUE(desktop_.GetWindow(w, s));
    if (s.title == info.caption && s.rect.left == info.left && s.rect.top == info.top &&
        s.rect.Width() == info.width && s.rect.Height() == info.height) {
      ++matches;
      EXPECT_EQ(w, explorer->window());
    }
  }
  EXPECT_EQ(matches, 1);
  // The reading pane: a visible, non-pop-up dialog-class child holding the browser window.
  WindowState pane;
  ASSERT_TRUE(desktop_.GetWindow(explorer->readingPane(), pane));
  EXPECT_EQ(pane.parent, explorer->window());
  EXPECT_EQ(pane.className, "#32770");
  EXPECT_TRUE(pane.visible);
  EXPECT_EQ(pane.style & WS_POPUP, 0u);
  const auto children = desktop_.Children(pane.id);
  ASSERT_EQ(children.size(), 1u);
  WindowState browser;
  desktop_.GetWindow(children[0], browser);
  EXPECT_EQ(browser.className, "Internet Explorer_Server");
  EXPECT_GT(desktop_.VisibleArea(pane.id), 0);

  ASSERT_EQ(client_.ShowReadingPane(*explorer, false), S_OK);
  EXPECT_FALSE(explorer->readingPaneVisible());
  EXPECT_EQ(desktop_.VisibleArea(pane.id), 0);
  ASSERT_EQ(client_.CloseExplorer(*explorer), S_OK);
  EXPECT_FALSE(desktop_.IsWindow(pane.id));
  EXPECT_TRUE(desktop_.TopLevelWindows().empty());
}

TEST_F(SimMailClientTest, EventsOfAScriptedSession) {
  SimExplorer* explorer = nullptr;
  ASSERT_EQ(client_.OpenExplorer(*store_, inbox_, &explorer), S_OK);
  ASSERT_EQ(client_.Select(*explorer, {ids_[0]}), S_OK);
  ASSERT_EQ(client_.Select(*explorer, {ids_[1], ids_[0]}), S_OK);
  std::vector<EntryId> sel;
  explorer->Selection(sel);
  EXPECT_EQ(sel, (std::vector<EntryId>{ids_[1], ids_[0]}));  // first selected first
  ASSERT_EQ(client_.ShowReadingPane(*explorer, false), S_OK);
  ASSERT_EQ(client_.Select(*explorer, {}), S_OK);

  SimInspector* reading = nullptr;
  ASSERT_EQ(client_.OpenInspector(ids_[0], &reading), S_OK);
  EXPECT_EQ(reading->windowInfo().caption, "first - Message");
  Message draft;
  draft.folderId = inbox_;
  SimInspector* composing = nullptr;
  ASSERT_EQ(client_.OpenInspector(*store_, draft, &composing), S_OK);
  EXPECT_EQ(composing->windowInfo().caption, "Untitled - Message");
  draft.normalizedSubject = "new one";
  ASSERT_EQ(client_.SaveInspector(*composing, draft), S_OK);
  // The saved item is in the store, and the window took its subject.
  Message saved;
  ASSERT_EQ(composing->CurrentItem(saved), S_OK);
  Message stored;
  ASSERT_EQ(store_->OpenMessage(saved.entryId, stored), S_OK);
  EXPECT_EQ(stored.normalizedSubject, "new one");
  WindowState w;
  desktop_.GetWindow(composing->window(), w);
  EXPECT_EQ(w.title, "new one - Message");
  EXPECT_EQ(composing->windowInfo().caption, w.title);
  ASSERT_EQ(client_.ActivateInspector(*reading), S_OK);
  ASSERT_EQ(client_.CloseInspector(*reading), S_OK);
  ASSERT_EQ(client_.Quit(), S_OK);

  EXPECT_EQ(log_, (std::vector<std::string>{
                      "explorerOpened Inbox - Personal",
                      "selectionChange 1 pane",
                      "selectionChange 2 pane",
                      "selectionChange 2 nopane",
                      "selectionChange 0 nopane",
                      "inspectorOpened saved first",
                      "inspectorActivate saved first fg",
                      "inspectorOpened unsaved ",
                      "inspectorActivate unsaved  fg",
                      "itemWrite saved new one",
                      "inspectorActivate saved first fg",
                      "inspectorClose",
                      "quit 1",
                      "inspectorClose",
                      "explorerClose",
                  }));
  EXPECT_TRUE(desktop_.TopLevelWindows().empty());
  EXPECT_EQ(client_.OpenExplorer(*store_, inbox_, &explorer), E_UNEXPECTED);
  EXPECT_EQ(client_.Quit(), E_UNEXPECTED);
}

TEST_F(SimMailClientTest, FailedSaveFiresNoWrite) {
  SimInspector* composing = nullptr;
  Message draft;
  draft.folderId = inbox_;
  ASSERT_EQ(client_.OpenInspector(*store_, draft, &composing), S_OK);
  draft.senderAddress = "bad address\nBcc: x@y";
  EXPECT_TRUE(Failed(client_.SaveInspector(*composing, draft)));
  Message current;
  composing->CurrentItem(current);
  EXPECT_TRUE(current.entryId.empty());
  EXPECT_EQ(std::count_if(log_.begin(), log_.end(),
                          [](const std::string& s) { return s.starts_with("itemWrite"); }),
            0);
  EXPECT_EQ(client_.OpenInspector(std::vector<std::uint8_t>{1, 2, 3}, &composing),
            MAPI_E_NOT_FOUND);
}

TEST_F(SimMailClientTest, TimersRunOnVirtualTime) {
  std::vector<std::string> fired;
  client_.SetTimer(1000ms, [&] { fired.push_back("settle"); });
  const auto killed = client_.SetTimer(500ms, [&] { fired.push_back("killed"); });
  EXPECT_TRUE(client_.KillTimer(killed));
  EXPECT_FALSE(client_.KillTimer(killed));
  client_.RunFor(999ms);
  EXPECT_TRUE(fired.empty());
  client_.RunFor(1ms);
  EXPECT_EQ(fired, std::vector<std::string>{"settle"});
  // A timer set from a timer waits for its own time.
  client_.SetTimer(100ms, [&] {
    fired.push_back("outer");
    client_.SetTimer(0ms, [&] { fired.push_back("inner"); });
  });
  const auto start = clock_.Monotonic();
  EXPECT_TRUE(client_.PumpUntil([&] { return fired.size() == 3; }, 60s));
  EXPECT_EQ(fired.back(), "inner");
  EXPECT_EQ(clock_.Monotonic() - start, 100ms);  // jumped to the timer, no waiting
  // Nothing scheduled and nothing to come: the limit passes.
  EXPECT_FALSE(client_.PumpUntil([] { return false; }, 50ms));
}

TEST_F(SimMailClientTest, WorkPostedFromAnotherThreadRunsOnTheMainThread) {
  const auto main = std::this_thread::get_id();
  std::atomic<bool> ranOnMain{false};
  bool done = false;
  std::thread other([&] {
    client_.Post([&] {
      ranOnMain = std::this_thread::get_id() == main;
      done = true;
    });
  });
  EXPECT_TRUE(client_.PumpUntil([&] { return done; }, 30s));
  other.join();
  EXPECT_TRUE(ranOnMain);
}

TEST(SimMailClientRealTimeTest, PostedWorkWakesAWaitOnTheSystemClock) {
  SimDesktop desktop;
  SystemClock clock;
  SimMailClient client(desktop, clock);
  std::atomic<bool> ready{false};
  bool ran = false;
  std::thread other([&] {
    while (!ready) std::this_thread::yield();
    client.Post([&] { ran = true; });
  });
  ready = true;
  EXPECT_TRUE(client.PumpUntil([&] { return ran; }, 30s));
  other.join();
  // A one-shot timer fires once, and a limit with nothing to come is kept.
  int fired = 0;
  client.SetTimer(1ms, [&] { ++fired; });
  EXPECT_TRUE(client.PumpUntil([&] { return fired > 0; }, 30s));
  EXPECT_FALSE(client.PumpUntil([] { return false; }, 30ms));
  EXPECT_EQ(fired, 1);
}

}  // namespace
}  // namespace qv::platform::mail
