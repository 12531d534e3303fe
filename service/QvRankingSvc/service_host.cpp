#include "service/QvRankingSvc/service_host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <exception>
#include <new>

#include "context/event_report.h"
#include "platform/messaging/runtime_folder.h"

namespace qv::service {
namespace {

using platform::CallArg;
using platform::CallReply;
using platform::CallRequest;
using platform::ReplyKind;
using OptString = std::optional<std::string>;

// More connections than this at once are refused rather than served slowly.
constexpr std::size_t kMaxConnections = 64;
const HRESULT kBadCall = HresultFromWin32(win32::ERROR_INVALID_DATA);

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

bool DefaultPeer(int fd, Caller& out) {
  platform::PeerIdentity peer;
  if (!platform::ReadPeerIdentity(fd, peer)) return false;
  out = {peer.uid, peer.gid, peer.pid};
  return true;
}

// The arguments of a call, checked against the shape its method takes.
class Args {
 public:
  explicit Args(const std::vector<CallArg>& args) : args_(args) {}
  bool Is(std::initializer_list<std::size_t> kinds) const {
    if (args_.size() != kinds.size()) return false;
    std::size_t i = 0;
    for (std::size_t k : kinds) {
      if (args_[i++].index() != k) return false;
    }
    return true;
  }
  const OptString& Str(std::size_t i) const { return std::get<OptString>(args_[i]); }
  std::uint32_t Ulong(std::size_t i) const { return std::get<std::uint32_t>(args_[i]); }
  double Date(std::size_t i) const { return std::get<double>(args_[i]); }
  bool Flag(std::size_t i) const { return std::get<bool>(args_[i]); }

