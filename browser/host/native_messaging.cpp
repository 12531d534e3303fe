#include "browser/host/native_messaging.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv::browser {
namespace {

// Reads exactly n bytes into p (or discards them when p is null). Returns the bytes read
// before the pipe closed, or -1 on an error.
long long ReadFull(int fd, char* p, std::size_t n) {
  char scratch[8192];
  std::size_t got = 0;
  while (got < n) {
    char* into = p ? p + got : scratch;
    const std::size_t want = p ? n - got : std::min(n - got, sizeof scratch);
    const ssize_t r = ::read(fd, into, want);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return static_cast<long long>(got);
}

}  // namespace

FrameResult ReadFrame(int fd, std::string& out, std::size_t maxBytes) {
  char head[4];
  const long long h = ReadFull(fd, head, sizeof head);
  if (h < 0) return FrameResult::Error;
  if (h == 0) return FrameResult::End;
  if (h < 4) return FrameResult::Truncated;
  std::uint32_t length = 0;
  std::memcpy(&length, head, sizeof length);
  const bool tooLarge = length > maxBytes;
  if (!tooLarge) out.resize(length);
  const long long got = ReadFull(fd, tooLarge ? nullptr : out.data(), length);
  if (got < 0) return FrameResult::Error;
  if (static_cast<std::uint64_t>(got) < length) return FrameResult::Truncated;
  if (tooLarge) {
    out.clear();
    return FrameResult::TooLarge;
  }
  return FrameResult::Ok;
}

bool WriteFrame(int fd, std::string_view message) {
  if (message.size() > 0xFFFFFFFFu) return false;
  const auto length = static_cast<std::uint32_t>(message.size());
  std::string frame(sizeof length, '\0');
  std::memcpy(frame.data(), &length, sizeof length);
  frame.append(message);
  for (std::size_t done = 0; done < frame.size();) {
    const ssize_t w = ::write(fd, frame.data() + done, frame.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace qv::browser
