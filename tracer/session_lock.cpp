#include "tracer/session_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace qv::tracer {

namespace {

// "Local\NAME" names an object of this session: the session's folder holds NAME.lock.
HRESULT LockPath(const std::filesystem::path& folder, std::string_view name,
                 std::filesystem::path& path) {
  if (const auto slash = name.rfind('\\'); slash != std::string_view::npos) {
    name.remove_prefix(slash + 1);
  }
  if (name.empty() || name.find('/') != std::string_view::npos) return E_INVALIDARG;
  path = folder / (std::string(name) + ".lock");
  return S_OK;
}

}  // namespace

HRESULT SessionLock::Acquire(const std::filesystem::path& folder, std::string_view name,
                             std::unique_ptr<SessionLock>& out) {
  std::filesystem::path path;
  if (const HRESULT hr = LockPath(folder, name, path); Failed(hr)) return hr;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return HresultFromErrno(errno);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    return err == EWOULDBLOCK ? S_FALSE : HresultFromErrno(err);
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, pid.data(), pid.size(), 0);
  out = std::make_unique<SessionLock>(fd);
  return S_OK;
}

HRESULT SessionLock::Holder(const std::filesystem::path& folder, std::string_view name,
                            pid_t& pid) {
  pid = 0;
  std::filesystem::path path;
  if (const HRESULT hr = LockPath(folder, name, path); Failed(hr)) return hr;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT ? S_FALSE : HresultFromErrno(errno);
  if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
    ::close(fd);
    return S_FALSE;
  }
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  ::close(fd);
  if (n > 0) {
    long value = 0;
    for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9' && value < 0x7FFFFFFF; ++i) {
      value = value * 10 + (text[i] - '0');
    }
    pid = static_cast<pid_t>(value);
  }
  return S_OK;
}

SessionLock::~SessionLock() { ::close(fd_); }

}  // namespace qv::tracer
