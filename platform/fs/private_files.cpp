#include "platform/fs/private_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace qv::platform {
namespace {

std::error_code Errno(int e) { return {e, std::generic_category()}; }

}  // namespace

void RestrictUmask() { ::umask(077); }

std::error_code CreatePrivateFolders(const std::filesystem::path& folder) {
  if (folder.empty()) return {};
  // The missing part of the path, outermost first.
  std::vector<std::filesystem::path> missing;
  for (std::filesystem::path p = folder; !p.empty(); p = p.parent_path()) {
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return Errno(ENOTDIR);
      break;
    }
    if (errno != ENOENT) return Errno(errno);
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), kPrivateFolderMode) != 0) {
      if (errno == EEXIST) continue;  // another process made it meanwhile
      return Errno(errno);
    }
    // mkdir only ever narrows by the umask; a umask that takes the owner's own bits is undone.
    ::chmod(it->c_str(), kPrivateFolderMode);
  }
  return {};
}

std::error_code CreatePrivateFile(const std::filesystem::path& file) {
  const int fd =
      ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, kPrivateFileMode);
  if (fd < 0) return Errno(errno);
  struct stat st {};
  std::error_code ec;
  if (::fstat(fd, &st) != 0) {
    ec = Errno(errno);
  } else if (S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
             (st.st_mode & 07777) != kPrivateFileMode) {
    if (::fchmod(fd, kPrivateFileMode) != 0) ec = Errno(errno);
  }
  ::close(fd);
  return ec;
}

std::error_code EnsurePrivateRoot(const std::filesystem::path& root, bool& tightened) {
  tightened = false;
  if (const auto ec = CreatePrivateFolders(root)) return ec;
  const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Errno(errno);
  struct stat st {};
  std::error_code ec;
  if (::fstat(fd, &st) != 0) {
    ec = Errno(errno);
  } else if (st.st_uid != ::geteuid()) {
    ec = Errno(EACCES);
  } else if ((st.st_mode & 0077) != 0) {
    if (::fchmod(fd, kPrivateFolderMode) != 0) {
      ec = Errno(errno);
    } else {
      tightened = true;
    }
  }
  ::close(fd);
  return ec;
}

}  // namespace qv::platform
