#include "platform/desktop/sim_session_signals.h"

namespace qv::platform {

SessionSignals::ListenerId SimSessionSignals::Subscribe(Listener listener) {
  if (!listener) return 0;
  std::lock_guard lock(mutex_);
  listeners_[nextId_] = std::move(listener);
  return nextId_++;
}

void SimSessionSignals::Unsubscribe(ListenerId id) {
  std::lock_guard call(callMutex_);
  std::lock_guard lock(mutex_);
  listeners_.erase(id);
}

bool SimSessionSignals::Locked() const {
  std::lock_guard lock(mutex_);
  return locked_;
}

bool SimSessionSignals::ScreenSaverRunning() const {
  std::lock_guard lock(mutex_);
  return screenSaver_;
}

void SimSessionSignals::Raise(SessionEvent event) {
  std::lock_guard call(callMutex_);
  std::map<ListenerId, Listener> listeners;
  {
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
    listeners = listeners_;
  }
  for (auto& [id, listener] : listeners) listener(event);
}

}  // namespace qv::platform
