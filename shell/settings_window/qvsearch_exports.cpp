// The shell library's exports: the settings applet's entry point.
#include <cstdint>

#include "shell/settings_window/settings_window_app.h"

extern "C" __attribute__((visibility("default"))) long CPlApplet(void* hwndCPl, unsigned message,
                                                                  std::intptr_t lParam1,
                                                                  std::intptr_t lParam2) {
  // The panel's calls carry nothing of ours, so the applet lives as long as the library.
  static qv::settingswindow::AppletHost host;
  return host.Message(hwndCPl, message, lParam1, lParam2);
}
