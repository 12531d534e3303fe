#pragma once
// The SessionSignals port: the session being locked and unlocked, the screen saver starting
// and stopping, the machine suspending and resuming, and the session or the machine going
// away. A simulated source drives tests and the demo; a logind source follows the real session.
#include <cstdint>
#include <functional>

namespace qv::platform {

enum class SessionEvent : std::uint8_t {
  Lock,
  Unlock,
  ScreenSaverStart,
  ScreenSaverStop,
  Suspend,
  Resume,
  SessionEnd,      // the user's session is gone (logged out, removed)
  SystemShutdown,  // the machine is about to power off or reboot
};

class SessionSignals {
 public:
  using Listener = std::function<void(SessionEvent)>;
  using ListenerId = std::uint32_t;  // 0 is "none"

  virtual ~SessionSignals() = default;
  // Listeners are called on the source's thread, in the order of the events.
  virtual ListenerId Subscribe(Listener listener) = 0;
  // Once this returns the listener is not running and is never called again.
  virtual void Unsubscribe(ListenerId id) = 0;
  // The state now, for a process that starts while the session is already locked or the
  // screen saver already runs.
  virtual bool Locked() const = 0;
  virtual bool ScreenSaverRunning() const = 0;
};

}  // namespace qv::platform
