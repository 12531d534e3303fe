#pragma once
// Session signals from several sources at once: on the Linux desktop logind tells of locks
// and sleep, the X server of its screen saver. Every listener hears every source; the
// session counts as locked, or its screen saver as running, when any source says so.
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/desktop/session_signals.h"

namespace qv::platform {

class CombinedSessionSignals final : public SessionSignals {
 public:
  // Sources are added before the first Subscribe and live as long as this object.
  void Add(std::unique_ptr<SessionSignals> source);
  std::size_t SourceCount() const { return sources_.size(); }

  ListenerId Subscribe(Listener listener) override;
  void Unsubscribe(ListenerId id) override;
  bool Locked() const override;
  bool ScreenSaverRunning() const override;

 private:
  std::vector<std::unique_ptr<SessionSignals>> sources_;
  std::mutex mutex_;
  std::map<ListenerId, std::vector<std::pair<SessionSignals*, ListenerId>>> listeners_;
  ListenerId nextId_ = 1;
};

}  // namespace qv::platform
