#include "platform/com/remote_call.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace qv::platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

enum class ArgTag : std::uint8_t { String = 1, NullString = 2, Ulong = 3, Date = 4, Bool = 5 };

const HRESULT kBadData = HresultFromWin32(win32::ERROR_INVALID_DATA);

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put64(std::vector<std::uint8_t>& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Reads fields front to back; every read checks what is left, so no length can run past the
// record.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool U8(std::uint8_t& v) {
    if (left() < 1) return false;
    v = bytes_[pos_++];
    return true;
  }
  bool U32(std::uint32_t& v) {
    if (left() < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(bytes_[pos_ + i]) << (8 * i);
    pos_ += 4;
    return true;
  }
  bool U64(std::uint64_t& v) {
    if (left() < 8) return false;
    v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(bytes_[pos_ + i]) << (8 * i);
    pos_ += 8;
    return true;
  }
  bool Bytes(std::size_t n, std::string& out) {
    if (left() < n) return false;
    out.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), n);
    pos_ += n;
    return true;
  }
  std::size_t left() const { return bytes_.size() - pos_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

void FillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof(addr));
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
}

// Milliseconds left for poll(), rounded up; 0 once expired.
int Remaining(const Clock& clock, nanoseconds end) {
  const nanoseconds left = end - clock.Monotonic();
  if (left <= nanoseconds(0)) return 0;
  return static_cast<int>(
      std::min<std::int64_t>(std::chrono::ceil<milliseconds>(left).count(), 1 << 30));
}

// False when the deadline passes first. A poll that runs out its whole wait counts as expiry,
// so a clock that does not move cannot make this spin.
bool WaitFor(int fd, short events, const Clock& clock, nanoseconds end) {
  for (;;) {
    const int wait = Remaining(clock, end);
    if (wait == 0) return false;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, wait);
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return true;  // the following call reports the error
  }
}

// Appends typed values (a call's arguments, a reply's out values); false when one is too long.
bool EncodeValues(const std::vector<CallArg>& values, std::vector<std::uint8_t>& out) {
  for (const CallArg& arg : values) {
    if (const auto* s = std::get_if<std::optional<std::string>>(&arg)) {
      if (!*s) {
        out.push_back(static_cast<std::uint8_t>(ArgTag::NullString));
        continue;
      }
      if ((*s)->size() > kMaxCallBytes) return false;
      out.push_back(static_cast<std::uint8_t>(ArgTag::String));
      Put32(out, static_cast<std::uint32_t>((*s)->size()));
      out.insert(out.end(), (*s)->begin(), (*s)->end());
    } else if (const auto* u = std::get_if<std::uint32_t>(&arg)) {
      out.push_back(static_cast<std::uint8_t>(ArgTag::Ulong));
      Put32(out, *u);
    } else if (const auto* d = std::get_if<double>(&arg)) {
      out.push_back(static_cast<std::uint8_t>(ArgTag::Date));
      Put64(out, std::bit_cast<std::uint64_t>(*d));
    } else {
      out.push_back(static_cast<std::uint8_t>(ArgTag::Bool));
      out.push_back(std::get<bool>(arg) ? 1 : 0);
    }
    if (out.size() > kMaxCallBytes) return false;
  }
  return true;
}

bool DecodeValues(Reader& r, std::uint32_t count, std::vector<CallArg>& out) {
  out.clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t tag = 0;
    if (!r.U8(tag)) return false;
    switch (static_cast<ArgTag>(tag)) {
      case ArgTag::String: {
        std::uint32_t n = 0;
        std::string s;
        if (!r.U32(n) || !r.Bytes(n, s)) return false;
        out.emplace_back(std::optional<std::string>(std::move(s)));
        break;
      }
      case ArgTag::NullString:
        out.emplace_back(std::optional<std::string>());
        break;
      case ArgTag::Ulong: {
        std::uint32_t v = 0;
        if (!r.U32(v)) return false;
        out.emplace_back(v);
        break;
      }
      case ArgTag::Date: {
        std::uint64_t v = 0;
        if (!r.U64(v)) return false;
        out.emplace_back(std::bit_cast<double>(v));
        break;
      }
      case ArgTag::Bool: {
        std::uint8_t v = 0;
        if (!r.U8(v) || v > 1) return false;
        out.emplace_back(v == 1);
        break;
      }
      default:
        return false;
    }
  }
  return r.left() == 0;
}

}  // namespace

