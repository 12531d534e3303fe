// QvManager with its notification icon. The manager runs on a thread of its own and the icon
// on the GUI thread; with --no-icon, without a display or where the desktop has no tray, the
// manager runs alone, still managing the tracer.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QSystemTrayIcon>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

#include "context/language_module.h"
#include "manager/runtime/manager_program.h"
#include "manager/tray_window/manager_tray.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "service/QvRankingSvc/caller_folders.h"
#include "shell/start_panel_window/ui_utils_windows.h"

namespace {

bool Connects(const std::string& path, bool abstract) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;
  if (path.size() + offset >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path + offset, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0;
  ::close(fd);
  return ok;
}

// Qt ends the process when it cannot reach its display, so a local X display that does not
// answer means running without an icon. A remote display is left for Qt to try.
bool HaveDisplay() {
  if (const char* w = std::getenv("WAYLAND_DISPLAY"); w != nullptr && *w != '\0') return true;
  const char* d = std::getenv("DISPLAY");
  if (d == nullptr || *d == '\0') return false;
  const std::string display = d;
  if (display[0] != ':') return true;
  const std::string number = display.substr(1, display.find('.') - 1);
  const std::string socket = "/tmp/.X11-unix/X" + number;
  return Connects(socket, true) || Connects(socket, false);
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
  tray.SetStatusContext(&ctx, service::OwnerIdentity(::geteuid()));

  ManagerHooks hooks;
  hooks.onIcon = [&tray](const IconUpdate& update) {
    QMetaObject::invokeMethod(&tray, [&tray, update] { tray.Show(update); }, Qt::QueuedConnection);
  };
  hooks.onReady = [&tray](std::function<void(std::uint64_t)> post) {
    QMetaObject::invokeMethod(&tray, [&tray, post] { tray.SetPoster(post); },
                              Qt::BlockingQueuedConnection);
  };
  hooks.showStatus = [&tray] {
    QMetaObject::invokeMethod(&tray, [&tray] { tray.ShowStatusSheet(); }, Qt::QueuedConnection);
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
