// qvbrowserhost: the native-messaging host of the Quillon Vesper browser extension.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string_view>

#include "browser/host/browser_host.h"
#include "browser/host/browser_window.h"
#include "browser/host/host_install.h"
#include "browser/host/native_messaging.h"
#include "context/context.h"
#include "hooks/QvHooks/qv_hooks.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"

namespace {

constexpr std::string_view kUsage =
    "usage: qvbrowserhost --install\n"
    "       qvbrowserhost --help\n"
    "The browser starts qvbrowserhost for the Quillon Vesper extension: it reports the pages\n"
    "you visit to the activity tracer and keeps copies of pages that forbid caching, so that\n"
    "they can be found and shown again later. It talks only to its own extension.\n"
    "  --install  write the host manifests for Chromium (~/.config/chromium/\n"
    "             NativeMessagingHosts/) and Firefox (~/.mozilla/native-messaging-hosts/),\n"
    "             then print how to load the extension\n"
    "State goes to QV_ROOT (default $XDG_DATA_HOME/quillon-vesper).\n"
    "Exit codes: 0 done, 1 usage, 2 not started by our extension, 3 install failed,\n"
    "4 the browser's messages could not be read.\n";

#ifndef QV_EXTENSION_DIR
#define QV_EXTENSION_DIR ""
#endif

std::filesystem::path ExtensionFolder(const std::filesystem::path& self) {
  // Installed beside the program's share folder, else the source tree it was built from.
  const auto installed = self.parent_path().parent_path() / "share" / "quillon-vesper" / "browser-extension";
  std::error_code ec;
  if (std::filesystem::exists(installed / "manifest.json", ec)) return installed;
  return QV_EXTENSION_DIR;
}

int Install() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const char* home = std::getenv("HOME");
  if (ec || !home || !*home) {
    std::cerr << "qvbrowserhost: cannot tell where this program or the home folder is; "
                 "set HOME and run it by its full path\n";
    return 3;
  }
  std::vector<std::filesystem::path> written;
  std::string error;
  if (!qv::browser::InstallManifests(home, self, written, error)) {
    std::cerr << "qvbrowserhost: " << error << "\n";
    return 3;
  }
  for (const auto& f : written) std::cout << "wrote " << f.string() << "\n";
  const auto ext = ExtensionFolder(self);
  std::cout << "Chromium: open chrome://extensions, turn on Developer mode, choose \"Load unpacked\"\n"
               "  and pick " << ext.string() << "\n"
               "  (or start it with: chromium --load-extension=" << ext.string() << ")\n"
               "Firefox: open about:debugging, \"This Firefox\", \"Load Temporary Add-on\" and pick\n"
               "  " << (ext / "manifest.json").string() << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  if (argc >= 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (argc == 2 && std::string_view(argv[1]) == "--install") return Install();
  if (argc >= 2 && std::string_view(argv[1]).starts_with("--")) {
    std::cerr << "qvbrowserhost: unknown option " << argv[1] << "\n" << kUsage;
    return 1;
  }
  if (!qv::browser::CallerAllowed(argc, argv)) {
    std::cerr << "qvbrowserhost: refused: only the Quillon Vesper extension ("
              << qv::browser::ChromiumOrigin() << ") may start this host; run "
              << "qvbrowserhost --install to register it\n";
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);  // a browser that went away is a failed write, not a crash

  qv::Installation install(qv::platform::DefaultRoot());
  std::unique_ptr<qv::platform::UrlHistory> history;
  if (const auto rc = qv::platform::UrlHistory::Open(install.context().root, history); rc != 0) {
    std::cerr << "qvbrowserhost: the URL history under " << install.context().root.string()
              << " cannot be opened (error " << rc << ")\n";
    return 4;
  }
  const pid_t browser = ::getppid();
  qv::browser::BrowserHost host({install.context(), *history,
                                 {&KivVisitStart, &KivVisitEnd},
                                 [] { return KivIsRunning(); },
                                 [browser](std::string_view title) {
                                   return qv::browser::FindBrowserWindow(browser, title);
                                 }});
  int code = 0;
  for (bool more = true; more;) {
    std::string message;
    switch (qv::browser::ReadFrame(STDIN_FILENO, message)) {
      case qv::browser::FrameResult::Ok:
        more = qv::browser::WriteFrame(STDOUT_FILENO, host.Handle(message));
        break;
      case qv::browser::FrameResult::TooLarge:
        more = qv::browser::WriteFrame(
            STDOUT_FILENO, R"({"ok":false,"error":"message larger than 1 MB, not read"})");
        break;
      case qv::browser::FrameResult::End:
        more = false;
        break;
      case qv::browser::FrameResult::Truncated:
      case qv::browser::FrameResult::Error:
        std::cerr << "qvbrowserhost: the browser's message stream broke off\n";
        code = 4;
        more = false;
        break;
    }
  }
  host.Stop();  // the captures already taken are stored before the host ends
  return code;
}