HRESULT EncodeCall(const CallRequest& call, std::vector<std::uint8_t>& out) {
  if (call.args.size() > kMaxCallArgs) return E_INVALIDARG;
  out.clear();
  Put32(out, kCallMagic);
  Put32(out, call.method);
  Put32(out, call.begin ? kCallBegin : 0);
  Put32(out, static_cast<std::uint32_t>(call.args.size()));
  if (!EncodeValues(call.args, out)) return E_INVALIDARG;
  return out.size() > kMaxCallBytes ? E_INVALIDARG : S_OK;
}

HRESULT DecodeCall(std::span<const std::uint8_t> bytes, CallRequest& out) {
  if (bytes.size() < kCallHeaderSize || bytes.size() > kMaxCallBytes) return kBadData;
  Reader r(bytes);
  std::uint32_t magic = 0, flags = 0, count = 0;
  if (!r.U32(magic) || magic != kCallMagic || !r.U32(out.method) || !r.U32(flags) ||
      (flags & ~kCallKnownFlags) != 0 || !r.U32(count) || count > kMaxCallArgs) {
    return kBadData;
  }
  out.begin = (flags & kCallBegin) != 0;
  return DecodeValues(r, count, out.args) ? S_OK : kBadData;
}

HRESULT EncodeReply(const CallReply& reply, std::vector<std::uint8_t>& out) {
  out.clear();
  Put32(out, kReplyMagic);
  Put32(out, static_cast<std::uint32_t>(reply.kind));
  Put32(out, static_cast<std::uint32_t>(reply.hr));
  Put32(out, reply.serverPid);
  if (reply.kind != ReplyKind::Values) return reply.values.empty() ? S_OK : E_INVALIDARG;
  if (reply.values.size() > kMaxReplyValues) return E_INVALIDARG;
  Put32(out, static_cast<std::uint32_t>(reply.values.size()));
  return EncodeValues(reply.values, out) && out.size() <= kMaxCallBytes ? S_OK : E_INVALIDARG;
}

std::vector<std::uint8_t> EncodeReply(const CallReply& reply) {
  std::vector<std::uint8_t> out;
  EncodeReply(reply, out);
  return out;
}

HRESULT DecodeReply(std::span<const std::uint8_t> bytes, CallReply& out) {
  if (bytes.size() < kReplySize || bytes.size() > kMaxCallBytes) return kBadData;
  Reader r(bytes);
  std::uint32_t magic = 0, kind = 0, hr = 0;
  if (!r.U32(magic) || magic != kReplyMagic || !r.U32(kind) || !r.U32(hr) ||
      !r.U32(out.serverPid)) {
    return kBadData;
  }
  out.values.clear();
  if (kind == static_cast<std::uint32_t>(ReplyKind::Values)) {
    std::uint32_t count = 0;
    if (!r.U32(count) || count > kMaxReplyValues || !DecodeValues(r, count, out.values)) {
      return kBadData;
    }
  } else if (kind != static_cast<std::uint32_t>(ReplyKind::Result) &&
             kind != static_cast<std::uint32_t>(ReplyKind::Queued)) {
    return kBadData;
  } else if (r.left() != 0) {
    return kBadData;
  }
  out.kind = static_cast<ReplyKind>(kind);
  out.hr = static_cast<HRESULT>(hr);
  return S_OK;
}

bool ReadPeerIdentity(int fd, PeerIdentity& out) {
  ucred cred{};
  socklen_t len = sizeof(cred);
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  out.uid = cred.uid;
  out.gid = cred.gid;
  out.pid = cred.pid;
  return true;
}

HRESULT ListenOn(const std::filesystem::path& path, UniqueFd& out) {
  const std::string& s = path.native();
  if (s.size() >= sizeof(sockaddr_un::sun_path)) {
    return HresultFromWin32(win32::ERROR_FILENAME_EXCED_RANGE);
  }
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) return HresultFromErrno(errno);
  sockaddr_un addr{};
  FillAddress(s, addr);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
    return errno == EADDRINUSE ? HresultFromWin32(win32::ERROR_ALREADY_EXISTS)
                               : HresultFromErrno(errno);
  }
  // The folder (0700) already keeps others out; the socket file says the same on its own.
  if (::chmod(s.c_str(), 0600) != 0 || ::listen(fd.get(), 64) != 0) {
    const int err = errno;
    ::unlink(s.c_str());
    return HresultFromErrno(err);
  }
  out = std::move(fd);
  return S_OK;
}

