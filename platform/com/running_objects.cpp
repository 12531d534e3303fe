#include "platform/com/running_objects.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <new>

#include "common/guid.h"
#include "platform/messaging/runtime_folder.h"

namespace qv::platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

const HRESULT kBadCall = HresultFromWin32(win32::ERROR_INVALID_DATA);
constexpr std::string_view kLockFileName = ".lock";

std::uint64_t Fnv1a64(std::string_view s, std::uint64_t basis) {
  std::uint64_t h = basis;
  for (unsigned char c : s) {
    h ^= c;
    h *= 0x100000001B3ull;
  }
  return h;
}

bool Readable(unsigned char c, bool first) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '_' || (c == '.' && !first);
}

// Holds the table's lock file: registering a name and removing a stale socket exclude each
// other, so a stale check never removes a socket that was put in place meanwhile.
class TableLock {
 public:
  explicit TableLock(const std::filesystem::path& folder)
      : fd_(::open((folder / kLockFileName).c_str(),
                   O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
    if (!fd_) return;
    while (::flock(fd_.get(), LOCK_EX) != 0) {
      if (errno != EINTR) {
        fd_.Reset();
        return;
      }
    }
  }
  bool held() const { return static_cast<bool>(fd_); }

 private:
  UniqueFd fd_;
};

bool IsSocketAt(const std::filesystem::path& path, ino_t* inode = nullptr) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
  if (inode) *inode = st.st_ino;
  return true;
}

void Signal(int fd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof(one));
}

// Milliseconds left for poll(), rounded up; 0 once expired.
int Remaining(const Clock& clock, nanoseconds end) {
  const nanoseconds left = end - clock.Monotonic();
  if (left <= nanoseconds(0)) return 0;
  return static_cast<int>(
      std::min<std::int64_t>(std::chrono::ceil<milliseconds>(left).count(), 1 << 30));
}

}  // namespace

