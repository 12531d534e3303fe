// QvOutlookProxy: carries the e-mail filter's requests to the mail add-in's ranking object.
// Serves its class object in the session's running object table until it has had no scope
// and no call for five seconds, or until it is told to stop (SIGTERM, SIGINT, SIGHUP).
#include <signal.h>
#include <unistd.h>

#include <ctime>
#include <iostream>
#include <string_view>
#include <vector>

#include "context/context.h"
#include "mail/QvOutlookProxy/outlook_proxy.h"
#include "mail/QvOutlookProxy/proxy_registration.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    "Usage: QvOutlookProxy [-RegServer | -UnregServer | --help]\n"
    "Carries the desktop search's requests for mail items to the mail add-in.\n"
    "Started without arguments it serves until it has been idle for five seconds.\n"
    "  -RegServer    register the proxy's class and AppID (also /RegServer)\n"
    "  -UnregServer  remove that registration (also /UnregServer)\n"
    "  --help        show this text\n";

std::filesystem::path SelfPath(const char* argv0) {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::absolute(argv0) : self;
}

int Serve(qv::Context& ctx) {
  using namespace qv;
  std::filesystem::path folder;
  if (const HRESULT hr = platform::SessionRunningObjectsFolder(folder); Failed(hr)) {
    std::cerr << "QvOutlookProxy: the session's runtime folder cannot be used ("
              << FormatHresult(hr) << "); check that it belongs to you and is not a link.\n";
    return kExitFailed;
  }
  auto table = std::make_shared<platform::RunningObjects>(
      platform::RunningObjectsOptions{folder, ::getuid(), {}});
  mail::OutlookProxy proxy(ctx, table, mail::LogonSessionId());
  std::unique_ptr<platform::Registration> classObject;
  const HRESULT hr = table->Register(
      mail::kProxyClassObjectName,
      [&proxy](const platform::CallRequest& call, std::vector<platform::CallArg>& out,
               std::stop_token cancel) { return proxy.Dispatch(call, out, cancel); },
      classObject);
  if (hr == HresultFromWin32(win32::ERROR_ALREADY_EXISTS)) return kExitOk;  // one serves already
  if (Failed(hr)) {
    std::cerr << "QvOutlookProxy: cannot serve its class (" << FormatHresult(hr) << ").\n";
    return kExitFailed;
  }
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGHUP);
  const timespec tick{0, 200'000'000};
  for (;;) {
    if (::sigtimedwait(&stops, nullptr, &tick) > 0) break;
    if (proxy.IdleFor() >= mail::kIdleExitDelay) break;
  }
  classObject.reset();  // no new caller; then the proxy's scopes go with it
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qv;
  // The stop signals are read by the serving loop; blocked before any thread starts.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  platform::RestrictUmask();

  const std::vector<std::string_view> args(argv + 1, argv + argc);
  mail::ProxyCommand command;
  std::string error;
  if (!mail::ParseProxySwitches(args, command, error)) {
    std::cerr << "QvOutlookProxy: " << error << "\n" << kUsage;
    return kExitUsage;
  }
  if (command == mail::ProxyCommand::Help) {
    std::cout << kUsage;
    return kExitOk;
  }
  Installation installation(platform::DefaultRoot());
  Context& ctx = installation.context();
  if (command == mail::ProxyCommand::Register || command == mail::ProxyCommand::Unregister) {
    const HRESULT hr = command == mail::ProxyCommand::Register
                           ? mail::RegisterProxyServer(ctx.registry, SelfPath(argv[0]))
                           : mail::UnregisterProxyServer(ctx.registry);
    if (Failed(hr)) {
      std::cerr << "QvOutlookProxy: the registration failed (" << FormatHresult(hr)
                << "); check that the registry under " << ctx.root.string()
                << " is writable.\n";
      return kExitFailed;
    }
    return kExitOk;
  }
  return Serve(ctx);
}
