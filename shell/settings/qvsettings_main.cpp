#include <iostream>
#include <string_view>
#include <vector>

#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "shell/settings/qvsettings_cli.h"
#ifdef QV_SETTINGS_WINDOW
#include "shell/settings_window/settings_window_app.h"
#endif

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  std::vector<std::string_view> args(argv + 1, argv + argc);
  qv::Installation installation(qv::platform::DefaultRoot());
  qv::Context& ctx = installation.context();
  const qv::settings::SettingsEnvironment env{ctx, qv::settings::OwnerOfRoot(ctx.root)};
  if (args.empty() || (args.size() == 1 && args[0] == "--window")) {
#ifdef QV_SETTINGS_WINDOW
    if (!qv::settingswindow::DisplayAvailable()) {
      std::cerr << "qvsettings: no display to open the settings window on (DISPLAY and "
                   "WAYLAND_DISPLAY are unset).\nRun it in your desktop session, or use "
                   "`qvsettings show` and `qvsettings set PAGE.VALUE DATA` (qvsettings --help).\n";
      return qv::settings::kSettingsExitUsage;
    }
    return qv::settingswindow::RunSettingsWindow(argc, argv, env);
#else
    std::cerr << "qvsettings: this build has no settings window (it was built without Qt 6).\n"
                 "Use `qvsettings show` and `qvsettings set PAGE.VALUE DATA` (qvsettings --help).\n";
    return qv::settings::kSettingsExitUsage;
#endif
  }
  return qv::settings::RunQvsettings(args, env, std::cout, std::cerr);
}
