// QvManager with its notification icon. The manager runs on a thread of its own and the icon
// on the GUI thread; with --no-icon, without a display or where the desktop has no tray, the
// manager runs alone, still managing the tracer.
#include <QApplication>
#include <QSystemTrayIcon>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "context/language_module.h"
#include "manager/runtime/manager_program.h"
#include "manager/tray_window/manager_tray.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "shell/start_panel_window/ui_utils_windows.h"

namespace {

bool HaveDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qv;
  using namespace qv::manager;
  platform::RestrictUmask();
  BlockStopSignals();  // before Qt starts any thread
  ManagerArgs args;
  if (const int code = ParseManagerArgs(argc, argv, args, std::cout, std::cerr); code >= 0) {
    return code;
  }
  if (args.noIcon || !HaveDisplay()) return RunManager(args, {});

  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    std::cerr << "QvManager: the desktop has no notification area; running without an icon\n";
    return RunManager(args, {});
  }

  Installation install(platform::DefaultRoot());
  Context& ctx = install.context();
  LanguageModule texts;
  const bool haveTexts = Succeeded(LanguageModule::Load(ctx, CurrentLangId(), texts));
  startpanel::RegisterUIUtilsClassWithWindows(ctx);
  std::shared_ptr<IKivUIUtils> uiUtils;
  if (Failed(ctx.classes.CreateInstance(CLSID_KivUIUtils, uiUtils))) uiUtils.reset();
  ManagerTray tray(haveTexts ? &texts : nullptr, uiUtils);

  ManagerHooks hooks;
  hooks.onIcon = [&tray](const IconUpdate& update) {
    QMetaObject::invokeMethod(&tray, [&tray, update] { tray.Show(update); }, Qt::QueuedConnection);
  };
  hooks.onReady = [&tray](std::function<void(std::uint64_t)> post) {
    QMetaObject::invokeMethod(&tray, [&tray, post] { tray.SetPoster(post); },
                              Qt::BlockingQueuedConnection);
  };
  hooks.onExit = [&tray, &app] {
    // The poster reaches the host, which ends with this call: it is withdrawn first.
    QMetaObject::invokeMethod(&tray, [&tray] { tray.SetPoster(nullptr); },
                              Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(&app, &QApplication::quit, Qt::QueuedConnection);
  };
  int code = 0;
  std::thread manager([&] { code = RunManager(args, hooks); });
  QApplication::exec();
  manager.join();
  return code;
}
