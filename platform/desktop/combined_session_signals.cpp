#include "platform/desktop/combined_session_signals.h"

namespace qv::platform {

void CombinedSessionSignals::Add(std::unique_ptr<SessionSignals> source) {
  if (source) sources_.push_back(std::move(source));
}

SessionSignals::ListenerId CombinedSessionSignals::Subscribe(Listener listener) {
  std::vector<std::pair<SessionSignals*, ListenerId>> subscriptions;
  for (auto& s : sources_) subscriptions.emplace_back(s.get(), s->Subscribe(listener));
  std::lock_guard lock(mutex_);
  listeners_.emplace(nextId_, std::move(subscriptions));
  return nextId_++;
}

void CombinedSessionSignals::Unsubscribe(ListenerId id) {
  std::vector<std::pair<SessionSignals*, ListenerId>> subscriptions;
  {
    std::lock_guard lock(mutex_);
    auto it = listeners_.find(id);
    if (it == listeners_.end()) return;
    subscriptions = std::move(it->second);
    listeners_.erase(it);
  }
  for (auto& [source, sub] : subscriptions) source->Unsubscribe(sub);
}

bool CombinedSessionSignals::Locked() const {
  for (const auto& s : sources_) {
    if (s->Locked()) return true;
  }
  return false;
}

bool CombinedSessionSignals::ScreenSaverRunning() const {
  for (const auto& s : sources_) {
    if (s->ScreenSaverRunning()) return true;
  }
  return false;
}

}  // namespace qv::platform
