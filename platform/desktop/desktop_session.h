#pragma once
// The session signals of the real Linux desktop: locks, unlocks and sleep from logind, the
// screen saver from the X server's XScreenSaver extension. Either may be missing (no logind
// in a container, a server without the extension); each missing one is written once to the
// event log, and the tracer goes on without what it would have told.
#include <memory>

#include "platform/desktop/session_signals.h"
#include "platform/eventlog/event_log.h"

namespace qv::platform {

// Warning, category 1: a source of session signals is missing. Strings: the source, what
// goes unnoticed without it, the error's low word "%d(0x%X)" and its text.
inline constexpr std::uint32_t kEventSessionSourceMissing = 0xC0000078;

// Never null; `eventLog` may be.
std::unique_ptr<SessionSignals> ConnectDesktopSession(const char* display,
                                                      const EventLog* eventLog);

}  // namespace qv::platform