std::string EndpointFileName(std::string_view name) {
  std::string readable = "n=";
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (Readable(c, i == 0)) {
      readable.push_back(static_cast<char>(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      readable += hex;
    }
    if (readable.size() > kMaxReadableEndpointName) break;
  }
  if (readable.size() <= kMaxReadableEndpointName) return readable;
  char hashed[40];
  const std::uint64_t h1 = Fnv1a64(name, 0xCBF29CE484222325ull);
  const std::uint64_t h2 = Fnv1a64(name, h1 ^ 0x9E3779B97F4A7C15ull);
  std::snprintf(hashed, sizeof hashed, "h=%016llx%016llx", static_cast<unsigned long long>(h1),
                static_cast<unsigned long long>(h2));
  return hashed;
}

HRESULT SessionRunningObjectsFolder(std::filesystem::path& out) {
  std::filesystem::path runtime;
  if (const HRESULT hr = OpenRuntimeFolder(runtime); Failed(hr)) return hr;
  std::filesystem::path folder = runtime / kRunningObjectsFolderName;
  if (const HRESULT hr = EnsureRuntimeFolder(folder, ::getuid()); Failed(hr)) return hr;
  out = std::move(folder);
  return S_OK;
}

// --- serving ---

struct Registration::Call {
  UniqueFd fd;
  std::atomic<bool> done{false};
  std::jthread thread;
};

Registration::Registration(std::string name, std::filesystem::path path, CallHandler handler,
                           PeerReader peer, uid_t uid, UniqueFd listen, UniqueFd stop)
    : name_(std::move(name)),
      path_(std::move(path)),
      handler_(std::move(handler)),
      peer_(std::move(peer)),
      uid_(uid),
      listen_(std::move(listen)),
      stopEvent_(std::move(stop)) {
  IsSocketAt(path_, &inode_);
  acceptor_ = std::jthread([this](std::stop_token stop) { AcceptLoop(stop); });
}

void Registration::Withdraw() {
  // A socket that another registration has put at the path since is left alone.
  TableLock lock(path_.parent_path());
  ino_t now = 0;
  if (IsSocketAt(path_, &now) && now == inode_) ::unlink(path_.c_str());
}

Registration::~Registration() {
  // The name goes first, so no new caller finds an object that is going away.
  Withdraw();
  acceptor_.request_stop();
  Signal(stopEvent_.get());
  if (acceptor_.joinable()) acceptor_.join();
  // Every call thread sees the stop event, cancels its handler and ends.
  std::lock_guard lock(mutex_);
  calls_.clear();
}

void Registration::Reap() {
  std::lock_guard lock(mutex_);
  calls_.remove_if([](const std::unique_ptr<Call>& c) { return c->done.load(); });
}

void Registration::AcceptLoop(std::stop_token stop) {
  const auto pid = static_cast<std::uint32_t>(::getpid());
  while (!stop.stop_requested()) {
    pollfd fds[2] = {{listen_.get(), POLLIN, 0}, {stopEvent_.get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    UniqueFd fd(::accept4(listen_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd) continue;
    PeerIdentity who;
    if (!peer_(fd.get(), who) || who.uid != uid_) {
      // Another user's process is told no and not served.
      SendReply(fd.get(), {ReplyKind::Result, E_ACCESSDENIED, pid});
      continue;
    }
    Reap();
    std::lock_guard lock(mutex_);
    if (calls_.size() >= kMaxServedCalls) {
      SendReply(fd.get(), {ReplyKind::Result, HresultFromWin32(win32::ERROR_BUSY), pid});
      continue;
    }
    auto call = std::make_unique<Call>();
    call->fd = std::move(fd);
    Call& c = *call;
    calls_.push_back(std::move(call));
    c.thread = std::jthread([this, &c] {
      Serve(c);
      c.done = true;
    });
  }
}

// One connection, one call. The handler runs on a thread of its own while this one watches
// the connection: a caller that closes it, or a revocation, requests the handler's stop.
void Registration::Serve(Call& c) {
  const auto pid = static_cast<std::uint32_t>(::getpid());
  std::vector<std::uint8_t> buf;
  for (;;) {
    pollfd fds[2] = {{c.fd.get(), POLLIN, 0}, {stopEvent_.get(), POLLIN, 0}};
    const int n = ::poll(fds, 2, static_cast<int>(kCallArrivalLimit.count()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    if (fds[1].revents != 0) return;
    const RecordRead read = ReadCallRecord(c.fd.get(), buf);
    if (read == RecordRead::Again) continue;
    if (read == RecordRead::Closed) return;
    if (read == RecordRead::Bad) {
      SendReply(c.fd.get(), {ReplyKind::Result, kBadCall, pid});
      return;
    }
    break;
  }
  CallRequest call;
  if (Failed(DecodeCall(buf, call))) {
    SendReply(c.fd.get(), {ReplyKind::Result, kBadCall, pid});
    return;
  }
  if (call.begin && Failed(SendReply(c.fd.get(), {ReplyKind::Queued, S_OK, pid}))) return;

  UniqueFd finished(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!finished) {
    SendReply(c.fd.get(), {ReplyKind::Result, HresultFromErrno(errno), pid});
    return;
  }
  HRESULT hr = E_UNEXPECTED;
  std::vector<CallArg> values;
  std::jthread worker([&](std::stop_token cancel) {
    try {
      hr = handler_(call, values, cancel);
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    } catch (const std::exception&) {
      hr = E_UNEXPECTED;
    }
    Signal(finished.get());
  });
  bool gone = false;
  for (;;) {
    pollfd fds[3] = {{finished.get(), POLLIN, 0},
                     {c.fd.get(), POLLRDHUP, 0},
                     {stopEvent_.get(), POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0 && errno != EINTR) break;
    if (fds[0].revents != 0) break;
    if (fds[1].revents != 0 || fds[2].revents != 0) {
      gone = true;
      break;
    }
  }
  if (gone) worker.request_stop();
  worker.join();
  if (gone) return;
  const ReplyKind kind = values.empty() ? ReplyKind::Result : ReplyKind::Values;
  const CallReply reply(kind, hr, pid, std::move(values));
  if (Failed(SendReply(c.fd.get(), reply)) && kind == ReplyKind::Values) {
    // Out values too large to send: the caller learns that the call could not answer.
    SendReply(c.fd.get(), {ReplyKind::Result, E_OUTOFMEMORY, pid});
  }
}

// --- the table ---

RunningObjects::RunningObjects(RunningObjectsOptions options) : options_(std::move(options)) {
  if (!options_.peer) options_.peer = ReadPeerIdentity;
}

HRESULT RunningObjects::Prepare() const {
  return EnsureRuntimeFolder(options_.folder, options_.uid);
}

void RunningObjects::RemoveIfStale(const std::filesystem::path& path) const {
  TableLock lock(options_.folder);
  if (!lock.held() || !IsSocketAt(path)) return;
  UniqueFd probe;
  if (ConnectTo(path, probe) == HresultFromWin32(win32::ERROR_FILE_NOT_FOUND)) {
    ::unlink(path.c_str());
  }
}

HRESULT RunningObjects::Register(std::string_view name, CallHandler handler,
                                 std::unique_ptr<Registration>& out) const {
  if (name.empty() || !handler) return E_INVALIDARG;
  if (const HRESULT hr = Prepare(); Failed(hr)) return hr;
  const std::filesystem::path path = options_.folder / EndpointFileName(name);
  // Listening starts under a private name and the socket is renamed into place, so nobody
  // ever finds the name bound but not yet listening (which would read as stale).
  Guid id;
  if (const HRESULT hr = NewGuid(id); Failed(hr)) return hr;
  const std::filesystem::path temp = options_.folder / (".reg-" + FormatGuid(id));
  UniqueFd listen;
  if (const HRESULT hr = ListenOn(temp, listen); Failed(hr)) return hr;
  UniqueFd stop(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!stop) {
    const int err = errno;
    ::unlink(temp.c_str());
    return HresultFromErrno(err);
  }
  {
    TableLock lock(options_.folder);
    if (!lock.held()) {
      const int err = errno;
      ::unlink(temp.c_str());
      return HresultFromErrno(err);
    }
    if (IsSocketAt(path)) {
      UniqueFd probe;
      if (Succeeded(ConnectTo(path, probe))) {
        ::unlink(temp.c_str());
        return HresultFromWin32(win32::ERROR_ALREADY_EXISTS);
      }
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
      const int err = errno;
      ::unlink(temp.c_str());
      return HresultFromErrno(err);
    }
  }
  out.reset(new Registration(std::string(name), path, std::move(handler), options_.peer,
                             options_.uid, std::move(listen), std::move(stop)));
  return S_OK;
}

HRESULT RunningObjects::Connect(std::string_view name, UniqueFd& out) const {
  if (name.empty()) return E_INVALIDARG;
  if (const HRESULT hr = Prepare(); Failed(hr)) return hr;
  const std::filesystem::path path = options_.folder / EndpointFileName(name);
  UniqueFd fd;
  const HRESULT hr = ConnectTo(path, fd);
  if (hr == HresultFromWin32(win32::ERROR_FILE_NOT_FOUND)) {
    RemoveIfStale(path);
    return MK_E_UNAVAILABLE;
  }
  if (Failed(hr)) return hr;
  // The folder is ours, yet the object's process is checked as well as the caller's.
  PeerIdentity who;
  if (!options_.peer(fd.get(), who) || who.uid != options_.uid) return E_ACCESSDENIED;
  out = std::move(fd);
  return S_OK;
}

bool RunningObjects::IsRunning(std::string_view name) const {
  UniqueFd fd;
  return Succeeded(Connect(name, fd));
}

HRESULT RunningObjects::Call(std::string_view name, const CallRequest& call, const Clock& clock,
                             milliseconds limit, std::stop_token cancel,
                             CallReply& reply) const {
  UniqueFd fd;
  if (const HRESULT hr = Connect(name, fd); Failed(hr)) return hr;
  std::vector<std::uint8_t> bytes;
  if (const HRESULT hr = EncodeCall(call, bytes); Failed(hr)) return hr;
  for (;;) {
    const ssize_t n = ::send(fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(bytes.size())) break;
    if (n >= 0) return HresultFromWin32(win32::ERROR_WRITE_FAULT);
    if (errno == EINTR) continue;
    // A refusal is answered before the server closes: read what it said.
    if (errno == EPIPE || errno == ECONNRESET) break;
    return HresultFromErrno(errno);
  }
  UniqueFd cancelled(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!cancelled) return HresultFromErrno(errno);
  std::stop_callback onCancel(cancel, [&] { Signal(cancelled.get()); });
  const nanoseconds end = clock.Monotonic() + limit;
  std::vector<std::uint8_t> buf(kMaxCallBytes + 1);
  for (;;) {
    const int wait = Remaining(clock, end);
    if (wait == 0) return HresultFromWin32(win32::ERROR_TIMEOUT);
    pollfd fds[2] = {{fd.get(), POLLIN, 0}, {cancelled.get(), POLLIN, 0}};
    const int n = ::poll(fds, 2, wait);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return HresultFromErrno(errno);
    // A poll that runs out its whole wait is the end, so a clock that stands still cannot
    // make this spin.
    if (n == 0) return HresultFromWin32(win32::ERROR_TIMEOUT);
    if (fds[1].revents != 0) return RPC_E_CALL_CANCELED;
    const ssize_t got = ::recv(fd.get(), buf.data(), buf.size(), MSG_DONTWAIT);
    if (got == 0) return HresultFromWin32(win32::ERROR_BROKEN_PIPE);
    if (got < 0) {
      // A reset before the answer of a server that closed early is reported once.
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNRESET) {
        continue;
      }
      return HresultFromErrno(errno);
    }
    if (const HRESULT hr = DecodeReply(std::span(buf.data(), static_cast<std::size_t>(got)),
                                       reply);
        Failed(hr)) {
      return hr;
    }
    if (reply.kind != ReplyKind::Queued) return S_OK;
  }
}

}  // namespace qv::platform
