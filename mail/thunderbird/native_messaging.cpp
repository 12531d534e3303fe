#include "mail/thunderbird/native_messaging.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv::mail::tb {

namespace {

// Reads exactly `size` bytes: false with `got` < size at end of input or on an error.
bool ReadAll(int fd, void* buffer, std::size_t size, std::size_t& got, bool& error) {
  got = 0;
  error = false;
  auto* p = static_cast<char*>(buffer);
  while (got < size) {
    const ssize_t n = ::read(fd, p + got, size - got);
    if (n == 0) return false;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = true;
      return false;
    }
    got += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

FrameResult ParseFrame(std::span<const std::uint8_t> in, std::size_t maxBytes,
                       std::size_t& consumed, std::string& out) {
  consumed = 0;
  if (in.empty()) return FrameResult::End;
  if (in.size() < 4) return FrameResult::NeedMore;
  std::uint32_t length = 0;
  std::memcpy(&length, in.data(), 4);  // native byte order
  if (length > maxBytes) return FrameResult::TooLarge;
  if (in.size() - 4 < length) return FrameResult::NeedMore;
  out.assign(reinterpret_cast<const char*>(in.data()) + 4, length);
  consumed = 4 + static_cast<std::size_t>(length);
  return FrameResult::Message;
}

FrameResult ReadFrame(int fd, std::size_t maxBytes, std::string& out) {
  std::uint32_t length = 0;
  std::size_t got = 0;
  bool error = false;
  if (!ReadAll(fd, &length, 4, got, error)) {
    if (error) return FrameResult::IoError;
    return got == 0 ? FrameResult::End : FrameResult::Truncated;
  }
  if (length > maxBytes) return FrameResult::TooLarge;
  out.resize(length);
  if (!ReadAll(fd, out.data(), length, got, error)) {
    return error ? FrameResult::IoError : FrameResult::Truncated;
  }
  return FrameResult::Message;
}

std::string EncodeFrame(std::string_view json) {
  const auto length = static_cast<std::uint32_t>(json.size());
  std::string frame(4, '\0');
  std::memcpy(frame.data(), &length, 4);
  frame.append(json);
  return frame;
}

HRESULT WriteFrame(int fd, std::string_view json) {
  if (json.size() > kMaxOutgoingMessage) return E_INVALIDARG;
  const std::string frame = EncodeFrame(json);
  std::size_t done = 0;
  while (done < frame.size()) {
    const ssize_t n = ::write(fd, frame.data() + done, frame.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return HresultFromErrno(errno);
    }
    done += static_cast<std::size_t>(n);
  }
  return S_OK;
}

}  // namespace qv::mail::tb
