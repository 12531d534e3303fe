// QvManager's program: the per-user supervisor of the runtime. One runs per session; it
// starts the activity tracer at lowered priority, polls the ranking service, the indexer and
// the tracer, suspends and resumes the tracer by what it finds, asks for the periodic catalog
// checks and publishes the browser cache folder. SIGTERM, SIGINT and SIGHUP stop it in order:
// the tracer is told to shut down and records what it has in hand before the manager ends.
#include "manager/runtime/manager_program.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <thread>

#include "context/context.h"
#include "manager/runtime/browser_version.h"
#include "manager/runtime/system_ports.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/messaging/runtime_folder.h"
#include "platform/messaging/socket_transport.h"
#include "service/QvRankingSvc/service_client.h"
#include "shell/uiutils/kiv_ui_utils.h"
#include "tracer/session_lock.h"

namespace qv::manager {

namespace {

// The manager's one thread waits at most this long for the service to queue a request.
constexpr std::chrono::milliseconds kListenerCallTimeout{5000};

sigset_t StopSignals() {
  sigset_t stops;
  sigemptyset(&stops);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stops, s);
  return stops;
}

void Usage(std::ostream& out) {
  out << "Usage: QvManager [--no-icon] [--tracer-script FILE]\n"
         "Runs Quillon Vesper for this login session: starts the activity tracer, watches the\n"
         "ranking service, the indexer and the tracer, suspends tracing while something is\n"
         "wrong, and asks for the regular catalog checks. One manager runs per session; a\n"
         "second one ends at once with exit code 0. SIGTERM, SIGINT or SIGHUP stop it in\n"
         "order, the tracer recording its open visits first.\n"
         "  --no-icon             run without a notification icon (also where the desktop\n"
         "                        has no tray, no display is set, or the build has no Qt)\n"
         "  --tracer-script FILE  let the tracer replay FILE on the simulated desktop instead of\n"
         "                        following the X display (for tests and the demo)\n"
         "Exit codes: 0 after an orderly end or when a manager already runs; 2 bad options;\n"
         "3 the browser prerequisite fails; 255 the session's runtime folder or the host\n"
         "window cannot be set up (see the Application event log under QV_ROOT/eventlog).\n";
}

std::filesystem::path SelfFolder() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self.parent_path();
}

}  // namespace

int ParseManagerArgs(int argc, char** argv, ManagerArgs& out, std::ostream& help,
                     std::ostream& err) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      Usage(help);
      return 0;
    }
    if (a == "--no-icon") {
      out.noIcon = true;
    } else if (a == "--tracer-script") {
      if (i + 1 >= argc || *argv[i + 1] == '\0') {
        err << "QvManager: --tracer-script needs a FILE; try --help\n";
        return kExitUsage;
      }
      out.tracerScript = std::filesystem::absolute(argv[++i]).string();
    } else {
      err << "QvManager: unknown argument '" << a << "'; try --help\n";
      return kExitUsage;
    }
  }
  return -1;
}

void BlockStopSignals() {
  const sigset_t stops = StopSignals();
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
}

int RunManager(const ManagerArgs& args, const ManagerHooks& hooks) {
  const sigset_t stops = StopSignals();
  std::ostream& err = std::cerr;
  // The icon's side waits for onExit: every way out of here gives it, the normal one only
  // after the host has ended (its poster reaches the host until then).
  bool exited = false;
  const struct ExitNotice {
    const ManagerHooks& hooks;
    const bool& exited;
    ~ExitNotice() {
      if (!exited && hooks.onExit) hooks.onExit();
    }
  } exitNotice{hooks, exited};
  const std::filesystem::path root = platform::DefaultRoot();
  Installation install(root);
  Context& ctx = install.context();
  (void)PreparePrivateRoot(root, ctx.eventLog);

  // The browser, where one is registered, must be 5.5 or later.
  platform::RegValue version;
  if (ctx.registry.GetValue(platform::Hive::LocalMachine, kBrowserKey, "Version", version) == 0 &&
      (version.type != platform::RegType::Sz || Failed(CheckBrowserVersion(version.text)))) {
    err << "QvManager: the registered browser is older than 5.5; update it\n";
    return kExitPrerequisite;
  }

  std::filesystem::path folder;
  HRESULT hr = platform::OpenRuntimeFolder(folder);
  std::unique_ptr<tracer::SessionLock> gate;
  if (Succeeded(hr)) hr = tracer::SessionLock::Acquire(folder, kManagerGateName, gate);
  if (hr == S_FALSE) return 0;  // another manager runs in this session
  std::shared_ptr<platform::SocketTransport> transport;
  if (Succeeded(hr)) {
    platform::SocketTransportOptions options;
    options.folder = folder;
    options.eventLog = &ctx.eventLog;
    options.uid = ::getuid();
    hr = platform::SocketTransport::Open(std::move(options), ctx.clock, transport);
  }
  if (Failed(hr)) {
    err << "QvManager: the session's runtime folder cannot be used (" << FormatHresult(hr)
              << "); check XDG_RUNTIME_DIR\n";
    return kExitSetup;
  }
  platform::WindowStation station(transport, ctx.clock);
  platform::MessageLoop loop(ctx.clock);

  const ManagerConfig config = ReadManagerConfig(ctx.registry);
  ManagerHost* hostPtr = nullptr;
  SystemPortsSetup setup;
  setup.config = config;
  setup.station = &station;
  setup.runtimeFolder = folder;
  setup.root = root;
  setup.registry = &ctx.registry;
  setup.tracer.program = SelfFolder() / "QvTracer";
  if (!args.tracerScript.empty()) {
    setup.tracer.extraArgs = {"--script", args.tracerScript, "--realtime"};
  }
  setup.setPollTimer = [&hostPtr](bool on) {
    if (hostPtr) hostPtr->SetTimer(on);
  };
  // CfgVerify goes to the ranking service as a begin-call: it returns once the service has
  // queued the request, and its outcome is never awaited.
  service::ServiceClientOptions listenerOptions;
  listenerOptions.folder = folder;
  listenerOptions.callTimeout = kListenerCallTimeout;
  auto listener = std::make_shared<service::KivListenerProxy>(std::move(listenerOptions));
  setup.beginCfgVerify = [listener](const std::string& dir, bool rescan) {
    service::PendingCall call;
    return listener->BeginCfgVerify(&dir, rescan ? VARIANT_TRUE : VARIANT_FALSE, call);
  };
  SystemPorts ports(std::move(setup));
  ManagerCore core(config, ports, ctx.registry, ctx.clock);
  ManagerHost host(ctx, station, loop, core);
  hostPtr = &host;
  if (hooks.onIcon) host.SetIconObserver(hooks.onIcon);
  if (hooks.showStatus) host.SetStatusSheet(hooks.showStatus);
  uiutils::RegisterUIUtilsClass(ctx);

  std::atomic<bool> over{false};
  std::thread signals([&] {
    const timespec wait{0, 200'000'000};
    while (!over) {
      if (sigtimedwait(&stops, nullptr, &wait) > 0) host.PostClose();
    }
  });
  int code = 0;
  if (Failed(host.Create())) {
    err << "QvManager: the host window cannot be created; see the event log\n";
    code = kExitSetup;
  } else {
    if (hooks.onReady) hooks.onReady([&host](std::uint64_t command) { host.PostCommand(command); });
    code = loop.Run();
  }
  host.Close();
  over = true;
  signals.join();
  hostPtr = nullptr;
  if (hooks.onExit) hooks.onExit();
  exited = true;
  return code;
}

}  // namespace qv::manager
