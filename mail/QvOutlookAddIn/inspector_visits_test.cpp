// An inspector's visit: found by caption and rectangle, started once, a new item uncounted
// until it is saved, a failed read retried on the next activation.
#include "mail/QvOutlookAddIn/inspector_visits.h"

#include <gtest/gtest.h>

#include "hooks/QvHooks/tracer_messages.h"
#include "mail/QvOutlookAddIn/addin_constants.h"
#include "mail/QvOutlookAddIn/addin_test_support.h"
#include "mail/QvOutlookAddIn/client_windows.h"
#include "mail/QvOutlookAddIn/item_identifier.h"

namespace qv::mail::addin::testing {
namespace {

using hooks::KIV_VF_NOTRACK;
using hooks::KIV_VF_TRACK;

class InspectorVisitsTest : public ::testing::Test, public AddInFixture {
 protected:
  InspectorVisitsTest() {
    inspector.info = {"Untitled - Message", 50, 60, 640, 480};
    window = TopLevel(200, inspector.info);
  }
  FakeInspector inspector;
  DesktopWindow window = 0;
};

TEST_F(InspectorVisitsTest, ANewItemIsVisitedUncountedUntilItIsSaved) {
  InspectorVisits visits(host, inspector);
  visits.OnWriteItem();  // before the visit: nothing to turn
  visits.OnActivate();
  ASSERT_EQ(recorded.calls, (std::vector<VisitCall>{{'S', window, "outlook:", KIV_VF_NOTRACK}}));
  EXPECT_EQ(visits.tracking(), InspectorVisits::Tracking::Untracked);
  // A save that leaves it without an id changes nothing; the first with one turns it counted.
  visits.OnWriteItem();
  EXPECT_EQ(recorded.calls.size(), 1u);
  inspector.item.entryId = {0x00, 0x0A, 0xFF};
  visits.OnWriteItem();
  ASSERT_EQ(recorded.calls.size(), 2u);
  EXPECT_EQ(recorded.calls[1], (VisitCall{'U', window, "outlook:000AFF", KIV_VF_TRACK}));
  EXPECT_EQ(visits.tracking(), InspectorVisits::Tracking::Tracked);
  visits.OnWriteItem();  // later saves are ordinary
  visits.OnActivate();   // and so are later activations: the visit started once
  EXPECT_EQ(recorded.calls.size(), 2u);
  visits.OnClose();
  EXPECT_EQ(recorded.calls.back(), (VisitCall{'E', window, "<null>", 0}));
  visits.OnActivate();
  EXPECT_EQ(recorded.calls.size(), 3u);
}

TEST_F(InspectorVisitsTest, AnItemThatCannotBeReadIsTriedAgainOnTheNextActivation) {
  inspector.item.entryId = {0x12, 0x34};
  inspector.itemResult = E_FAIL;
  InspectorVisits visits(host, inspector);
  visits.OnActivate();
  EXPECT_TRUE(recorded.calls.empty());
  EXPECT_EQ(visits.window(), 0u);
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEvInspectorItem});
  inspector.itemResult = S_OK;
  visits.OnActivate();
  EXPECT_EQ(recorded.calls, (std::vector<VisitCall>{{'S', window, "outlook:1234", KIV_VF_TRACK}}));
  // A failed read on save is logged and changes nothing.
  inspector.itemResult = E_FAIL;
  visits.OnWriteItem();
  EXPECT_EQ(recorded.calls.size(), 1u);
}

TEST_F(InspectorVisitsTest, ASavedItemThatCannotBeReadIsLogged) {
  InspectorVisits visits(host, inspector);
  visits.OnActivate();
  inspector.itemResult = E_FAIL;
  visits.OnWriteItem();
  EXPECT_EQ(recorded.calls.size(), 1u);
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEvWrittenItem});
  EXPECT_EQ(visits.tracking(), InspectorVisits::Tracking::Untracked);
}

TEST_F(InspectorVisitsTest, TheWindowIsTheForegroundOneThenTheOneAtItsCornerThenAnyMatching) {
  // Three windows share caption and rectangle; one of them is hidden.
  const DesktopWindow hidden = TopLevel(201, inspector.info);
  const DesktopWindow twin = TopLevel(202, inspector.info);
  desktop.SetForeground(twin);
  DesktopWindow found = 0;
  ASSERT_EQ(FindClientWindow(desktop, inspector.info, ClientWindowKind::Inspector, found), S_OK);
  EXPECT_EQ(found, twin);
  // The foreground elsewhere: the topmost visible window under (left + 1, top + 1), though a
  // hidden twin lies above it.
  desktop.SetForeground(window);
  desktop.SetForeground(hidden);
  desktop.Show(hidden, false);
  platform::WindowState other;
  other.id = 300;
  other.title = "Other";
  other.rect = {1000, 1000, 1100, 1100};
  desktop.CreateWindow(other);
  desktop.SetForeground(300);
  ASSERT_EQ(FindClientWindow(desktop, inspector.info, ClientWindowKind::Inspector, found), S_OK);
  EXPECT_EQ(found, window);
  // Covered at that point by a window of another caption: the first matching top-level one.
  platform::WindowState cover;
  cover.id = 301;
  cover.title = "Cover";
  cover.rect = {0, 0, 200, 200};
  desktop.CreateWindow(cover);
  ASSERT_EQ(FindClientWindow(desktop, inspector.info, ClientWindowKind::Inspector, found), S_OK);
  EXPECT_EQ(found, hidden);
  // An explorer is found among the top-level windows only, by the same exact match.
  ASSERT_EQ(FindClientWindow(desktop, inspector.info, ClientWindowKind::Explorer, found), S_OK);
  EXPECT_EQ(found, hidden);
  // The rectangle and the caption must match exactly.
  platform::mail::ClientWindowInfo moved = inspector.info;
  moved.width += 1;
  EXPECT_EQ(FindClientWindow(desktop, moved, ClientWindowKind::Explorer, found),
            HresultFromWin32(win32::ERROR_NOT_FOUND));
  EXPECT_EQ(found, 0u);
  moved = inspector.info;
  moved.caption = "untitled - message";  // the caption compares exactly
  EXPECT_TRUE(Failed(FindClientWindow(desktop, moved, ClientWindowKind::Inspector, found)));
}

TEST_F(InspectorVisitsTest, WithoutItsWindowNothingStartsAndTheNextActivationTriesAgain) {
  inspector.info.top += 5;
  InspectorVisits visits(host, inspector);
  visits.OnActivate();
  EXPECT_TRUE(recorded.calls.empty());
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEvWindowNotFound});
  desktop.SetRect(window, {50, 65, 690, 545});
  visits.OnActivate();
  EXPECT_EQ(recorded.calls.size(), 1u);
}

TEST(ItemIdentifier, IsTheEntryIdInUpperCaseHex) {
  EXPECT_EQ(ItemIdentifier(std::vector<std::uint8_t>{}), "outlook:");
  EXPECT_EQ(ItemIdentifier(std::vector<std::uint8_t>{0x00, 0xab, 0x10, 0xF0}), "outlook:00AB10F0");
  EXPECT_EQ(VisitFlagsFor(std::vector<std::uint8_t>{}), hooks::KIV_VF_NOTRACK);
  EXPECT_EQ(VisitFlagsFor(std::vector<std::uint8_t>{1}), hooks::KIV_VF_TRACK);
}

}  // namespace
}  // namespace qv::mail::addin::testing
