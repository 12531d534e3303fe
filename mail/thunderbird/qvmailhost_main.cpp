// qvmailhost: the native-messaging host of the Quillon Vesper mail extension. The mail client
// starts it with the extension's id; it reads the extension's messages on its standard input
// and reports each displayed message of a Maildir account to the activity tracer as a visit.
// `qvmailhost --install` registers it with the client.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "hooks/QvHooks/qv_hooks.h"
#include "mail/thunderbird/client_window_key.h"
#include "mail/thunderbird/host_install.h"
#include "mail/thunderbird/host_message.h"
#include "mail/thunderbird/mail_host.h"
#include "mail/thunderbird/native_messaging.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/messaging/window_station.h"
#include "platform/registry/registry.h"
#ifdef QV_HAVE_X11
#include "platform/desktop/x11_desktop.h"
#endif

namespace {

namespace tb = qv::mail::tb;

constexpr const char* kUsage =
    "usage: qvmailhost --install [--account ID=MAILDIR]... [--home DIR]\n"
    "       qvmailhost MANIFEST EXTENSION-ID   (as the mail client starts it)\n"
    "\n"
    "The native-messaging host of the Quillon Vesper mail extension for Thunderbird. The\n"
    "extension tells it which message is displayed; for an account kept in Maildir folders\n"
    "the host reports the message to the activity tracer as a visit, ended by the next\n"
    "message, by closing its tab or by closing Thunderbird.\n"
    "\n"
    "--install writes the host's manifest to ~/.mozilla/native-messaging-hosts/ and\n"
    "~/.thunderbird/native-messaging-hosts/ (under DIR with --home) and prints how to load\n"
    "the extension. --account ID=MAILDIR tells the host that Thunderbird's account ID (as\n"
    "the extension's options page shows it) keeps its mail in the Maildir++ folder MAILDIR;\n"
    "give it once per account.\n"
    "\n"
    "Exit codes: 0 done (or the client closed the connection), 2 bad arguments or an\n"
    "extension that is not ours, 3 the connection carried something that is not a message,\n"
    "4 the install failed.\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "qvmailhost: %s\n\n%s", problem, kUsage);
  return 2;
}

std::filesystem::path ExtensionFolder(const std::filesystem::path& program) {
  const auto installed = program.parent_path().parent_path() / "share" / "quillon-vesper" /
                         "thunderbird-extension";
  std::error_code ec;
  if (std::filesystem::exists(installed / "manifest.json", ec)) return installed;
  return QV_TB_EXTENSION_SOURCE;
}

int Install(int argc, char** argv) {
  qv::platform::Registry registry(qv::platform::DefaultRoot());
  const char* homeEnv = std::getenv("HOME");
  std::filesystem::path home = homeEnv != nullptr ? homeEnv : "";
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if ((arg == "--account" || arg == "--home") && i + 1 < argc) {
      const std::string_view value = argv[++i];
      if (arg == "--home") {
        home = value;
        continue;
      }
      const auto eq = value.find('=');
      if (eq == std::string_view::npos || eq == 0) return Usage("--account takes ID=MAILDIR");
      const std::filesystem::path root(value.substr(eq + 1));
      std::error_code ec;
      if (!root.is_absolute() || !std::filesystem::is_directory(root / "cur", ec)) {
        return Usage("MAILDIR must be the absolute path of a Maildir folder (with cur/ inside)");
      }
      if (qv::Failed(tb::AddAccount(registry, value.substr(0, eq), root))) {
        std::fprintf(stderr, "qvmailhost: the account could not be stored under %s\n",
                     registry.root().c_str());
        return 4;
      }
      std::printf("account %.*s: %s\n", static_cast<int>(eq), value.data(), root.c_str());
    } else {
      return Usage("unexpected argument to --install");
    }
  }
  if (home.empty() || !home.is_absolute()) return Usage("HOME is not set; give --home DIR");
  std::error_code ec;
  const auto program = std::filesystem::canonical("/proc/self/exe", ec);
  if (ec) {
    std::fprintf(stderr, "qvmailhost: cannot tell where this program is: %s\n", ec.message().c_str());
    return 4;
  }
  std::filesystem::path failed;
  if (const qv::HRESULT hr = tb::InstallHostManifest(home, program, failed); qv::Failed(hr)) {
    std::fprintf(stderr, "qvmailhost: could not write %s (%s %s); check that folder's owner and "
                         "permissions\n",
                 failed.c_str(), qv::FormatHresult(hr).c_str(), qv::SystemMessage(hr).c_str());
    return 4;
  }
  for (const auto& path : tb::ManifestPaths(home)) std::printf("wrote %s\n", path.c_str());
  std::printf(
      "\nNow load the extension in Thunderbird: Tools > Developer Tools > Debug Add-ons >\n"
      "Load Temporary Add-on..., and choose %s/manifest.json\n"
      "(or pack that folder as a .xpi and install it from the Add-ons Manager).\n"
      "Accounts known to the host: %zu; add one with --account ID=MAILDIR.\n",
      ExtensionFolder(program).c_str(), tb::ReadAccounts(registry).size());
  return 0;
}

