#pragma once
// What each logon notification does: find the tracer's main window in the session's window
// station and post KIVM_LOCK_STATE to it.
#include <cstdint>

#include "common/clock.h"
#include "hooks/QvWLNP/qv_wlnp.h"

namespace qv::hooks {

// Posts KIVM_LOCK_STATE with `state` (kLockState*) and lParam 0. Nothing happens for a null
// or short record, a null window station or token, a window station that is not a private
// folder of this user, or a session without a tracer. Never waits on the tracer.
void PostLockState(const QvWlxNotificationInfo* info, std::uint64_t state, const Clock& clock);

}  // namespace qv::hooks
