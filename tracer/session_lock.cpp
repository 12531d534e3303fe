#include "tracer/session_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace qv::tracer {

HRESULT SessionLock::Acquire(const std::filesystem::path& folder, std::string_view name,
                             std::unique_ptr<SessionLock>& out) {
  // "Local\NAME" names an object of this session: the session's folder holds NAME.lock.
  if (const auto slash = name.rfind('\\'); slash != std::string_view::npos) {
    name.remove_prefix(slash + 1);
  }
  if (name.empty() || name.find('/') != std::string_view::npos) return E_INVALIDARG;
  const std::filesystem::path path = folder / (std::string(name) + ".lock");
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return HresultFromErrno(errno);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    return err == EWOULDBLOCK ? S_FALSE : HresultFromErrno(err);
  }
  out = std::make_unique<SessionLock>(fd);
  return S_OK;
}

SessionLock::~SessionLock() { ::close(fd_); }

}  // namespace qv::tracer
