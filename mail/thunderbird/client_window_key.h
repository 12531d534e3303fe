#pragma once
// The visit key of the mail client: its desktop window. The host is started by the client, so
// the client is its parent process; its foreground window counts first, else its topmost
// visible top-level window.
#include <sys/types.h>

#include "platform/desktop/desktop.h"

namespace qv::mail::tb {

platform::DesktopWindow ClientWindow(const platform::Desktop& desktop, pid_t client);

}  // namespace qv::mail::tb
