#pragma once
// Which desktop window shows the browser: the extension knows tabs, not windows, and the
// visit interface keys visits by window. The browser starts its native host as a child, so
// the host looks for the top-level windows of its parent process (_NET_WM_PID) on the X
// display in $DISPLAY.
#include <sys/types.h>

#include <cstdint>
#include <string_view>

namespace qv::browser {

// A viewable top-level window of `pid`, preferring one whose title starts with `title`
// (when given); 0 when there is none or no display.
std::uint64_t FindBrowserWindow(pid_t pid, std::string_view title);

}  // namespace qv::browser
