#pragma once
// The native-messaging framing between the mail client's extension and our host: each
// message is a 32-bit length in native byte order followed by that many bytes of UTF-8 JSON.
// Incoming messages are bounded; a longer length is refused before anything is read.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/hresult.h"

namespace qv::mail::tb {

// What the extension sends is a few hundred bytes; anything near this is not ours.
inline constexpr std::size_t kMaxIncomingMessage = 64 * 1024;
// The client refuses replies above 1 MiB.
inline constexpr std::size_t kMaxOutgoingMessage = 1024 * 1024;

enum class FrameResult {
  Message,    // one message taken
  End,        // the input ended cleanly between messages
  NeedMore,   // (buffer parsing only) the frame is not complete yet
  Truncated,  // the input ended inside a frame
  TooLarge,   // the length exceeds the bound
  IoError,
};

// Parses one frame at the start of `in`: on Message, `consumed` bytes were used.
FrameResult ParseFrame(std::span<const std::uint8_t> in, std::size_t maxBytes,
                       std::size_t& consumed, std::string& out);

// Reads one frame from a blocking descriptor.
FrameResult ReadFrame(int fd, std::size_t maxBytes, std::string& out);
// Writes one frame whole; E_INVALIDARG when it exceeds kMaxOutgoingMessage.
HRESULT WriteFrame(int fd, std::string_view json);
// The bytes of one frame.
std::string EncodeFrame(std::string_view json);

}  // namespace qv::mail::tb
