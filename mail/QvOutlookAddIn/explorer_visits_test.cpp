// The reading pane's visits: the settle timer, the pane search, hiding and closing.
#include "mail/QvOutlookAddIn/explorer_visits.h"

#include <gtest/gtest.h>

#include "hooks/QvHooks/tracer_messages.h"
#include "mail/QvOutlookAddIn/addin_constants.h"
#include "mail/QvOutlookAddIn/addin_test_support.h"
#include "mail/QvOutlookAddIn/client_windows.h"

namespace qv::mail::addin::testing {
namespace {

using namespace std::chrono_literals;
using hooks::KIV_VF_NOTRACK;
using hooks::KIV_VF_TRACK;

class ExplorerVisitsTest : public ::testing::Test, public AddInFixture {
 protected:
  ExplorerVisitsTest() {
    explorer.info = {"Inbox - Mail", 10, 20, 800, 600};
    frame = TopLevel(100, explorer.info);
    Child(101, frame, "#32770");  // a toolbar dialog: no view, few children
    pane = Child(102, frame, "#32770");
    Child(103, Child(104, pane, "AfxWnd"), "Internet Explorer_Server");
    visits = std::make_unique<ExplorerVisits>(host, explorer);
  }
  void Select(std::vector<std::uint8_t> id) {
    explorer.selection = {std::move(id)};
    visits->OnSelectionChange();
  }

  FakeExplorer explorer;
  DesktopWindow frame = 0, pane = 0;
  std::unique_ptr<ExplorerVisits> visits;
};

TEST_F(ExplorerVisitsTest, ABurstOfSelectionsStartsOneVisitForTheItemThatStays) {
  for (std::uint8_t i = 0; i < 10; ++i) {
    Select({0xAB, i});
    Advance(150ms);  // well under the settle time
  }
  EXPECT_TRUE(recorded.calls.empty());
  Advance(999ms - 150ms);
  EXPECT_TRUE(recorded.calls.empty());
  Advance(100ms);
  ASSERT_EQ(recorded.calls, (std::vector<VisitCall>{{'S', pane, "outlook:AB09", KIV_VF_TRACK}}));
  EXPECT_EQ(visits->visitWindow(), pane);
  // The timer is one-shot: nothing more happens while the selection stays.
  Advance(5s);
  EXPECT_EQ(recorded.calls.size(), 1u);
  // The same item selected again (its id in any case) arms nothing.
  Select({0xAB, 0x09});
  Advance(2s);
  EXPECT_EQ(recorded.calls.size(), 1u);
  // Another item takes the pane's visit over after its own second.
  Select({0xCD});
  Advance(1s);
  ASSERT_EQ(recorded.calls.size(), 2u);
  EXPECT_EQ(recorded.calls[1], (VisitCall{'S', pane, "outlook:CD", KIV_VF_TRACK}));
}

TEST_F(ExplorerVisitsTest, HidingThePaneEndsTheVisitAndCancelsAPendingStart) {
  Select({0x01});
  Advance(1s);
  ASSERT_EQ(recorded.calls.size(), 1u);
  Select({0x02});        // armed...
  explorer.paneVisible = false;
  visits->OnSelectionChange();  // ...then the pane is hidden
  ASSERT_EQ(recorded.calls.size(), 2u);
  EXPECT_EQ(recorded.calls[1], (VisitCall{'E', pane, "<null>", 0}));
  EXPECT_EQ(visits->visitWindow(), 0u);
  Advance(3s);
  EXPECT_EQ(recorded.calls.size(), 2u);
  // Shown again, the same item starts anew: the hidden pane forgot it.
  explorer.paneVisible = true;
  Select({0x02});
  Advance(1s);
  ASSERT_EQ(recorded.calls.size(), 3u);
  EXPECT_EQ(recorded.calls[2].op, 'S');
  // An empty selection ends it too.
  explorer.selection.clear();
  visits->OnSelectionChange();
  EXPECT_EQ(recorded.calls.back(), (VisitCall{'E', pane, "<null>", 0}));
}

TEST_F(ExplorerVisitsTest, TheReadingPaneIsTheFirstVisibleDialogWithAViewOrFiveChildren) {
  // A pop-up and a hidden dialog with views do not count, though they lie above the pane.
  Child(110, Child(111, frame, "#32770", true, platform::WS_POPUP), "RichEdit20W");
  Child(112, Child(113, frame, "#32770", false), "RichEdit20W");
  EXPECT_EQ(FindReadingPane(desktop, frame), pane);

  platform::SimDesktop other;
  platform::WindowState s;
  s.id = 1;
  s.className = "frame";
  other.CreateWindow(s);
  auto child = [&](DesktopWindow id, DesktopWindow parent, const char* cls) {
    platform::WindowState c;
    c.id = id;
    c.parent = parent;
    c.className = cls;
    return other.CreateWindow(c);
  };
  const DesktopWindow four = child(2, 1, "#32770");
  for (DesktopWindow i = 0; i < 4; ++i) child(20 + i, four, "Button");
  EXPECT_EQ(FindReadingPane(other, 1), 0u);
  child(24, four, "Button");
  EXPECT_EQ(FindReadingPane(other, 1), four);
  const DesktopWindow rich = child(3, 1, "#32770");
  child(30, child(31, rich, "Static"), "RichEdit50W");
  EXPECT_EQ(FindReadingPane(other, 1), rich);  // children are searched topmost first
}

TEST_F(ExplorerVisitsTest, WithoutAPaneOrWithAFailingStartNoVisitStaysOpen) {
  Select({0x01});
  Advance(1s);
  ASSERT_EQ(recorded.calls.size(), 1u);
  // The pane goes away: the next settled selection ends the visit instead of starting one.
  desktop.DestroyWindow(pane);
  Select({0x02});
  Advance(1s);
  ASSERT_EQ(recorded.calls.size(), 2u);
  EXPECT_EQ(recorded.calls[1], (VisitCall{'E', pane, "<null>", 0}));

  // A new pane whose start fails: ended again at once and logged.
  const DesktopWindow pane2 = Child(120, frame, "#32770");
  Child(121, pane2, "RichEdit20W");
  recorded.startResult = HresultFromWin32(win32::ERROR_TIMEOUT);
  Select({0x03});
  Advance(1s);
  ASSERT_EQ(recorded.calls.size(), 4u);
  EXPECT_EQ(recorded.calls[2], (VisitCall{'S', pane2, "outlook:03", KIV_VF_TRACK}));
  EXPECT_EQ(recorded.calls[3], (VisitCall{'E', pane2, "<null>", 0}));
  EXPECT_EQ(visits->visitWindow(), 0u);
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEvVisitStart});
}

