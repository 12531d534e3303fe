#include "client/window_layout.h"

#include <gtest/gtest.h>

#include "context/test_context.h"

namespace qv::client {
namespace {

using platform::Hive;
using platform::RegValue;

constexpr std::string_view kView = "Software\\Quillon\\Vesper\\View";

TEST(WindowLayoutTest, ARectangleIsMovedAndShrunkIntoTheScreenItOverlapsMost) {
  const std::vector<Rect> one = {{0, 0, 1280, 770}};
  // Saved on a larger screen: too wide, too tall, partly off the screen.
  EXPECT_EQ(ClampToScreens({100, 50, 2020, 1250}, one), (Rect{0, 0, 1280, 770}));
  // Overhanging to the right and bottom: shifted back, size kept.
  EXPECT_EQ(ClampToScreens({1000, 600, 1400, 900}, one), (Rect{880, 470, 1280, 770}));
  // Off to the left and above.
  EXPECT_EQ(ClampToScreens({-500, -300, -100, -100}, one), (Rect{0, 0, 400, 200}));
  // Inside: unchanged.
  EXPECT_EQ(ClampToScreens({10, 10, 500, 400}, one), (Rect{10, 10, 500, 400}));

  // Two screens side by side: the one the window overlaps most; a window on a screen that
  // is gone comes to the nearest one.
  const std::vector<Rect> two = {{0, 0, 1920, 1040}, {1920, 0, 3200, 1000}};
  EXPECT_EQ(ClampToScreens({1800, 100, 2600, 500}, two), (Rect{1920, 100, 2720, 500}));
  EXPECT_EQ(ClampToScreens({5000, 100, 5600, 500}, two), (Rect{2600, 100, 3200, 500}));
  // No screens known (or only empty ones): as saved.
  EXPECT_EQ(ClampToScreens({5000, 100, 5600, 500}, {}), (Rect{5000, 100, 5600, 500}));
  const std::vector<Rect> empty = {{0, 0, 0, 0}};
  EXPECT_EQ(ClampToScreens({5000, 100, 5600, 500}, empty), (Rect{5000, 100, 5600, 500}));
}

TEST(WindowLayoutTest, TheLayoutRoundTripsAndASavedPlacementIsClamped) {
  TestContext test;
  const std::vector<Rect> screen = {{0, 0, 1024, 740}};
  EXPECT_EQ(LoadWindowLayout(test.registry(), screen), WindowLayout{});

  WindowLayout saved;
  saved.placement = WindowPlacement{0, kShowMaximized, -1, -1, -8, -8, {200, 100, 2200, 1300}};
  saved.statusBar = false;
  saved.vertSplit = 300;
  saved.horzSplit = 200;
  saved.readingPane = 2;
  saved.searchSplit = 0;
  ASSERT_EQ(SaveWindowLayout(test.registry(), saved), 0);
  WindowLayout expected = saved;
  expected.placement->normal = {0, 0, 1024, 740};
  EXPECT_EQ(LoadWindowLayout(test.registry(), screen), expected);
}

TEST(WindowLayoutTest, ValuesOfTheWrongSizeTypeOrRangeAreLeftAtTheirDefaults) {
  TestContext test;
  auto& reg = test.registry();
  const auto bytes = EncodePlacement({0, kShowNormal, 0, 0, 0, 0, {10, 10, 300, 200}});
  std::vector<std::uint8_t> longer(bytes.begin(), bytes.end());
  longer.push_back(0);
  reg.SetValue(Hive::CurrentUser, kView, kPositionValue, RegValue::Binary(longer));
  reg.SetValue(Hive::CurrentUser, kView, kStatusBarValue, RegValue::Sz("0"));
  reg.SetValue(Hive::CurrentUser, kView, kVertSplitValue, RegValue::Dword(0));
  reg.SetValue(Hive::CurrentUser, kView, kHorzSplitValue, RegValue::Dword(0x80000000));
  reg.SetValue(Hive::CurrentUser, kView, kReadingPaneValue, RegValue::Dword(3));
  EXPECT_EQ(LoadWindowLayout(reg, {}), WindowLayout{});
  // An inside-out rectangle is no placement.
  const auto inverted = EncodePlacement({0, kShowNormal, 0, 0, 0, 0, {300, 10, 10, 200}});
  EXPECT_FALSE(DecodePlacement(inverted));
  EXPECT_EQ(DecodePlacement(bytes)->normal, (Rect{10, 10, 300, 200}));
  EXPECT_EQ(bytes[0], kPlacementBytes);
}

}  // namespace
}  // namespace qv::client
