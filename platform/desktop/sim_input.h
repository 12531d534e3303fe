#pragma once
// A deterministic InputSource: tests and the demo press keys and move the mouse, and every
// installed hook sees the event at once on the calling thread.
#include <map>
#include <mutex>
#include <set>

#include "common/clock.h"
#include "platform/desktop/input_source.h"

namespace qv::platform {

class SimInput final : public InputSource {
 public:
  explicit SimInput(const Clock& clock) : clock_(clock) {}

  HookId AddKeyboardHook(KeyboardHook hook, std::int32_t& error) override;
  HookId AddMouseHook(MouseHook hook, std::int32_t& error) override;
  bool RemoveHook(HookId id, std::int32_t& error) override;
  std::uint16_t AsyncKeyState(int virtualKey) override;
  bool LastInputTick(std::uint32_t& tick) const override;

  // A key press: the first is a plain key-down; pressing a key that is still down is an
  // auto-repeat (previous-state bit set).
  void KeyDown(std::uint32_t virtualKey, std::uint64_t focusWindow);
  void KeyUp(std::uint32_t virtualKey, std::uint64_t focusWindow);
  // A mouse message over `window`; button messages also change the buttons' key state.
  void Mouse(std::uint32_t message, std::uint64_t window, std::int32_t x = 0, std::int32_t y = 0);
  // Any event exactly as given (other hook codes, null records, odd flags).
  void Send(const KeyboardEvent& event);
  void Send(const MouseEvent& event);
  // Holds a key (Shift, Space, a button) down or lets it go without an event.
  void SetKeyDown(int virtualKey, bool down);

  // An install fails with this Win32 error once `after` more installs have succeeded; the
  // next removal fails likewise.
  void FailNextAdd(std::int32_t error, std::size_t after = 0);
  void FailNextRemove(std::int32_t error);
  // Makes LastInputTick fail, as on a desktop without an idle-time source.
  void SetLastInputReadable(bool readable);
  std::size_t HookCount() const;

 private:
  bool TakeFailure(std::int32_t& slot, std::int32_t& error);
  bool TakeAddFailure(std::int32_t& error);

  const Clock& clock_;
  // Hooks are called with `callMutex_` held, so that RemoveHook can wait for a running one.
  mutable std::recursive_mutex callMutex_;
  mutable std::mutex mutex_;
  std::map<HookId, KeyboardHook> keyboard_;
  std::map<HookId, MouseHook> mouse_;
  HookId nextId_ = 1;
  std::set<int> down_;
  std::set<int> pressedSinceQuery_;
  std::uint32_t lastInput_ = 0;
  bool lastInputReadable_ = true;
  std::int32_t failAdd_ = 0;
  std::size_t failAddAfter_ = 0;
  std::int32_t failRemove_ = 0;
};

}  // namespace qv::platform
