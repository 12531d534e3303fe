#pragma once
// A SessionSignals source that tests and the demo drive by hand.
#include <map>
#include <mutex>

#include "platform/desktop/session_listeners.h"
#include "platform/desktop/session_signals.h"

namespace qv::platform {

class SimSessionSignals final : public SessionSignals {
 public:
  ListenerId Subscribe(Listener listener) override;
  void Unsubscribe(ListenerId id) override;
  bool Locked() const override;
  bool ScreenSaverRunning() const override;

  // Updates the state and tells every listener, on the calling thread.
  void Raise(SessionEvent event);

 private:
  mutable std::mutex mutex_;  // guards the state below
  SessionListeners listeners_;
  bool locked_ = false;
  bool screenSaver_ = false;
};

}  // namespace qv::platform