// The client's window as the visit key; without a desktop, a window of our own on the
// user's window station, so that the tracer still hears of the visit.
class WindowKey {
 public:
  WindowKey() : loop_(clock_) {
#ifdef QV_HAVE_X11
    if (std::getenv("DISPLAY") != nullptr) {
      qv::HRESULT hr = qv::S_OK;
      desktop_ = qv::platform::X11Desktop::Connect(nullptr, hr);
    }
#endif
  }
  std::uint64_t operator()() {
#ifdef QV_HAVE_X11
    if (desktop_) {
      if (const auto w = tb::ClientWindow(*desktop_, ::getppid()); w != 0) return w;
    }
#endif
    if (!own_) {
      std::unique_ptr<qv::platform::WindowStation> station;
      if (qv::Failed(qv::platform::OpenUserWindowStation(clock_, nullptr, station))) return 0;
      station_ = std::move(station);
      if (qv::Failed(station_->CreateWindow(loop_, {"QvMailHostWindow", "Thunderbird mail", false},
                                            [](const qv::platform::Message&) -> qv::platform::LRESULT { return 0; },
                                            own_))) {
        return 0;
      }
    }
    return own_->handle();
  }

 private:
  qv::SystemClock clock_;
  qv::platform::MessageLoop loop_;
  std::unique_ptr<qv::platform::WindowStation> station_;
  std::unique_ptr<qv::platform::Window> own_;
#ifdef QV_HAVE_X11
  std::unique_ptr<qv::platform::X11Desktop> desktop_;
#endif
};

int Serve() {
  const qv::platform::Registry registry(qv::platform::DefaultRoot());
  qv::mail::addin::VisitEntryPoints points;
  points.start = &KivVisitStart;
  points.update = &KivVisitUpdate;
  points.end = &KivVisitEnd;
  points.isRunning = &KivIsRunning;
  const qv::mail::addin::VisitBinding visits(points);
  WindowKey key;
  tb::MailHost host(visits, tb::ReadAccounts(registry), [&key] { return key(); });
  for (;;) {
    std::string message;
    switch (tb::ReadFrame(STDIN_FILENO, tb::kMaxIncomingMessage, message)) {
      case tb::FrameResult::Message:
        if (qv::Failed(tb::WriteFrame(STDOUT_FILENO, host.Handle(message)))) return 0;  // client gone
        break;
      case tb::FrameResult::End:
        return 0;
      case tb::FrameResult::TooLarge:
        (void)tb::WriteFrame(STDOUT_FILENO, "{\"ok\":false,\"error\":\"message too large\"}");
        std::fprintf(stderr, "qvmailhost: a message longer than %zu bytes; closing\n",
                     tb::kMaxIncomingMessage);
        return 3;
      case tb::FrameResult::Truncated:
      case tb::FrameResult::NeedMore:
        std::fprintf(stderr, "qvmailhost: the connection ended inside a message\n");
        return 3;
      case tb::FrameResult::IoError:
        std::fprintf(stderr, "qvmailhost: reading the connection failed\n");
        return 3;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();
  if (argc >= 2) {
    const std::string_view first = argv[1];
    if (first == "--help" || first == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (first == "--install") return Install(argc, argv);
  }
  // The client passes the manifest's path and the id of the extension that connects.
  if (argc != 3) return Usage("expected the manifest path and the extension id, or --install");
  if (std::string_view(argv[2]) != tb::kExtensionId) {
    std::fprintf(stderr, "qvmailhost: extension '%s' is not the Quillon Vesper mail extension (%s); "
                         "refused\n",
                 argv[2], std::string(tb::kExtensionId).c_str());
    return 2;
  }
  return Serve();
}
