#include "hooks/QvHooks/input_filters.h"

#include "hooks/QvHooks/tracer_messages.h"

namespace qv::hooks {

using namespace qv::platform;

namespace {

// Either of the two highest bits of the key state: down now, or (bit 14) reported down by
// the system's toggle bookkeeping.
constexpr std::uint16_t kKeyDownBits = 0xC000;

// The keys that turn a mouse move into work: dragging and selecting.
constexpr int kMoveKeys[] = {VK_LBUTTON, VK_RBUTTON, VK_SHIFT, VK_SPACE};

}  // namespace

std::optional<InputNotice> FilterKeyboard(const KeyboardEvent& event) {
  if (event.code != HC_ACTION) return std::nullopt;
  const bool released = (event.keyFlags & kKeyFlagReleased) != 0;
  const bool wasDown = (event.keyFlags & kKeyFlagPreviousDown) != 0;
  if (!released && wasDown) return std::nullopt;  // auto-repeat
  return InputNotice{kInputKeyboard, event.focusWindow};
}

std::optional<InputNotice> FilterMouse(const MouseEvent& event,
                                       const std::function<std::uint16_t(int)>& keyState) {
  if (event.code != HC_ACTION || !event.record) return std::nullopt;
  switch (event.message) {
    case WM_NCMOUSEHOVER:
    case WM_NCMOUSELEAVE:
    case WM_NCHITTEST:
    case WM_MOUSEACTIVATE:
    case WM_CAPTURECHANGED:
      return std::nullopt;
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE: {
      bool held = false;
      for (int vk : kMoveKeys) held = held || (keyState(vk) & kKeyDownBits) != 0;
      if (!held) return std::nullopt;
      break;
    }
    default:
      break;
  }
  return InputNotice{kInputMouse, event.record->window};
}

}  // namespace qv::hooks
