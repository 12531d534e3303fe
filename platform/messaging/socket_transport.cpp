#include "platform/messaging/socket_transport.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <thread>

#include "context/event_report.h"
#include "common/utf.h"
#include "platform/messaging/message_ids.h"
#include "platform/messaging/runtime_folder.h"
#include "platform/messaging/unique_fd.h"

namespace qv::platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// A find asks every candidate window who it is; a live process answers at once.
constexpr milliseconds kQueryTimeout{1000};
// More connections than this to one window are refused rather than served slowly.
constexpr std::size_t kMaxConnections = 256;

const HRESULT kNoWindow = HresultFromWin32(ERROR_INVALID_WINDOW_HANDLE);
const HRESULT kTimeout = HresultFromWin32(win32::ERROR_TIMEOUT);

std::string Hex64(std::uint64_t v) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s(16, '0');
  for (int i = 15; i >= 0; --i, v >>= 4) s[i] = kDigits[v & 0xF];
  return s;
}

bool ParseHex64(std::string_view s, std::uint64_t& out) {
  if (s.size() != 16) return false;
  out = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else return false;
    out = (out << 4) | static_cast<std::uint64_t>(d);
  }
  return true;
}

// Class names compare without case, so the file name carries a hash of the lowered name.
std::uint64_t ClassKey(std::string_view className) {
  std::uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
  for (unsigned char c : AsciiLower(className)) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

// Parses "<class key>.<handle>"; anything else in the folder is not ours to judge.
bool ParseSocketName(std::string_view name, std::uint64_t& classKey, Hwnd& handle) {
  return name.size() == 33 && name[16] == '.' && ParseHex64(name.substr(0, 16), classKey) &&
         ParseHex64(name.substr(17), handle);
}

bool FillAddress(const std::filesystem::path& path, sockaddr_un& addr) {
  const std::string& s = path.native();
  if (s.size() >= sizeof(addr.sun_path)) return false;
  std::memset(&addr, 0, sizeof(addr));
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, s.c_str(), s.size() + 1);
  return true;
}

class Deadline {
 public:
  Deadline(const Clock& clock, milliseconds timeout)
      : clock_(clock), end_(clock.Monotonic() + timeout) {}
  // Milliseconds left for poll(), rounded up; 0 once expired.
  int Remaining() const {
    const nanoseconds left = end_ - clock_.Monotonic();
    if (left <= nanoseconds(0)) return 0;
    return static_cast<int>(std::min<std::int64_t>(
        std::chrono::ceil<milliseconds>(left).count(), 1 << 30));
  }

 private:
  const Clock& clock_;
  nanoseconds end_;
};

// Waits for `events` on `fd`; false when the deadline passes first. A poll that runs out its
// whole wait counts as expiry, so a clock that does not move cannot make this spin.
bool WaitFor(int fd, short events, const Deadline& deadline) {
  for (;;) {
    const int wait = deadline.Remaining();
    if (wait == 0) return false;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, wait);
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return true;  // let the following call report the error
  }
}

bool ReadPeer(int fd, PeerCredentials& out) {
  ucred cred{};
  socklen_t len = sizeof(cred);
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  out.pid = cred.pid;
  out.uid = cred.uid;
  out.gid = cred.gid;
  return true;
}

bool PeerAllowed(const SocketTransportOptions& options, int fd, const std::filesystem::path& where) {
  PeerCredentials peer;
  if (!options.peerCredentials(fd, peer)) return false;
  if (peer.uid == options.uid) return true;
  if (options.eventLog != nullptr) {
    options.eventLog->Report(kEventSource, EventType::Warning, kCategoryTracer,
                             kEventForeignPeerRefused,
                             {where.string(), std::to_string(peer.uid), std::to_string(peer.pid)});
  }
  return false;
}

