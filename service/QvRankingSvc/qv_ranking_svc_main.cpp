// QvRankingSvc: the per-user ranking service. See kUsage for what it does.
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string_view>
#include <vector>

#include "context/context.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/messaging/runtime_folder.h"
#include "provider/ranking/file_ranking.h"
#include "service/QvRankingSvc/catalog_config.h"
#include "service/QvRankingSvc/listener_handlers.h"
#include "service/QvRankingSvc/service_client.h"
#include "service/QvRankingSvc/service_host.h"
#include "service/QvRankingSvc/service_registration.h"
#include "service/QvRankingSvc/service_switches.h"

namespace {

using namespace qv;
using namespace qv::service;

constexpr std::string_view kUsage =
    R"(Usage: QvRankingSvc --run [--detach] | --stop | -RegServer | -Service | -UnregServer | --help
The Quillon Vesper ranking service of this user: it keeps visits to files that another
program held locked, runs the deferred updates at their time, and does the catalog
maintenance the other parts ask for. Its first client starts it when it is not running.

  --run          serve in the foreground until stopped (SIGTERM, SIGINT or --stop);
                 what the systemd user unit runs
  --detach       with --run: return once the service serves, leaving it in the background
  --stop         ask the running service to stop in order, and wait for it to end
  -RegServer, -Service
                 register the service's class, AppID and event source, and install the
                 service (the systemd user unit qv-ranking.service where systemd runs)
  -UnregServer   stop the running service and remove all that registration wrote
The registration switches may begin with - or / and are taken in any letter case.

State lives under QV_ROOT; the service's socket is in the user's runtime folder.
Exit status: 0 done; 1 usage error; 2 failed (the HRESULT is printed); 3 --stop: still
running when the wait ended; 4 --stop: no service was running; 5 --run: a service
already runs for this user; 255 started without a command (not as the service).
)";

// The worker gets 10 s to finish a request at stop; --stop waits a little longer.
constexpr std::chrono::milliseconds kStopWait{20'000};

int Failed(std::string_view what, HRESULT hr) {
  std::cerr << "QvRankingSvc: " << what << " failed: " << FormatHresult(hr);
  if (const std::string msg = SystemMessage(hr); !msg.empty()) std::cerr << " (" << msg << ")";
  std::cerr << "\n";
  return kSvcExitFailed;
}

std::filesystem::path SelfPath() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path(kServiceName) : self;
}

RegistrationOptions Registration() {
  RegistrationOptions options{SelfPath(), std::nullopt};
  if (SystemdRuns()) options.unitFolder = UserUnitFolder();
  return options;
}

int Serve(bool detach) {
  ServiceHost::BlockStopSignals();
  Installation installation(platform::DefaultRoot());
  Context& ctx = installation.context();
  // The classes its work creates: the ranking store (access checks of deferred updates), the
  // catalog administration and the catalog helper.
  RegisterRankingClasses(ctx);
  RegisterCatalogClasses(ctx);
  std::filesystem::path folder;
  if (const HRESULT hr = platform::OpenRuntimeFolder(folder); qv::Failed(hr)) {
    return Failed("opening the runtime folder", hr);
  }
  HostOptions options;
  options.folder = folder;
  options.uid = ::getuid();
  options.handleSignals = true;
  ServiceHost host(ctx, MakeListenerHandlers(ctx), options);
  if (const HRESULT hr = host.Open(); hr == kAlreadyRunning) {
    std::cerr << "QvRankingSvc: a ranking service already runs for this user\n";
    return kSvcExitAlreadyRunning;
  } else if (qv::Failed(hr)) {
    return Failed("starting the service", hr);
  }
  if (detach) {
    // The socket listens already, so the starter may go: clients that connect now wait in
    // the socket's backlog. No thread exists yet, so the fork is safe.
    const pid_t pid = ::fork();
    if (pid < 0) return Failed("going to the background", HresultFromErrno(errno));
    if (pid > 0) std::_Exit(kSvcExitOk);
    ::setsid();
  }
  const HRESULT hr = host.Run();
  if (host.workerAbandoned()) {
    // The catalog worker is still inside a request and a thread cannot be ended: the process
    // ends without waiting for it (the socket is gone already; the lock goes with the process).
    std::cout.flush();
    std::_Exit(kSvcExitOk);
  }
  return qv::Failed(hr) ? Failed("serving", hr) : kSvcExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  platform::RestrictUmask();
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  SvcSwitches switches;
  std::string error;
  if (!ParseSvcSwitches(args, switches, error)) {
    std::cerr << "QvRankingSvc: " << error << "\nRun 'QvRankingSvc --help' for the commands.\n";
    return kSvcExitUsage;
  }
  switch (switches.command) {
    case SvcCommand::Help:
      std::cout << kUsage;
      return kSvcExitOk;
    case SvcCommand::None:
      std::cerr << "QvRankingSvc: not started as the service. Run 'QvRankingSvc --run' to serve, "
                   "or see 'QvRankingSvc --help'.\n";
      return kSvcExitNotAService;
    case SvcCommand::Run:
      return Serve(switches.detach);
    case SvcCommand::Stop:
      return StopService({}, kStopWait, std::cout, std::cerr);
    case SvcCommand::Register: {
      Installation installation(platform::DefaultRoot());
      const HRESULT hr = RegisterService(installation.context().registry, Registration());
      return qv::Failed(hr) ? Failed("registering the service", hr) : kSvcExitOk;
    }
    case SvcCommand::Unregister: {
      std::ostringstream ignored;
      const int stopped = StopService({}, kStopWait, std::cout, ignored);
      if (stopped != kSvcExitOk && stopped != kSvcExitNoneRunning) {
        std::cerr << ignored.str();
      }
      Installation installation(platform::DefaultRoot());
      const HRESULT hr = UnregisterService(installation.context().registry, Registration());
      return qv::Failed(hr) ? Failed("removing the service", hr) : kSvcExitOk;
    }
  }
  return kSvcExitUsage;
}
