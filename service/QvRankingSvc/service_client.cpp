#include "service/QvRankingSvc/service_client.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "platform/messaging/runtime_folder.h"
#include "service/QvRankingSvc/service_host.h"

extern char** environ;

namespace qv::service {
namespace {

using platform::CallArg;
using platform::CallReply;
using platform::CallRequest;
using platform::UniqueFd;
using std::chrono::milliseconds;
using OptString = std::optional<std::string>;

const HRESULT kNotFound = HresultFromWin32(win32::ERROR_FILE_NOT_FOUND);
const HRESULT kTimeout = HresultFromWin32(win32::ERROR_TIMEOUT);
// How long --stop waits for the Stop call's answer itself; the service answers it at once
// unless it is inside another call.
constexpr milliseconds kStopCallTimeout{30'000};

OptString Opt(const std::string* s) { return s ? OptString(*s) : OptString(); }

// Short pauses between looks at a child or a socket, growing up to 100 ms.
class Backoff {
 public:
  void Pause() {
    std::this_thread::sleep_for(pause_);
    pause_ = std::min(pause_ * 2, milliseconds(100));
  }

 private:
  milliseconds pause_{5};
};

HRESULT ResolveFolder(const ServiceClientOptions& options, std::filesystem::path& out) {
  if (!options.folder.empty()) {
    out = options.folder;
    return platform::EnsureRuntimeFolder(out, ::getuid());
  }
  return platform::OpenRuntimeFolder(out);
}

// This process's environment with the options' settings (and QV_ROOT) in place.
std::vector<std::string> ChildEnvironment(const ServiceClientOptions& options) {
  std::vector<std::string> env = options.environment;
  if (!options.root.empty()) env.push_back("QV_ROOT=" + options.root.string());
  const std::size_t replaced = env.size();
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view setting(*e);
    const std::string_view name = setting.substr(0, setting.find('=') + 1);
    bool keep = true;
    for (std::size_t i = 0; i < replaced && keep; ++i) {
      keep = std::string_view(env[i]).substr(0, name.size()) != name;
    }
    if (keep) env.emplace_back(setting);
  }
  return env;
}

// Starts QvRankingSvc --run --detach in a session of its own, with no terminal and nothing
// of ours but the environment, and waits for the starter to report: it ends once the service
// listens (or once it finds another one serving).
HRESULT StartService(const ServiceClientOptions& options, const Clock& clock) {
  const std::filesystem::path program =
      options.program.empty() ? FindServiceProgram() : options.program;
  std::vector<std::string> args = {program.string(), "--run", "--detach"};
  std::vector<std::string> env = ChildEnvironment(options);
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // A long-lived service must not keep the client's descriptors open: a pipe it held would
  // never reach its end for whoever reads it.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const bool onPath = program.native().find('/') == std::string::npos;
  const int rc = onPath ? posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), envp.data())
                        : posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return CO_E_SERVER_EXEC_FAILURE;

  const auto end = clock.Monotonic() + options.startTimeout;
  Backoff backoff;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      const bool ok = WIFEXITED(status) && (WEXITSTATUS(status) == kSvcExitOk ||
                                            WEXITSTATUS(status) == kSvcExitAlreadyRunning);
      return ok ? S_OK : CO_E_SERVER_EXEC_FAILURE;
    }
    if (done < 0 && errno != EINTR) return CO_E_SERVER_EXEC_FAILURE;
    if (clock.Monotonic() >= end) {
      // A starter that hangs is ours to end.
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return kTimeout;
    }
    backoff.Pause();
  }
}

}  // namespace

std::filesystem::path FindServiceProgram() {
  if (const char* p = std::getenv("QV_RANKING_SVC"); p != nullptr && *p != '\0') return p;
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const auto beside = self.parent_path() / kServiceName;
    if (::access(beside.c_str(), X_OK) == 0) return beside;
  }
  return std::string(kServiceName);
}

HRESULT ConnectToService(const ServiceClientOptions& options, UniqueFd& out) {
  std::filesystem::path folder;
  if (const HRESULT hr = ResolveFolder(options, folder); Failed(hr)) return hr;
  const std::filesystem::path socket = ServiceSocketPath(folder);
  HRESULT hr = platform::ConnectTo(socket, out);
  if (hr != kNotFound) return hr;

  SystemClock systemClock;
  const Clock& clock = options.clock ? *options.clock : systemClock;
  if (hr = StartService(options, clock); Failed(hr)) return hr;
  // The service that won a race of starters may still be on its way to listening.
  const auto end = clock.Monotonic() + options.startTimeout;
  Backoff backoff;
  for (;;) {
    hr = platform::ConnectTo(socket, out);
    if (hr != kNotFound) return hr;
    if (clock.Monotonic() >= end) return kTimeout;
    backoff.Pause();
  }
}

HRESULT PendingCall::Finish(milliseconds timeout) {
  if (!fd_ || clock_ == nullptr) return E_UNEXPECTED;
  CallReply reply;
  const HRESULT hr = platform::ReceiveReply(fd_.get(), *clock_, timeout, reply);
  fd_.Reset();
  return Failed(hr) ? hr : reply.hr;
}

KivListenerProxy::KivListenerProxy(ServiceClientOptions options) : options_(std::move(options)) {}

