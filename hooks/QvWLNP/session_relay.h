#pragma once
// Passes the session's lock and screen-saver changes from a SessionSignals source to the
// logon notifications, as the login manager would call them: one record per event, naming
// the session's window station. Suspend and resume are not lock states and are left alone.
#include <filesystem>
#include <string>

#include "common/clock.h"
#include "platform/desktop/session_signals.h"

namespace qv::hooks {

class SessionRelay {
 public:
  SessionRelay(platform::SessionSignals& signals, std::filesystem::path windowStation,
               const Clock& clock);
  ~SessionRelay();
  SessionRelay(const SessionRelay&) = delete;
  SessionRelay& operator=(const SessionRelay&) = delete;

 private:
  void OnEvent(platform::SessionEvent event);

  platform::SessionSignals& signals_;
  std::string windowStation_;
  const Clock& clock_;
  platform::SessionSignals::ListenerId listener_ = 0;
};

}  // namespace qv::hooks
