#pragma once
// The listeners of one SessionSignals source. Events reach them in order on the source's
// thread; once Unsubscribe returns, the listener is not running and never runs again, even
// when called from inside a listener (the call lock is recursive).
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/desktop/session_signals.h"

namespace qv::platform {

class SessionListeners {
 public:
  using Listener = SessionSignals::Listener;
  using ListenerId = SessionSignals::ListenerId;

  ListenerId Subscribe(Listener listener) {
    if (!listener) return 0;
    std::lock_guard lock(mutex_);
    listeners_.emplace(nextId_, std::move(listener));
    return nextId_++;
  }

  void Unsubscribe(ListenerId id) {
    std::lock_guard call(callMutex_);
    std::lock_guard lock(mutex_);
    listeners_.erase(id);
  }

  // `update` runs under the list's lock before any listener is called, so a state that the
  // event changes is seen changed by everyone the event reaches.
  template <typename Update>
  void Deliver(SessionEvent event, Update&& update) {
    std::lock_guard call(callMutex_);
    std::vector<Listener> listeners;
    {
      std::lock_guard lock(mutex_);
      update();
      for (auto& [id, l] : listeners_) listeners.push_back(l);
    }
    for (auto& l : listeners) l(event);
  }
  void Deliver(SessionEvent event) {
    Deliver(event, [] {});
  }

 private:
  std::recursive_mutex callMutex_;  // held while listeners run
  std::mutex mutex_;
  std::map<ListenerId, Listener> listeners_;
  ListenerId nextId_ = 1;
};

}  // namespace qv::platform
