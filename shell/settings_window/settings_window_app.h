#pragma once
// Running the settings window: from qvsettings, and from the applet entry point of the
// shell library.
#include <QPointer>
#include <memory>

#include "context/context.h"
#include "shell/settings/settings_applet.h"
#include "shell/settings/settings_pages.h"

namespace qv::settingswindow {

class SettingsWindow;

// True where a window can be shown: a display server is named (DISPLAY, WAYLAND_DISPLAY),
// or Qt is told which platform to draw on (QT_QPA_PLATFORM, e.g. offscreen).
bool DisplayAvailable();

// Shows the settings window as the program's only window until it closes; 0 afterwards.
int RunSettingsWindow(int argc, char** argv, const settings::SettingsEnvironment& env);

// The applet of the shell library: its installation, and the window it opened, so that a
// second double click brings that window to the front instead of opening another.
class AppletHost {
 public:
  AppletHost();
  ~AppletHost();
  long Message(void* owner, unsigned message, std::intptr_t lParam1, std::intptr_t lParam2) {
    return applet_.Message(owner, message, lParam1, lParam2);
  }

 private:
  void Open();

  settings::SettingsApplet applet_;
  std::unique_ptr<Installation> installation_;
  QPointer<SettingsWindow> open_;
};

}  // namespace qv::settingswindow