// Sends one record, waiting for room until the deadline.
HRESULT SendRecord(int fd, const std::vector<std::uint8_t>& bytes, const Deadline& deadline) {
  for (;;) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n == static_cast<ssize_t>(bytes.size())) return S_OK;
    if (n >= 0) return HresultFromWin32(win32::ERROR_WRITE_FAULT);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitFor(fd, POLLOUT, deadline)) return kTimeout;
      continue;
    }
    if (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN) return kNoWindow;
    return HresultFromErrno(errno);
  }
}

enum class ReadResult { Record, Closed, Again, Bad };

// Reads one record into `buf`; a record too long for a frame is Bad.
ReadResult ReadRecord(int fd, std::vector<std::uint8_t>& buf, std::size_t& size) {
  buf.resize(kMaxFrameSize + 1);
  iovec iov{buf.data(), buf.size()};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  for (;;) {
    const ssize_t n = ::recvmsg(fd, &msg, MSG_DONTWAIT);
    if (n > 0) {
      if ((msg.msg_flags & MSG_TRUNC) != 0 || static_cast<std::size_t>(n) > kMaxFrameSize) {
        return ReadResult::Bad;
      }
      size = static_cast<std::size_t>(n);
      return ReadResult::Record;
    }
    if (n == 0) return ReadResult::Closed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return ReadResult::Again;
    return ReadResult::Closed;
  }
}

// One published window: a listening socket and the thread that serves its connections.
class SocketPublication final : public Publication {
 public:
  SocketPublication(SocketTransportOptions options, std::filesystem::path path, UniqueFd listen,
                    UniqueFd stop, std::shared_ptr<FrameSink> sink, Hwnd handle)
      : options_(std::move(options)),
        path_(std::move(path)),
        listen_(std::move(listen)),
        stop_(std::move(stop)),
        sink_(std::move(sink)),
        handle_(handle) {
    thread_ = std::thread([this] { Serve(); });
  }