TEST_F(ExplorerVisitsTest, ASelectionThatCannotBeReadIsLoggedAndEndsTheVisit) {
  Select({0x01});
  Advance(1s);
  explorer.selectionResult = E_FAIL;
  visits->OnSelectionChange();
  EXPECT_EQ(recorded.calls.back(), (VisitCall{'E', pane, "<null>", 0}));
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEvSelection});
  // It fails between the change and the timer: the start is given up, logged again.
  explorer.selectionResult = S_OK;
  Select({0x05});
  explorer.selectionResult = E_FAIL;
  Advance(1s);
  EXPECT_EQ(recorded.calls.size(), 2u);
  EXPECT_EQ(tc.EventIds(), (std::vector<std::uint32_t>{kEvSelection, kEvSelection}));
}

TEST_F(ExplorerVisitsTest, AnExplorerWhoseWindowIsNotFoundStartsNothing) {
  explorer.info.caption = "Calendar";  // the object model's caption no longer matches
  Select({0x01});
  Advance(1s);
  EXPECT_TRUE(recorded.calls.empty());
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEvWindowNotFound});
}

TEST_F(ExplorerVisitsTest, ClosingEndsTheVisitAndSilencesTheTimer) {
  Select({0x01});
  Advance(1s);
  Select({0x02});
  visits->Disconnect();
  EXPECT_EQ(recorded.calls.back(), (VisitCall{'E', pane, "<null>", 0}));
  const auto count = recorded.calls.size();
  Advance(2s);
  visits->OnSelectionChange();
  Advance(2s);
  EXPECT_EQ(recorded.calls.size(), count);
  // A new unsaved item selected (no entry id yet) would be visited uncounted.
  ExplorerVisits fresh(host, explorer);
  explorer.selection = {EntryId{}};
  fresh.OnSelectionChange();
  Advance(1s);
  EXPECT_EQ(recorded.calls.back(), (VisitCall{'S', pane, "outlook:", KIV_VF_NOTRACK}));
}

}  // namespace
}  // namespace qv::mail::addin::testing
