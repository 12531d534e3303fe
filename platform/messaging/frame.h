#pragma once
// The wire format of window messages between processes (and through the in-process
// transport): one frame per SEQPACKET record, a fixed little-endian header followed by the
// copy-data bytes.
//
//   offset size field
//   0      4    magic "QVM1" (0x314D5651 little-endian)
//   4      1    kind (FrameKind)
//   5      1    reserved, 0
//   6      2    flags (kFrame*)
//   8      4    sequence number; a reply repeats the request's
//   12     4    message number
//   16     8    target window handle
//   24     8    wParam
//   32     8    lParam
//   40     8    dwData (copy data) / pid of the window (query reply)
//   48     8    result (reply)
//   56     4    status (ReplyStatus, replies only)
//   60     4    data length n, equal to the bytes that follow
//   64     n    data: copy-data bytes, or "class\0title" in a query reply
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/hresult.h"
#include "platform/messaging/message.h"

namespace qv::platform {

inline constexpr std::uint32_t kFrameMagic = 0x314D5651;  // "QVM1"
inline constexpr std::size_t kFrameHeaderSize = 64;
// Largest copy-data block; the tracer reads at most 0xFFFD bytes, so this leaves room.
inline constexpr std::size_t kMaxCopyDataBytes = 64 * 1024;
inline constexpr std::size_t kMaxFrameSize = kFrameHeaderSize + kMaxCopyDataBytes;
// Longest class name and title a window may have (bytes of UTF-8).
inline constexpr std::size_t kMaxClassNameBytes = 256;
inline constexpr std::size_t kMaxTitleBytes = 4096;

enum class FrameKind : std::uint8_t {
  Post = 1,        // no reply
  Send = 2,        // expects a Reply with the same sequence number
  Reply = 3,
  Query = 4,       // "who are you": answered with QueryReply
  QueryReply = 5,
};

inline constexpr std::uint16_t kFrameHasCopyData = 0x0001;
inline constexpr std::uint16_t kFrameNullData = 0x0002;     // lpData was null
inline constexpr std::uint16_t kFrameAbortIfHung = 0x0004;  // SMTO_ABORTIFHUNG
inline constexpr std::uint16_t kFrameMessageOnly = 0x0008;  // query reply: message-only window
inline constexpr std::uint16_t kFrameKnownFlags = 0x000F;

enum class ReplyStatus : std::uint32_t {
  Ok = 0,
  NoWindow = 1,  // the target window does not exist (any more)
  Hung = 2,      // the receiving loop has not pumped messages for too long
};

struct Frame {
  FrameKind kind = FrameKind::Post;
  std::uint16_t flags = 0;
  std::uint32_t seq = 0;
  std::uint32_t message = 0;
  Hwnd target = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::uint64_t dwData = 0;
  LRESULT result = 0;
  ReplyStatus status = ReplyStatus::Ok;
  std::vector<std::uint8_t> data;

  bool operator==(const Frame&) const = default;
};

// Encodes a frame; E_INVALIDARG if its data is longer than the format allows.
HRESULT EncodeFrame(const Frame& frame, std::vector<std::uint8_t>& out);
// Decodes one record. Anything malformed (short, wrong magic, unknown kind or flags,
// length mismatch, data where the kind carries none, oversized) gives
// HresultFromWin32(ERROR_INVALID_DATA) and leaves `out` unspecified.
HRESULT DecodeFrame(std::span<const std::uint8_t> bytes, Frame& out);

// The frame for a message, and the message back from a decoded frame.
Frame FrameFromMessage(FrameKind kind, const Message& message);
Message MessageFromFrame(const Frame& frame);

// Query replies carry "class\0title"; false if the data does not have that shape.
std::vector<std::uint8_t> EncodeWindowName(std::string_view className, std::string_view title);
bool DecodeWindowName(std::span<const std::uint8_t> data, std::string& className,
                      std::string& title);

}  // namespace qv::platform