  ~SocketPublication() override {
    // The name goes first, so that no find sees a window that is going away.
    ::unlink(path_.c_str());
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_.get(), &one, sizeof(one));
    thread_.join();
  }

 private:
  void Serve() {
    std::vector<std::shared_ptr<UniqueFd>> conns;
    std::vector<std::uint8_t> buf;
    std::vector<pollfd> fds;
    for (;;) {
      fds.assign({{stop_.get(), POLLIN, 0}, {listen_.get(), POLLIN, 0}});
      for (const auto& c : conns) fds.push_back({c->get(), POLLIN, 0});
      if (::poll(fds.data(), fds.size(), -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[0].revents != 0) return;
      std::vector<bool> drop(conns.size(), false);
      for (std::size_t i = 0; i < conns.size(); ++i) {
        const short rev = fds[i + 2].revents;
        if (rev == 0) continue;
        if ((rev & POLLIN) != 0) {
          std::size_t size = 0;
          switch (ReadRecord(conns[i]->get(), buf, size)) {
            case ReadResult::Record:
              if (!Handle(conns[i], std::span(buf.data(), size))) drop[i] = true;
              break;
            case ReadResult::Again:
              break;
            case ReadResult::Closed:
            case ReadResult::Bad:
              drop[i] = true;
              break;
          }
        } else {
          drop[i] = true;  // hang-up or error without data
        }
      }
      for (std::size_t i = conns.size(); i > 0; --i) {
        if (drop[i - 1]) conns.erase(conns.begin() + static_cast<std::ptrdiff_t>(i - 1));
      }
      if ((fds[1].revents & POLLIN) != 0) {
        UniqueFd fd(::accept4(listen_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (fd && conns.size() < kMaxConnections && PeerAllowed(options_, fd.get(), path_)) {
          conns.push_back(std::make_shared<UniqueFd>(std::move(fd)));
        }
      }
    }
  }

  // False drops the connection: a peer that breaks the protocol is not served further.
  bool Handle(const std::shared_ptr<UniqueFd>& conn, std::span<const std::uint8_t> record) {
    Frame frame;
    if (Failed(DecodeFrame(record, frame))) return false;
    switch (frame.kind) {
      case FrameKind::Query: {
        const WindowInfo info = sink_->Describe();
        Frame answer;
        answer.kind = FrameKind::QueryReply;
        answer.seq = frame.seq;
        answer.target = info.handle;
        answer.flags = info.messageOnly ? kFrameMessageOnly : 0;
        answer.dwData = static_cast<std::uint64_t>(info.pid);
        answer.data = EncodeWindowName(info.className, info.title);
        Reply(*conn, answer);
        return true;
      }
      case FrameKind::Post:
        if (frame.target != handle_) return false;
        sink_->OnFrame(std::move(frame), {});
        return true;
      case FrameKind::Send:
        if (frame.target != handle_) return false;
        sink_->OnFrame(std::move(frame), [conn](const Frame& answer) { Reply(*conn, answer); });
        return true;
      case FrameKind::Reply:
      case FrameKind::QueryReply:
        break;
    }
    return false;
  }

  // Replies never wait: a sender that stopped reading has given up on the answer.
  static void Reply(const UniqueFd& conn, const Frame& answer) {
    std::vector<std::uint8_t> bytes;
    if (Failed(EncodeFrame(answer, bytes))) return;
    [[maybe_unused]] const ssize_t n =
        ::send(conn.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }

  SocketTransportOptions options_;
  std::filesystem::path path_;
  UniqueFd listen_;
  UniqueFd stop_;
  std::shared_ptr<FrameSink> sink_;
  Hwnd handle_;
  std::thread thread_;
};

}  // namespace

HRESULT SocketTransport::Open(SocketTransportOptions options, const Clock& clock,
                              std::shared_ptr<SocketTransport>& out) {
  const HRESULT hr = EnsureRuntimeFolder(options.folder, options.uid);
  if (Failed(hr)) return hr;
  out = std::make_shared<SocketTransport>(std::move(options), clock);
  return S_OK;
}

SocketTransport::SocketTransport(SocketTransportOptions options, const Clock& clock)
    : options_(std::move(options)), clock_(clock) {
  if (!options_.peerCredentials) options_.peerCredentials = ReadPeer;
  std::random_device rd;
  nextSerial_ = rd();
}

SocketTransport::~SocketTransport() = default;

Hwnd SocketTransport::NewHandle() {
  std::uint32_t serial = 0;
  while (serial == 0) serial = nextSerial_.fetch_add(1);
  return (static_cast<Hwnd>(static_cast<std::uint32_t>(::getpid())) << 32) | serial;
}

std::filesystem::path SocketTransport::SocketPath(std::string_view className, Hwnd handle) const {
  return options_.folder / (Hex64(ClassKey(className)) + "." + Hex64(handle));
}

bool SocketTransport::PeerAllowed(int fd, const std::filesystem::path& where) const {
  return platform::PeerAllowed(options_, fd, where);
}

HRESULT SocketTransport::Publish(const WindowInfo& info, std::shared_ptr<FrameSink> sink,
                                 std::unique_ptr<Publication>& out) {
  const std::filesystem::path path = SocketPath(info.className, info.handle);
  // Bound under a hidden name and renamed once listening, so that a sender never meets
  // the socket before it accepts (and takes it for a dead window's leftover).
  const std::filesystem::path staging =
      options_.folder / ("." + path.filename().string() + ".new");
  sockaddr_un addr{};
  if (!FillAddress(staging, addr)) return HresultFromWin32(win32::ERROR_FILENAME_EXCED_RANGE);
  UniqueFd listen(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listen) return HresultFromErrno(errno);
  ::unlink(staging.c_str());
  if (::bind(listen.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
    return HresultFromErrno(errno);
  }
  if (::listen(listen.get(), SOMAXCONN) != 0 || ::rename(staging.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(staging.c_str());
    return HresultFromErrno(err);
  }
  UniqueFd stop(::eventfd(0, EFD_CLOEXEC));
  if (!stop) {
    const int err = errno;
    ::unlink(path.c_str());
    return HresultFromErrno(err);
  }
  out = std::make_unique<SocketPublication>(options_, path, std::move(listen), std::move(stop),
                                            std::move(sink), info.handle);
  return S_OK;
}

namespace {

struct Candidate {
  std::filesystem::path path;
  Hwnd handle = 0;
  std::int64_t mtime = 0;
};

// Connects to a window's socket. A socket nobody listens on is a dead process's leftover:
// it is removed, and the window counts as missing.
HRESULT ConnectTo(const SocketTransportOptions& options, const std::filesystem::path& path,
                  const Deadline& deadline, UniqueFd& out) {
  sockaddr_un addr{};
  if (!FillAddress(path, addr)) return kNoWindow;
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) return HresultFromErrno(errno);
  for (;;) {
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0) break;
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      // The listener's backlog is full: its process is alive but not accepting.
      if (deadline.Remaining() == 0) return kTimeout;
      std::this_thread::sleep_for(milliseconds(2));
      continue;
    }
    if (errno == ECONNREFUSED) {
      struct stat st {};
      if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == options.uid) {
        ::unlink(path.c_str());
      }
      return kNoWindow;
    }
    if (errno == ENOENT) return kNoWindow;
    return HresultFromErrno(errno);
  }
  if (!PeerAllowed(options, fd.get(), path)) return E_ACCESSDENIED;
  out = std::move(fd);
  return S_OK;
}

// Sends `request` and waits for the answer of the same sequence number and kind.
HRESULT Exchange(int fd, const Frame& request, FrameKind answerKind, const Deadline& deadline,
                 Frame& answer) {
  std::vector<std::uint8_t> bytes;
  HRESULT hr = EncodeFrame(request, bytes);
  if (Failed(hr)) return hr;
  hr = SendRecord(fd, bytes, deadline);
  if (Failed(hr)) return hr;
  std::vector<std::uint8_t> buf;
  for (;;) {
    if (!WaitFor(fd, POLLIN, deadline)) return kTimeout;
    std::size_t size = 0;
    switch (ReadRecord(fd, buf, size)) {
      case ReadResult::Again:
        continue;
      case ReadResult::Closed:
        return kNoWindow;  // the window went away while we waited
      case ReadResult::Bad:
        return HresultFromWin32(win32::ERROR_INVALID_DATA);
      case ReadResult::Record:
        break;
    }
    // Anything but the answer to this request (a late reply to an earlier one) is skipped.
    if (Succeeded(DecodeFrame(std::span(buf.data(), size), answer)) &&
        answer.kind == answerKind && answer.seq == request.seq) {
      return S_OK;
    }
  }
}

}  // namespace

