#include "hooks/QvWLNP/session_relay.h"

#include <unistd.h>

#include "hooks/QvHooks/tracer_messages.h"
#include "hooks/QvWLNP/lock_notice.h"

namespace qv::hooks {

using platform::SessionEvent;

SessionRelay::SessionRelay(platform::SessionSignals& signals, std::filesystem::path windowStation,
                           const Clock& clock)
    : signals_(signals), windowStation_(windowStation.string()), clock_(clock) {
  listener_ = signals_.Subscribe([this](SessionEvent e) { OnEvent(e); });
}

SessionRelay::~SessionRelay() { signals_.Unsubscribe(listener_); }

void SessionRelay::OnEvent(SessionEvent event) {
  std::uint64_t state = 0;
  switch (event) {
    case SessionEvent::Lock: state = kLockStateLocked; break;
    case SessionEvent::Unlock: state = kLockStateUnlocked; break;
    case SessionEvent::ScreenSaverStart: state = kLockStateScreenSaverStarted; break;
    case SessionEvent::ScreenSaverStop: state = kLockStateScreenSaverStopped; break;
    case SessionEvent::Suspend:
    case SessionEvent::Resume:
    case SessionEvent::SessionEnd:
    case SessionEvent::SystemShutdown: return;
  }
  // The session's user stands for its logon token.
  const uid_t user = ::getuid();
  QvWlxNotificationInfo info{};
  info.size = sizeof(info);
  info.windowStation = windowStation_.c_str();
  info.token = &user;
  PostLockState(&info, state, clock_);
}

}  // namespace qv::hooks
