#pragma once
// The browser's native-messaging framing on a pipe: each message is a 32-bit length in the
// machine's byte order followed by that many bytes of UTF-8 JSON.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv::browser {

// Messages from the extension larger than this are refused (the browser's own limit for
// messages from a host).
inline constexpr std::size_t kMaxMessageIn = 1024 * 1024;

enum class FrameResult {
  Ok,         // `out` holds the message
  End,        // the pipe closed between messages: the browser is done with the host
  TooLarge,   // the message was longer than the limit; it was read and thrown away
  Truncated,  // the pipe closed inside a message
  Error,      // a read failed
};

FrameResult ReadFrame(int fd, std::string& out, std::size_t maxBytes = kMaxMessageIn);
// False when the write fails (the browser went away).
bool WriteFrame(int fd, std::string_view message);

}  // namespace qv::browser
