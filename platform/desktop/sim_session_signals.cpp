#include "platform/desktop/sim_session_signals.h"

namespace qv::platform {

SessionSignals::ListenerId SimSessionSignals::Subscribe(Listener listener) {
  return listeners_.Subscribe(std::move(listener));
}

void SimSessionSignals::Unsubscribe(ListenerId id) { listeners_.Unsubscribe(id); }

bool SimSessionSignals::Locked() const {
  std::lock_guard lock(mutex_);
  return locked_;
}

bool SimSessionSignals::ScreenSaverRunning() const {
  std::lock_guard lock(mutex_);
  return screenSaver_;
}

void SimSessionSignals::Raise(SessionEvent event) {
  listeners_.Deliver(event, [&] {
    std::lock_guard lock(mutex_);
    switch (event) {
      case SessionEvent::Lock: locked_ = true; break;
      case SessionEvent::Unlock: locked_ = false; break;
      case SessionEvent::ScreenSaverStart: screenSaver_ = true; break;
      case SessionEvent::ScreenSaverStop: screenSaver_ = false; break;
      case SessionEvent::Suspend:
      case SessionEvent::Resume:
      case SessionEvent::SessionEnd:
      case SessionEvent::SystemShutdown: break;
    }
  });
}

}  // namespace qv::platform
