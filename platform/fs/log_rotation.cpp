#include "platform/fs/log_rotation.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/fs/private_files.h"

namespace qv::platform {
namespace {

int OpenForAppend(const std::filesystem::path& log) {
  return ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                kPrivateFileMode);
}

bool LockExclusive(int fd) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

std::filesystem::path PreviousLogPath(const std::filesystem::path& log) {
  std::filesystem::path prev = log;
  prev += ".1";
  return prev;
}

int OpenRotatedLog(const std::filesystem::path& log, std::uint64_t limit) {
  // Two rounds are enough: after a rotation (ours or another writer's) the name leads to a
  // fresh log; a third full log in between is simply appended to.
  for (int round = 0; round < 2; ++round) {
    const int fd = OpenForAppend(log);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) < limit) {
      return fd;
    }
    // The lock is on the full log itself; whoever holds it renames only if the name still
    // leads to that file, so a log is never rotated twice.
    if (!LockExclusive(fd)) return fd;
    struct stat now {};
    const bool same = ::stat(log.c_str(), &now) == 0 && now.st_ino == st.st_ino &&
                      now.st_dev == st.st_dev;
    if (same && ::rename(log.c_str(), PreviousLogPath(log).c_str()) != 0) {
      ::flock(fd, LOCK_UN);
      return fd;  // cannot rotate: better a long log than a lost line
    }
    ::close(fd);
  }
  return OpenForAppend(log);
}

}  // namespace qv::platform