std::vector<WindowInfo> SocketTransport::Enumerate(const WindowQuery& query) {
  std::vector<Candidate> candidates;
  std::optional<std::uint64_t> wantKey;
  if (query.className) wantKey = ClassKey(*query.className);
  if (DIR* dir = ::opendir(options_.folder.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      std::uint64_t key = 0;
      Hwnd handle = 0;
      if (!ParseSocketName(entry->d_name, key, handle) || (wantKey && key != *wantKey)) continue;
      Candidate c{options_.folder / entry->d_name, handle, 0};
      struct stat st {};
      if (::lstat(c.path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) ||
          st.st_uid != options_.uid) {
        continue;
      }
      c.mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
      candidates.push_back(std::move(c));
    }
    ::closedir(dir);
  }
  // Newest first, as the most recently created window is on top.
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.mtime != b.mtime ? a.mtime > b.mtime : a.handle > b.handle;
  });
  std::vector<WindowInfo> out;
  // A window whose process lives but does not answer (stopped, or stuck) is still there, as a
  // hung window is on any desktop. Its socket's name carries its class, so a search by class
  // alone still finds it; its title and kind are unknown and taken as the search asks.
  auto unanswered = [&](const Candidate& c) {
    if (!query.className || query.title) return;
    WindowInfo info;
    info.handle = c.handle;
    info.className = *query.className;
    info.messageOnly = query.messageOnly;
    info.responding = false;
    out.push_back(std::move(info));
  };
  for (const Candidate& c : candidates) {
    Deadline deadline(clock_, kQueryTimeout);
    UniqueFd fd;
    HRESULT hr = ConnectTo(options_, c.path, deadline, fd);
    if (Failed(hr)) {
      if (hr == kTimeout) unanswered(c);
      continue;
    }
    Frame request;
    request.kind = FrameKind::Query;
    request.seq = nextSerial_.fetch_add(1);
    request.target = c.handle;
    Frame answer;
    hr = Exchange(fd.get(), request, FrameKind::QueryReply, deadline, answer);
    if (Failed(hr)) {
      if (hr == kTimeout) unanswered(c);
      continue;
    }
    WindowInfo info;
    info.handle = answer.target;
    info.messageOnly = (answer.flags & kFrameMessageOnly) != 0;
    info.pid = static_cast<std::int32_t>(answer.dwData);
    if (info.handle != c.handle || !DecodeWindowName(answer.data, info.className, info.title)) {
      continue;
    }
    if (Matches(query, info)) out.push_back(std::move(info));
  }
  return out;
}

