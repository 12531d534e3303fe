#include "hooks/QvHooks/input_filters.h"

#include <gtest/gtest.h>

#include <map>

#include "hooks/QvHooks/tracer_messages.h"

namespace qv::hooks {
namespace {

using namespace qv::platform;

TEST(KeyboardFilter, CountsFirstDownsAndUpsButNotRepeatsOrOtherCodes) {
  const KeyboardEvent first{HC_ACTION, 'A', 1, 77};
  const KeyboardEvent repeat{HC_ACTION, 'A', 1 | kKeyFlagPreviousDown, 77};
  const KeyboardEvent up{HC_ACTION, 'A', 1 | kKeyFlagPreviousDown | kKeyFlagReleased, 77};
  ASSERT_TRUE(FilterKeyboard(first));
  EXPECT_EQ(FilterKeyboard(first)->kind, kInputKeyboard);
  EXPECT_EQ(FilterKeyboard(first)->window, 77u);
  EXPECT_FALSE(FilterKeyboard(repeat));
  EXPECT_TRUE(FilterKeyboard(up));
  // A release without the previous-state bit (bit 31 set, bit 30 clear) is still reported.
  EXPECT_TRUE(FilterKeyboard({HC_ACTION, 'A', kKeyFlagReleased, 77}));
  EXPECT_FALSE(FilterKeyboard({3, 'A', 1, 77}));  // HC_NOREMOVE
}

TEST(MouseFilter, MovesCountOnlyWhileAButtonShiftOrSpaceIsHeld) {
  std::map<int, std::uint16_t> keys;
  auto state = [&](int vk) { return keys.count(vk) ? keys[vk] : std::uint16_t{0}; };
  const MouseEvent move{HC_ACTION, WM_MOUSEMOVE, MouseRecord{1, 2, 55}};
  const MouseEvent ncMove{HC_ACTION, WM_NCMOUSEMOVE, MouseRecord{1, 2, 55}};
  EXPECT_FALSE(FilterMouse(move, state));
  EXPECT_FALSE(FilterMouse(ncMove, state));
  keys[0x11] = 0x8000;  // Ctrl is not one of the keys that count
  EXPECT_FALSE(FilterMouse(move, state));
  for (int vk : {VK_LBUTTON, VK_RBUTTON, VK_SHIFT, VK_SPACE}) {
    for (std::uint16_t bits : {std::uint16_t{0x8000}, std::uint16_t{0x4000}}) {
      keys = {{vk, bits}};
      ASSERT_TRUE(FilterMouse(move, state)) << vk << " " << bits;
      EXPECT_EQ(FilterMouse(move, state)->window, 55u);
      EXPECT_TRUE(FilterMouse(ncMove, state));
    }
  }
  keys = {{VK_LBUTTON, 0x0001}};  // pressed since the last query, but not down: no drag
  EXPECT_FALSE(FilterMouse(move, state));
}

TEST(MouseFilter, IgnoresHoverHitTestsActivationCaptureAndNullRecords) {
  auto none = [](int) { return std::uint16_t{0x8000}; };  // even with every key down
  for (std::uint32_t m : {WM_NCMOUSEHOVER, WM_NCMOUSELEAVE, WM_NCHITTEST, WM_MOUSEACTIVATE,
                          WM_CAPTURECHANGED}) {
    EXPECT_FALSE(FilterMouse({HC_ACTION, m, MouseRecord{0, 0, 1}}, none)) << m;
  }
  EXPECT_FALSE(FilterMouse({HC_ACTION, WM_LBUTTONDOWN, std::nullopt}, none));
  EXPECT_FALSE(FilterMouse({1, WM_LBUTTONDOWN, MouseRecord{0, 0, 1}}, none));
  auto up = [](int) { return std::uint16_t{0}; };
  for (std::uint32_t m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN,
                          WM_MBUTTONUP, WM_MOUSEWHEEL, WM_NCLBUTTONDOWN}) {
    ASSERT_TRUE(FilterMouse({HC_ACTION, m, MouseRecord{0, 0, 9}}, up)) << m;
    EXPECT_EQ(FilterMouse({HC_ACTION, m, MouseRecord{0, 0, 9}}, up)->kind, kInputMouse);
  }
}

}  // namespace
}  // namespace qv::hooks
