#pragma once
// Calls on an object served by another process of the same user: one call per Unix-domain
// SEQPACKET record, one reply per record, every integer little-endian.
//
// Request:  offset size field
//           0      4    magic "QVC1" (0x31435651)
//           4      4    method number
//           8      4    flags (kCallBegin: answer as soon as the call is queued)
//           12     4    argument count n (at most kMaxCallArgs)
//           16     ...  n arguments, each a type byte and its value:
//                         1 string: 4-byte length, then that many bytes (UTF-8)
//                         2 null string: nothing
//                         3 ULONG: 4 bytes
//                         4 DATE: 8 bytes, the IEEE double
//                         5 bool: 1 byte, 0 or 1
// Reply:    0 4 magic "QVR1" (0x31525651), 4 4 kind (ReplyKind), 8 4 HRESULT, 12 4 the
//           serving process's id. A Values reply goes on: 16 4 value count n (at most
//           kMaxReplyValues), then n values typed and laid out as a call's arguments. The
//           other kinds are exactly those 16 bytes.
//
// A begin-call gets a Queued reply once the server has taken the call, then a Result reply
// when it has run; a plain call gets only the Result.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "common/clock.h"
#include "common/hresult.h"
#include "platform/messaging/unique_fd.h"

namespace qv::platform {

inline constexpr std::uint32_t kCallMagic = 0x31435651;   // "QVC1"
inline constexpr std::uint32_t kReplyMagic = 0x31525651;  // "QVR1"
inline constexpr std::size_t kCallHeaderSize = 16;
inline constexpr std::size_t kReplySize = 16;
// Whole records, so a peer cannot make either side hold more than this per call.
inline constexpr std::size_t kMaxCallBytes = 64 * 1024;
inline constexpr std::size_t kMaxCallArgs = 16;
// Out values of one reply (the mail proxy's item data hands back 26).
inline constexpr std::size_t kMaxReplyValues = 32;
inline constexpr std::uint32_t kCallBegin = 0x0001;
inline constexpr std::uint32_t kCallKnownFlags = 0x0001;

// A string (absent: a null BSTR), a ULONG, a DATE or a bool.
using CallArg = std::variant<std::optional<std::string>, std::uint32_t, double, bool>;

struct CallRequest {
  std::uint32_t method = 0;
  bool begin = false;
  std::vector<CallArg> args;

  bool operator==(const CallRequest&) const = default;
};

// Values: a Result that also carries the call's out values.
enum class ReplyKind : std::uint32_t { Result = 1, Queued = 2, Values = 3 };

struct CallReply {
  CallReply() = default;
  CallReply(ReplyKind k, HRESULT h, std::uint32_t pid, std::vector<CallArg> v = {})
      : kind(k), hr(h), serverPid(pid), values(std::move(v)) {}

  ReplyKind kind = ReplyKind::Result;
  HRESULT hr = S_OK;
  std::uint32_t serverPid = 0;
  std::vector<CallArg> values;  // Values replies only

  bool operator==(const CallReply&) const = default;
};

// E_INVALIDARG when the call does not fit the format (too many arguments, too long).
HRESULT EncodeCall(const CallRequest& call, std::vector<std::uint8_t>& out);
// Anything malformed (short, wrong magic, unknown flags or type, a length past the end, bytes
// left over, a bool other than 0 or 1, oversized) gives HresultFromWin32(ERROR_INVALID_DATA).
HRESULT DecodeCall(std::span<const std::uint8_t> bytes, CallRequest& out);
// E_INVALIDARG when a reply's values do not fit (too many, too long), or a reply of another
// kind carries values.
HRESULT EncodeReply(const CallReply& reply, std::vector<std::uint8_t>& out);
// For replies without values, which always fit.
std::vector<std::uint8_t> EncodeReply(const CallReply& reply);
// As strict as DecodeCall: a Result or Queued reply is exactly 16 bytes, a Values reply its
// announced values and nothing more.
HRESULT DecodeReply(std::span<const std::uint8_t> bytes, CallReply& out);

// The calling process as the kernel saw it connect.
struct PeerIdentity {
  uid_t uid = 0;
  gid_t gid = 0;
  pid_t pid = 0;
};
bool ReadPeerIdentity(int fd, PeerIdentity& out);

// --- server side ---

// Binds and listens on `path` (mode 0600, non-blocking, close-on-exec). A file already at
// the path is an error (ERROR_ALREADY_EXISTS): the caller decides whether it is stale.
HRESULT ListenOn(const std::filesystem::path& path, UniqueFd& out);

enum class RecordRead { Record, Closed, Again, Bad };
// Reads one record without blocking; one longer than kMaxCallBytes is Bad.
RecordRead ReadCallRecord(int fd, std::vector<std::uint8_t>& buf);
// Sends a reply without blocking; a peer that left or does not read is an error.
HRESULT SendReply(int fd, const CallReply& reply);

// --- client side ---

// Connects to the server at `path`. ERROR_FILE_NOT_FOUND when nothing listens there (no
// socket, or a socket nobody serves any more).
HRESULT ConnectTo(const std::filesystem::path& path, UniqueFd& out);

// Sends the call and waits for its Result (or Values) reply, or for the Queued reply of a begin-call, at
// most `timeout` (ERROR_TIMEOUT). A connection closed without a reply is ERROR_BROKEN_PIPE.
HRESULT SendCall(int fd, const CallRequest& call, const Clock& clock,
                 std::chrono::milliseconds timeout, CallReply& reply);
// Waits for the next reply on the connection (the Result after a Queued one).
HRESULT ReceiveReply(int fd, const Clock& clock, std::chrono::milliseconds timeout,
                     CallReply& reply);

}  // namespace qv::platform
