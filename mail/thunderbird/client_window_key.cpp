#include "mail/thunderbird/client_window_key.h"

namespace qv::mail::tb {

platform::DesktopWindow ClientWindow(const platform::Desktop& desktop, pid_t client) {
  if (client <= 0) return 0;
  platform::WindowState s;
  if (const auto fg = desktop.Foreground(); fg != 0 && desktop.GetWindow(fg, s) && s.pid == client) {
    return fg;
  }
  for (const auto w : desktop.TopLevelWindows()) {
    if (desktop.GetWindow(w, s) && s.pid == client && s.visible && !s.minimized) return w;
  }
  return 0;
}

}  // namespace qv::mail::tb
