// The C exports; they keep no state and do nothing at load.
#include "hooks/QvWLNP/qv_wlnp.h"

#include "hooks/QvHooks/tracer_messages.h"
#include "hooks/QvWLNP/lock_notice.h"

namespace {

void Notify(const QvWlxNotificationInfo* info, std::uint64_t state) {
  const qv::SystemClock clock;
  qv::hooks::PostLockState(info, state, clock);
}

}  // namespace

extern "C" {

void WLLock(const QvWlxNotificationInfo* info) { Notify(info, qv::hooks::kLockStateLocked); }
void WLUnlock(const QvWlxNotificationInfo* info) { Notify(info, qv::hooks::kLockStateUnlocked); }
void WLStartScreenSaver(const QvWlxNotificationInfo* info) {
  Notify(info, qv::hooks::kLockStateScreenSaverStarted);
}
void WLStopScreenSaver(const QvWlxNotificationInfo* info) {
  Notify(info, qv::hooks::kLockStateScreenSaverStopped);
}

}  // extern "C"