 private:
  const std::vector<CallArg>& args_;
};

// Variant indexes of CallArg.
constexpr std::size_t S = 0, U = 1, D = 2, B = 3;

bool Missing(const OptString& s) { return !s || s->empty(); }

}  // namespace

std::filesystem::path ServiceSocketPath(const std::filesystem::path& folder) {
  return folder / kSocketFileName;
}
std::filesystem::path ServiceLockPath(const std::filesystem::path& folder) {
  return folder / kLockFileName;
}

ServiceHost::ServiceHost(const Context& ctx, ListenerHandlers handlers, HostOptions options)
    : ctx_(ctx),
      handlers_(std::move(handlers)),
      options_(std::move(options)),
      worker_(ctx, handlers_.processCatalogRequest, options_.workerStopWait) {
  if (!options_.peerCredentials) options_.peerCredentials = DefaultPeer;
}

ServiceHost::~ServiceHost() {
  // The socket goes first, so that no client reaches a service that is going away.
  if (listening_) ::unlink(ServiceSocketPath(options_.folder).c_str());
}

void ServiceHost::BlockStopSignals() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

HRESULT ServiceHost::Open() {
  if (const HRESULT hr = platform::EnsureRuntimeFolder(options_.folder, options_.uid);
      Failed(hr)) {
    return hr;
  }
  platform::UniqueFd lock(::open(ServiceLockPath(options_.folder).c_str(),
                                 O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lock) return HresultFromErrno(errno);
  while (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK ? kAlreadyRunning : HresultFromErrno(errno);
  }
  // Holding the lock, any socket at the path was left by a service that died: replace it.
  const std::filesystem::path socket = ServiceSocketPath(options_.folder);
  if (::unlink(socket.c_str()) != 0 && errno != ENOENT) return HresultFromErrno(errno);
  platform::UniqueFd listen;
  if (const HRESULT hr = platform::ListenOn(socket, listen); Failed(hr)) return hr;
  listening_ = true;

  platform::UniqueFd stopEvent(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  platform::UniqueFd timer(::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC));
  if (!stopEvent || !timer) return HresultFromErrno(errno);
  if (options_.handleSignals) {
    const sigset_t set = StopSignals();
    signals_.Reset(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signals_) return HresultFromErrno(errno);
  }
  lock_ = std::move(lock);
  listen_ = std::move(listen);
  stopEvent_ = std::move(stopEvent);
  timer_ = std::move(timer);
  return S_OK;
}

void ServiceHost::RequestStop() noexcept {
  const std::uint64_t one = 1;
  if (stopEvent_) [[maybe_unused]] const ssize_t n = ::write(stopEvent_.get(), &one, sizeof(one));
}

HRESULT ServiceHost::Run() {
  if (!listen_) return E_UNEXPECTED;
  if (const HRESULT hr = worker_.Start(); Failed(hr)) return hr;
  RunDueJobs();

  std::vector<pollfd> fds;
  while (!stopping_) {
    fds.assign({{stopEvent_.get(), POLLIN, 0},
                {signals_ ? signals_.get() : -1, POLLIN, 0},
                {timer_.get(), POLLIN, 0},
                {listen_.get(), POLLIN, 0}});
    for (const Connection& c : connections_) fds.push_back({c.fd.get(), POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0 || fds[1].revents != 0) break;
    if (fds[2].revents != 0) {
      std::uint64_t expirations = 0;
      [[maybe_unused]] const ssize_t n = ::read(timer_.get(), &expirations, sizeof(expirations));
      RunDueJobs();
    }
    // Connections are served in the order they were accepted, one call at a time.
    std::vector<bool> drop(connections_.size(), false);
    for (std::size_t i = 0; i < connections_.size() && !stopping_; ++i) {
      const short rev = fds[i + 4].revents;
      if (rev == 0) continue;
      drop[i] = (rev & POLLIN) == 0 || !Serve(connections_[i]);
    }
    for (std::size_t i = drop.size(); i > 0; --i) {
      if (drop[i - 1]) connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(i - 1));
    }
    if (!stopping_ && (fds[3].revents & POLLIN) != 0) Accept();
  }

  // The socket goes first, then the worker, then whatever calls were still connected.
  ::unlink(ServiceSocketPath(options_.folder).c_str());
  listening_ = false;
  listen_.Reset();
  workerAbandoned_ = !worker_.Stop();
  connections_.clear();
  return S_OK;
}

void ServiceHost::Accept() {
  platform::UniqueFd fd(
      ::accept4(listen_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (!fd) return;
  Caller caller;
  if (!options_.peerCredentials(fd.get(), caller) || caller.uid != options_.uid) {
    // Another user's process: the attempt is written down, and it is told no.
    ReportEvent(ctx_, platform::EventType::Warning, kCategoryProvider, kEventForeignCallerRefused,
                {ServiceSocketPath(options_.folder).string(), std::to_string(caller.uid),
                 std::to_string(caller.pid)});
    platform::SendReply(fd.get(), {ReplyKind::Result, E_ACCESSDENIED,
                                   static_cast<std::uint32_t>(::getpid())});
    return;
  }
  if (connections_.size() >= kMaxConnections) return;
  connections_.push_back({std::move(fd), caller});
}

bool ServiceHost::Serve(Connection& conn) {
  const auto pid = static_cast<std::uint32_t>(::getpid());
  std::vector<std::uint8_t> buf;
  switch (platform::ReadCallRecord(conn.fd.get(), buf)) {
    case platform::RecordRead::Again:
      return true;
    case platform::RecordRead::Closed:
      return false;
    case platform::RecordRead::Bad:
      platform::SendReply(conn.fd.get(), {ReplyKind::Result, kBadCall, pid});
      return false;
    case platform::RecordRead::Record:
      break;
  }
  CallRequest call;
  if (Failed(platform::DecodeCall(buf, call))) {
    // A caller that breaks the protocol is answered once and not served further.
    platform::SendReply(conn.fd.get(), {ReplyKind::Result, kBadCall, pid});
    return false;
  }
  if (call.begin && Failed(platform::SendReply(conn.fd.get(), {ReplyKind::Queued, S_OK, pid}))) {
    return false;
  }
  HRESULT hr;
  try {
    hr = Invoke(call, conn.caller);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (const std::exception&) {
    hr = E_UNEXPECTED;
  }
  // A begin-caller may have gone once its call was queued; that is no error.
  return Succeeded(platform::SendReply(conn.fd.get(), {ReplyKind::Result, hr, pid})) ||
         call.begin;
}

HRESULT ServiceHost::Invoke(const CallRequest& call, const Caller& caller) {
  const Args a(call.args);
  switch (static_cast<Method>(call.method)) {
    case Method::UpdatePending: {
      if (!a.Is({S, U, U, D, D, U, U, U, U, S})) return kBadCall;
      if (!a.Str(0)) return E_INVALIDARG;
      if (!handlers_.updatePending) return E_NOTIMPL;
      const PendingUpdate update{*a.Str(0),   a.Ulong(1), a.Ulong(2), a.Date(3),
                                 a.Date(4),   a.Ulong(5), a.Ulong(6), a.Ulong(7),
                                 a.Ulong(8),  a.Str(9)};
      const HRESULT hr = handlers_.updatePending(update, caller);
      // A new job may be due before the one the timer waits for.
      if (hr == S_OK) RunDueJobs();
      return hr;
    }
    case Method::CfgVerify: {
      if (!a.Is({S, B})) return kBadCall;
      CatalogRequest request;
      HRESULT built = E_INVALIDARG;
      bool handlerLogged = false;
      if (!Missing(a.Str(0))) {
        handlerLogged = static_cast<bool>(handlers_.makeConfigRequest);
        built = handlers_.makeConfigRequest
                    ? handlers_.makeConfigRequest(*a.Str(0), a.Flag(1), caller, request)
                    : E_NOTIMPL;
      }
      return QueueCatalogRequest(built, handlerLogged, std::move(request), caller);
    }
    case Method::DeleteStale: {
      if (!a.Is({S})) return kBadCall;
      if (Missing(a.Str(0))) return E_INVALIDARG;
      return handlers_.deleteStale ? handlers_.deleteStale(*a.Str(0), caller) : E_NOTIMPL;
    }
    case Method::OtlProfile: {
      if (!a.Is({S, S, S})) return kBadCall;
      CatalogRequest request;
      HRESULT built = E_INVALIDARG;
      bool handlerLogged = false;
      if (!Missing(a.Str(0)) && !Missing(a.Str(1)) && !Missing(a.Str(2))) {
        handlerLogged = static_cast<bool>(handlers_.makeMailProfileRequest);
        built = handlers_.makeMailProfileRequest
                    ? handlers_.makeMailProfileRequest(*a.Str(0), *a.Str(1), *a.Str(2), caller,
                                                       request)
                    : E_NOTIMPL;
      }
      return QueueCatalogRequest(built, handlerLogged, std::move(request), caller);
    }
    case Method::OtlStopScope: {
      if (!a.Is({S})) return kBadCall;
      if (!a.Str(0)) return E_INVALIDARG;
      return handlers_.otlStopScope ? handlers_.otlStopScope(*a.Str(0), caller) : E_NOTIMPL;
    }
    case Method::Stop:
      if (!a.Is({})) return kBadCall;
      stopping_ = true;
      return S_OK;
  }
  return E_NOTIMPL;
}

HRESULT ServiceHost::QueueCatalogRequest(HRESULT built, bool handlerLogged,
                                         CatalogRequest request, const Caller& caller) {
  HRESULT hr = built;
  if (Succeeded(hr)) {
    request.caller = caller;
    hr = worker_.Enqueue(std::move(request));
  }
  // A request the handler refused is already logged there, with the call it came from.
  if (Failed(hr) && !(Failed(built) && handlerLogged)) {
    ReportEvent(ctx_, platform::EventType::Warning, kCategoryProvider, kEventCatalogCallFailed,
                {FormatLowWord(hr), SystemMessage(hr)});
  }
  return hr;
}

void ServiceHost::RunDueJobs() {
  if (!handlers_.runDueJobs) return;
  std::optional<SystemTime> next;
  try {
    next = handlers_.runDueJobs();
  } catch (const std::exception&) {
    next.reset();  // the job table reports its own failures; the next call tries again
  }
  ArmTimer(next);
}

void ServiceHost::ArmTimer(std::optional<SystemTime> when) {
  itimerspec spec{};
  if (when) {
    using namespace std::chrono;
    // A time at or before the epoch would disarm the timer; it is due now instead.
    const auto ns = std::max<std::int64_t>(
        duration_cast<nanoseconds>(when->time_since_epoch()).count(), 1);
    spec.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    spec.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  }
  timerfd_settime(timer_.get(), TFD_TIMER_ABSTIME, &spec, nullptr);
}

}  // namespace qv::service
