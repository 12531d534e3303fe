#pragma once
// The InputSource port on a real X server: keyboard and mouse notices from XInput2 raw
// events (seen whatever window has the focus), and the last input time from the
// XScreenSaver extension's idle time.
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "common/clock.h"
#include "common/hresult.h"
#include "platform/desktop/input_source.h"

namespace qv::platform {

namespace x11 {
struct Conn;
}

class X11Input final : public InputSource {
 public:
  // Null with `hr` set when there is no X server or it lacks XInput 2. `onLost` is told once
  // when the connection to the server breaks (see x11::LostHandler); no input comes after.
  static std::unique_ptr<X11Input> Connect(const char* display, const Clock& clock, HRESULT& hr,
                                           std::function<void()> onLost = nullptr);
  ~X11Input() override;
  X11Input(const X11Input&) = delete;
  X11Input& operator=(const X11Input&) = delete;

  HookId AddKeyboardHook(KeyboardHook hook, std::int32_t& error) override;
  HookId AddMouseHook(MouseHook hook, std::int32_t& error) override;
  bool RemoveHook(HookId id, std::int32_t& error) override;
  std::uint16_t AsyncKeyState(int virtualKey) override;
  // False when the server has no XScreenSaver extension.
  bool LastInputTick(std::uint32_t& tick) const override;

 private:
  X11Input(std::unique_ptr<x11::Conn> conn, int xiOpcode, bool idle, const Clock& clock);
  void EventLoop();
  std::uint64_t KeyboardTarget();
  std::uint64_t UnderPointer(std::int32_t& x, std::int32_t& y);

  std::unique_ptr<x11::Conn> conn_;
  mutable std::mutex connMutex_;
  int xiOpcode_ = 0;
  bool idle_ = false;
  const Clock& clock_;

  mutable std::recursive_mutex callMutex_;  // held while hooks run
  std::mutex mutex_;
  std::map<HookId, KeyboardHook> keyboard_;
  std::map<HookId, MouseHook> mouse_;
  HookId nextId_ = 1;
  std::set<int> vkDown_;
  std::set<int> vkPressed_;  // since the last AsyncKeyState query

  // Event thread state.
  std::set<int> keysDown_;  // key codes
  std::int64_t lastPointerQuery_ = 0;
  MouseRecord lastPointer_;
  int wakeFd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The virtual key of an X key symbol: letters, digits, space, the modifiers and the common
// editing keys; 0 for the rest.
std::uint32_t VirtualKeyOf(unsigned long keysym);

}  // namespace qv::platform