HRESULT KivListenerProxy::Call(Method method, std::vector<CallArg> args) {
  UniqueFd fd;
  if (const HRESULT hr = ConnectToService(options_, fd); Failed(hr)) return hr;
  const CallRequest call{static_cast<std::uint32_t>(method), false, std::move(args)};
  CallReply reply;
  const Clock& clock = options_.clock ? *options_.clock : systemClock_;
  if (const HRESULT hr = platform::SendCall(fd.get(), call, clock, options_.callTimeout, reply);
      Failed(hr)) {
    return hr;
  }
  servicePid_ = reply.serverPid;
  return reply.hr;
}

HRESULT KivListenerProxy::Begin(Method method, std::vector<CallArg> args, PendingCall& out) {
  UniqueFd fd;
  if (const HRESULT hr = ConnectToService(options_, fd); Failed(hr)) return hr;
  const CallRequest call{static_cast<std::uint32_t>(method), true, std::move(args)};
  CallReply reply;
  const Clock& clock = options_.clock ? *options_.clock : systemClock_;
  if (const HRESULT hr = platform::SendCall(fd.get(), call, clock, options_.callTimeout, reply);
      Failed(hr)) {
    return hr;
  }
  servicePid_ = reply.serverPid;
  // A call refused before it was queued comes back as its result.
  if (reply.kind != platform::ReplyKind::Queued) return Failed(reply.hr) ? reply.hr : E_UNEXPECTED;
  out = PendingCall(std::move(fd), clock);
  return S_OK;
}

HRESULT KivListenerProxy::UpdatePending(const std::string* bstrFile, ULONG nUnits,
                                        ULONG nVisits, DATE dtStart, DATE dtFinish,
                                        ULONG ulWorkingTime, ULONG ulActiveTime, ULONG lScope,
                                        ULONG ulRetry, const std::string* bstrSearchKey) {
  return Call(Method::UpdatePending,
              {Opt(bstrFile), nUnits, nVisits, dtStart, dtFinish, ulWorkingTime, ulActiveTime,
               lScope, ulRetry, Opt(bstrSearchKey)});
}

HRESULT KivListenerProxy::CfgVerify(const std::string* bstrDir, VARIANT_BOOL bRescan) {
  return Call(Method::CfgVerify, {Opt(bstrDir), bRescan != VARIANT_FALSE});
}

HRESULT KivListenerProxy::DeleteStale(const std::string* bstrFile) {
  return Call(Method::DeleteStale, {Opt(bstrFile)});
}

HRESULT KivListenerProxy::OtlProfile(const std::string* ProfileName,
                                     const std::string* ScopeRoot, const std::string* PSTs) {
  return Call(Method::OtlProfile, {Opt(ProfileName), Opt(ScopeRoot), Opt(PSTs)});
}

HRESULT KivListenerProxy::OtlStopScope(const std::string* Directory) {
  return Call(Method::OtlStopScope, {Opt(Directory)});
}

HRESULT KivListenerProxy::BeginCfgVerify(const std::string* bstrDir, VARIANT_BOOL bRescan,
                                         PendingCall& out) {
  return Begin(Method::CfgVerify, {Opt(bstrDir), bRescan != VARIANT_FALSE}, out);
}

HRESULT KivListenerProxy::BeginDeleteStale(const std::string* bstrFile, PendingCall& out) {
  return Begin(Method::DeleteStale, {Opt(bstrFile)}, out);
}

void RegisterKivListenerProxy(platform::ClassRegistry& classes, ServiceClientOptions options) {
  classes.Register(CLSID_KivListener, "", "",
                   [options = std::move(options)](std::shared_ptr<platform::ComObject>& out) {
                     out = std::make_shared<KivListenerProxy>(options);
                     return S_OK;
                   });
}

int StopService(const ServiceClientOptions& options, milliseconds wait, std::ostream& out,
                std::ostream& err) {
  SystemClock systemClock;
  const Clock& clock = options.clock ? *options.clock : systemClock;
  std::filesystem::path folder;
  if (const HRESULT hr = ResolveFolder(options, folder); Failed(hr)) {
    err << "QvRankingSvc: the runtime folder " << folder << " cannot be used: "
        << FormatHresult(hr) << "\n";
    return kSvcExitFailed;
  }
  UniqueFd fd;
  HRESULT hr = platform::ConnectTo(ServiceSocketPath(folder), fd);
  if (hr == kNotFound) {
    err << "QvRankingSvc: no ranking service runs for this user\n";
    return kSvcExitNoneRunning;
  }
  CallReply reply;
  if (Succeeded(hr)) {
    hr = platform::SendCall(fd.get(), {static_cast<std::uint32_t>(Method::Stop), false, {}}, clock,
                            kStopCallTimeout, reply);
  }
  if (Succeeded(hr)) hr = reply.hr;
  if (Failed(hr)) {
    err << "QvRankingSvc: the service did not take the stop request: " << FormatHresult(hr);
    if (const std::string msg = SystemMessage(hr); !msg.empty()) err << " (" << msg << ")";
    err << "\n";
    return kSvcExitFailed;
  }
  // The service holds its lock until its process has ended.
  UniqueFd lock(::open(ServiceLockPath(folder).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  const auto end = clock.Monotonic() + wait;
  Backoff backoff;
  for (;;) {
    if (!lock || ::flock(lock.get(), LOCK_EX | LOCK_NB) == 0) break;
    if (clock.Monotonic() >= end) {
      err << "QvRankingSvc: the service (process " << reply.serverPid
          << ") was told to stop but still runs\n";
      return kSvcExitStopTimedOut;
    }
    backoff.Pause();
  }
  out << "QvRankingSvc: the service (process " << reply.serverPid << ") has stopped\n";
  return kSvcExitOk;
}

}  // namespace qv::service