RecordRead ReadCallRecord(int fd, std::vector<std::uint8_t>& buf) {
  buf.resize(kMaxCallBytes + 1);
  iovec iov{buf.data(), buf.size()};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  for (;;) {
    const ssize_t n = ::recvmsg(fd, &msg, MSG_DONTWAIT);
    if (n > 0) {
      if ((msg.msg_flags & MSG_TRUNC) != 0 || static_cast<std::size_t>(n) > kMaxCallBytes) {
        return RecordRead::Bad;
      }
      buf.resize(static_cast<std::size_t>(n));
      return RecordRead::Record;
    }
    if (n == 0) return RecordRead::Closed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return RecordRead::Again;
    return RecordRead::Closed;
  }
}

HRESULT SendReply(int fd, const CallReply& reply) {
  std::vector<std::uint8_t> bytes;
  if (const HRESULT hr = EncodeReply(reply, bytes); Failed(hr)) return hr;
  for (;;) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n == static_cast<ssize_t>(bytes.size())) return S_OK;
    if (n >= 0) return HresultFromWin32(win32::ERROR_WRITE_FAULT);
    if (errno == EINTR) continue;
    return HresultFromErrno(errno);
  }
}

HRESULT ConnectTo(const std::filesystem::path& path, UniqueFd& out) {
  const std::string& s = path.native();
  if (s.size() >= sizeof(sockaddr_un::sun_path)) {
    return HresultFromWin32(win32::ERROR_FILENAME_EXCED_RANGE);
  }
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!fd) return HresultFromErrno(errno);
  sockaddr_un addr{};
  FillAddress(s, addr);
  for (;;) {
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0) break;
    if (errno == EINTR) continue;
    if (errno == ENOENT || errno == ECONNREFUSED) {
      return HresultFromWin32(win32::ERROR_FILE_NOT_FOUND);
    }
    return HresultFromErrno(errno);
  }
  out = std::move(fd);
  return S_OK;
}

HRESULT ReceiveReply(int fd, const Clock& clock, milliseconds timeout, CallReply& reply) {
  const nanoseconds end = clock.Monotonic() + timeout;
  // Room for the largest reply and one byte more, so an oversized one is seen as such.
  std::vector<std::uint8_t> buf(kMaxCallBytes + 1);
  for (;;) {
    if (!WaitFor(fd, POLLIN, clock, end)) return HresultFromWin32(win32::ERROR_TIMEOUT);
    const ssize_t n = ::recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
    if (n > 0) return DecodeReply(std::span(buf.data(), static_cast<std::size_t>(n)), reply);
    if (n == 0) return HresultFromWin32(win32::ERROR_BROKEN_PIPE);
    // A server that answered and closed without reading all we sent shows up as a reset
    // before its answer; the reset is reported once, and the answer is read next.
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNRESET) {
      continue;
    }
    return HresultFromErrno(errno);
  }
}

HRESULT SendCall(int fd, const CallRequest& call, const Clock& clock, milliseconds timeout,
                 CallReply& reply) {
  std::vector<std::uint8_t> bytes;
  if (const HRESULT hr = EncodeCall(call, bytes); Failed(hr)) return hr;
  const nanoseconds end = clock.Monotonic() + timeout;
  for (;;) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n == static_cast<ssize_t>(bytes.size())) break;
    if (n >= 0) return HresultFromWin32(win32::ERROR_WRITE_FAULT);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitFor(fd, POLLOUT, clock, end)) return HresultFromWin32(win32::ERROR_TIMEOUT);
      continue;
    }
    // The server may have answered before it closed (a refusal does): read what it said.
    if (errno == EPIPE || errno == ECONNRESET) break;
    return HresultFromErrno(errno);
  }
  const milliseconds left = std::chrono::ceil<milliseconds>(
      std::max(nanoseconds(0), end - clock.Monotonic()));
  return ReceiveReply(fd, clock, left, reply);
}

}  // namespace qv::platform
