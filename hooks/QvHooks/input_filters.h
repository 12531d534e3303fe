#pragma once
// Which keyboard and mouse events count as the user working: the rules of the input hooks.
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/desktop/input_source.h"

namespace qv::hooks {

// What a counted event tells the tracer: KIVM_INPUT's wParam and lParam.
struct InputNotice {
  std::uint64_t kind = 0;    // kInputKeyboard or kInputMouse
  std::uint64_t window = 0;  // the window that received the input
};

// Key-ups and first key-downs count; auto-repeated key-downs (previous state down, not a
// release) do not, nor does any event whose code is not HC_ACTION.
std::optional<InputNotice> FilterKeyboard(const platform::KeyboardEvent& event);

// Mouse events count except hover, leave, hit tests, activation, capture changes and events
// without a record; a move counts only while the left or right button, Shift or Space is
// held. `keyState` is the asynchronous key state.
std::optional<InputNotice> FilterMouse(const platform::MouseEvent& event,
                                       const std::function<std::uint16_t(int)>& keyState);

}  // namespace qv::hooks