namespace {

// The socket of a handle, whatever its class.
std::optional<std::filesystem::path> FindSocket(const std::filesystem::path& folder, Hwnd handle) {
  std::optional<std::filesystem::path> found;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      std::uint64_t key = 0;
      Hwnd h = 0;
      if (ParseSocketName(entry->d_name, key, h) && h == handle) {
        found = folder / entry->d_name;
        break;
      }
    }
    ::closedir(dir);
  }
  return found;
}

}  // namespace

bool SocketTransport::Describe(Hwnd handle, WindowInfo& out) {
  const auto path = FindSocket(options_.folder, handle);
  if (!path) return false;
  Deadline deadline(clock_, kQueryTimeout);
  UniqueFd fd;
  if (Failed(ConnectTo(options_, *path, deadline, fd))) return false;
  Frame request;
  request.kind = FrameKind::Query;
  request.seq = nextSerial_.fetch_add(1);
  request.target = handle;
  Frame answer;
  if (Failed(Exchange(fd.get(), request, FrameKind::QueryReply, deadline, answer)) ||
      answer.target != handle) {
    return false;
  }
  out.handle = handle;
  out.messageOnly = (answer.flags & kFrameMessageOnly) != 0;
  out.pid = static_cast<std::int32_t>(answer.dwData);
  return DecodeWindowName(answer.data, out.className, out.title);
}

HRESULT SocketTransport::Deliver(const Frame& frame, std::chrono::milliseconds timeout,
                                 Frame* reply) {
  if (frame.kind != FrameKind::Post && frame.kind != FrameKind::Send) return E_INVALIDARG;
  if (frame.data.size() > kMaxCopyDataBytes) return E_INVALIDARG;
  const Deadline deadline(clock_, timeout);
  const auto path = FindSocket(options_.folder, frame.target);
  if (!path) return kNoWindow;
  UniqueFd fd;
  HRESULT hr = ConnectTo(options_, *path, deadline, fd);
  if (Failed(hr)) return hr;
  Frame request = frame;
  request.seq = nextSerial_.fetch_add(1);
  if (frame.kind == FrameKind::Post || reply == nullptr) {
    std::vector<std::uint8_t> bytes;
    hr = EncodeFrame(request, bytes);
    if (Failed(hr)) return hr;
    return SendRecord(fd.get(), bytes, deadline);
  }
  return Exchange(fd.get(), request, FrameKind::Reply, deadline, *reply);
}

}  // namespace qv::platform
