#pragma once
// The InputSource port: the user's keyboard and mouse as the input filters see them. Hooks
// are called for every event on the source's own thread and must return quickly (they only
// post). SimInput drives it in tests and the demo; an X11 source reads the real desktop.
#include <cstdint>
#include <functional>
#include <optional>

namespace qv::platform {

// One keyboard event. `keyFlags` is laid out as a keyboard hook's lParam: bits 0-15 the
// repeat count, bit 30 the previous key state (1: the key was already down), bit 31 the
// transition state (1: the key is being released).
struct KeyboardEvent {
  int code = 0;  // HC_ACTION for an event to act on
  std::uint32_t virtualKey = 0;
  std::uint32_t keyFlags = 0;
  std::uint64_t focusWindow = 0;  // the window with the keyboard focus in the receiving thread
};

inline constexpr std::uint32_t kKeyFlagPreviousDown = 1u << 30;
inline constexpr std::uint32_t kKeyFlagReleased = 1u << 31;

// The mouse hook record: where the event happened and the window under it.
struct MouseRecord {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint64_t window = 0;
};

struct MouseEvent {
  int code = 0;
  std::uint32_t message = 0;          // WM_MOUSEMOVE, WM_LBUTTONDOWN, ...
  std::optional<MouseRecord> record;  // absent stands for a null record pointer
};

class InputSource {
 public:
  using HookId = std::uint32_t;  // 0 is "no hook"
  using KeyboardHook = std::function<void(const KeyboardEvent&)>;
  using MouseHook = std::function<void(const MouseEvent&)>;

  virtual ~InputSource() = default;

  // Install a hook; on failure 0 is returned and `error` holds the Win32 error code.
  virtual HookId AddKeyboardHook(KeyboardHook hook, std::int32_t& error) = 0;
  virtual HookId AddMouseHook(MouseHook hook, std::int32_t& error) = 0;
  // Removes a hook; once this returns the hook is not running and is never called again.
  // False with `error` set if it fails.
  virtual bool RemoveHook(HookId id, std::int32_t& error) = 0;

  // The asynchronous key state: bit 15 set while the key is down, bit 0 if it was pressed
  // since the previous query.
  virtual std::uint16_t AsyncKeyState(int virtualKey) = 0;
  // The tick count (milliseconds) of the last input event; false if it cannot be read.
  virtual bool LastInputTick(std::uint32_t& tick) const = 0;
};

}  // namespace qv::platform
