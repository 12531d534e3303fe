// SimDesktop: what the accounting measures (visible area under overlapping windows, children
// clipped by parents) and the events the tracer listens to.
#include "platform/desktop/sim_desktop.h"

#include <gtest/gtest.h>

namespace qv::platform {
namespace {

WindowState Top(DesktopWindow id, Rect rect, std::uint32_t thread = 1) {
  WindowState s;
  s.id = id;
  s.className = "Editor";
  s.rect = rect;
  s.threadId = thread;
  return s;
}

TEST(SimDesktopTest, VisibleAreaSubtractsWindowsAbove) {
  SimDesktop desk({100, 100});
  desk.CreateWindow(Top(1, {0, 0, 100, 100}));
  EXPECT_EQ(desk.VisibleArea(1), 10000);
  desk.CreateWindow(Top(2, {0, 0, 50, 50}));  // on top, a quarter
  EXPECT_EQ(desk.VisibleArea(1), 7500);
  EXPECT_EQ(desk.VisibleArea(2), 2500);
  desk.CreateWindow(Top(3, {25, 25, 75, 75}));  // overlaps both
  EXPECT_EQ(desk.VisibleArea(2), 2500 - 625);
  EXPECT_EQ(desk.VisibleArea(1), 10000 - 2500 - 2500 + 625);
  desk.SetForeground(1);  // back on top: fully visible again
  EXPECT_EQ(desk.VisibleArea(1), 10000);
  EXPECT_EQ(desk.VisibleArea(2), 0);
  EXPECT_EQ(desk.TopLevelWindows().front(), 1u);
}

TEST(SimDesktopTest, HiddenMinimisedAndOffScreenParts) {
  SimDesktop desk({100, 100});
  desk.CreateWindow(Top(1, {50, 50, 150, 150}));
  EXPECT_EQ(desk.VisibleArea(1), 2500);  // only the part on the screen
  desk.CreateWindow(Top(2, {0, 0, 100, 100}));
  desk.Show(2, false);
  EXPECT_EQ(desk.VisibleArea(1), 2500);  // a hidden window covers nothing
  EXPECT_EQ(desk.VisibleArea(2), 0);
  desk.Show(2, true);
  EXPECT_EQ(desk.VisibleArea(1), 0);
  desk.Minimize(2, true);
  EXPECT_EQ(desk.VisibleArea(1), 2500);
  EXPECT_EQ(desk.VisibleArea(2), 0);
  EXPECT_EQ(desk.VisibleArea(99), 0);
}

TEST(SimDesktopTest, ChildrenAreClippedAndHiddenWithTheirParent) {
  SimDesktop desk({100, 100});
  desk.CreateWindow(Top(1, {0, 0, 40, 40}));
  WindowState child = Top(2, {20, 20, 80, 80});
  child.parent = 1;
  ASSERT_EQ(desk.CreateWindow(child), 2u);
  EXPECT_EQ(desk.VisibleArea(2), 400);  // 20x20 inside the parent
  EXPECT_TRUE(desk.IsDescendant(1, 2));
  EXPECT_FALSE(desk.IsDescendant(2, 1));
  EXPECT_FALSE(desk.IsDescendant(1, 1));
  desk.Show(1, false);
  EXPECT_EQ(desk.VisibleArea(2), 0);
  child.id = 3;
  child.parent = 77;  // no such parent
  EXPECT_EQ(desk.CreateWindow(child), 0u);
}

TEST(SimDesktopTest, EventsReachHooksUntilRemoved) {
  SimDesktop desk;
  std::vector<WinEvent> seen;
  std::int32_t error = 0;
  const auto id = desk.AddWinEventHook([&](const WinEvent& e) { seen.push_back(e); }, error);
  ASSERT_NE(id, 0u);
  WindowState parent = Top(1, {0, 0, 10, 10}, 7);
  desk.CreateWindow(parent);
  WindowState child = Top(2, {0, 0, 5, 5}, 7);
  child.parent = 1;
  desk.CreateWindow(child);
  desk.SetTitle(1, "x");
  desk.SetForeground(2);  // the top-level window becomes the foreground
  desk.DestroyWindow(1);
  std::vector<std::pair<std::uint32_t, DesktopWindow>> got;
  for (const auto& e : seen) got.emplace_back(e.event, e.window);
  const std::vector<std::pair<std::uint32_t, DesktopWindow>> want{
      {EVENT_OBJECT_CREATE, 1},   {EVENT_OBJECT_SHOW, 1},      {EVENT_OBJECT_CREATE, 2},
      {EVENT_OBJECT_SHOW, 2},     {EVENT_OBJECT_NAMECHANGE, 1}, {EVENT_SYSTEM_FOREGROUND, 1},
      {EVENT_OBJECT_DESTROY, 2}, {EVENT_OBJECT_DESTROY, 1}};
  EXPECT_EQ(got, want);
  EXPECT_EQ(seen.front().thread, 7u);
  EXPECT_FALSE(desk.IsWindow(2));
  EXPECT_EQ(desk.Foreground(), 0u);
  ASSERT_TRUE(desk.RemoveWinEventHook(id, error));
  desk.CreateWindow(Top(5, {0, 0, 1, 1}));
  EXPECT_EQ(seen.size(), want.size());
  EXPECT_FALSE(desk.RemoveWinEventHook(id, error));
  desk.FailNextHook(8);
  EXPECT_EQ(desk.AddWinEventHook([](const WinEvent&) {}, error), 0u);
  EXPECT_EQ(error, 8);
}

}  // namespace
}  // namespace qv::platform
