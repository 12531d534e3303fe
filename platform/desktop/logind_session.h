#pragma once
// The SessionSignals port from systemd-logind: the session's Lock and Unlock signals and its
// LockedHint, the manager's PrepareForSleep (suspend and resume), SessionRemoved for this
// session (SessionEnd) and PrepareForShutdown (SystemShutdown). The session is the
// process's own, or, for a process outside any session (a systemd user unit), the user's
// graphical session. logind is optional:
// libsystemd is loaded at run time, and Connect returns null where the library, the system
// bus or logind is missing, so the caller can go on without lock notices. logind has no
// screen-saver state; ScreenSaverRunning is always false.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "common/hresult.h"
#include "platform/desktop/session_listeners.h"
#include "platform/desktop/session_signals.h"

namespace qv::platform {

class LogindSession final : public SessionSignals {
 public:
  static std::unique_ptr<LogindSession> Connect(HRESULT& hr);
  ~LogindSession() override;
  LogindSession(const LogindSession&) = delete;
  LogindSession& operator=(const LogindSession&) = delete;

  ListenerId Subscribe(Listener listener) override;
  void Unsubscribe(ListenerId id) override;
  bool Locked() const override { return locked_; }
  bool ScreenSaverRunning() const override { return false; }

  struct Bus;  // the loaded library and the connection

 private:
  explicit LogindSession(std::unique_ptr<Bus> bus);
  void Loop();

 public:
  // Called from the bus thread by the signal handlers.
  void Deliver(SessionEvent event);

 private:
  std::unique_ptr<Bus> bus_;
  std::atomic<bool> locked_{false};
  SessionListeners listeners_;
  int wakeFd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace qv::platform
