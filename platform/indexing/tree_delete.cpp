#include "platform/indexing/tree_delete.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace qv::platform::indexing {
namespace {

bool Gone(int err) { return err == ENOENT || err == ENOTDIR; }

// Empties the directory open as `dirFd` (which this function closes).
HRESULT EmptyDirectory(int dirFd, int depth) {
  DIR* dir = fdopendir(dirFd);
  if (!dir) {
    const int err = errno;
    close(dirFd);
    return HresultFromErrno(err);
  }
  HRESULT first = S_OK;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  for (const auto& name : names) {
    struct stat st {};
    if (fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (!Gone(errno) && Succeeded(first)) first = HresultFromErrno(errno);
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      if (depth >= kMaxDeleteDepth) {
        if (Succeeded(first)) first = HresultFromWin32(win32::ERROR_DIR_NOT_EMPTY);
        continue;
      }
      // O_NOFOLLOW: if the entry was swapped for a link since fstatat, opening fails.
      fchmodat(dirfd(dir), name.c_str(), st.st_mode | S_IRWXU, 0);
      const int sub = openat(dirfd(dir), name.c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) {
        if (!Gone(errno) && Succeeded(first)) first = HresultFromErrno(errno);
        continue;
      }
      const HRESULT hr = EmptyDirectory(sub, depth + 1);
      if (Failed(hr) && Succeeded(first)) first = hr;
      if (unlinkat(dirfd(dir), name.c_str(), AT_REMOVEDIR) != 0 && !Gone(errno) &&
          Succeeded(first)) {
        first = HresultFromErrno(errno);
      }
    } else if (unlinkat(dirfd(dir), name.c_str(), 0) != 0 && !Gone(errno) &&
               Succeeded(first)) {
      first = HresultFromErrno(errno);
    }
  }
  closedir(dir);
  return first;
}

}  // namespace

HRESULT DeleteTree(const std::filesystem::path& folder) {
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0) return Gone(errno) ? S_OK : HresultFromErrno(errno);
  if (!S_ISDIR(st.st_mode)) {
    // A link (or file) where the folder should be: remove it, never what it points to.
    if (unlink(folder.c_str()) != 0 && !Gone(errno)) return HresultFromErrno(errno);
    return S_OK;
  }
  chmod(folder.c_str(), st.st_mode | S_IRWXU);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Gone(errno) ? S_OK : HresultFromErrno(errno);
  const HRESULT hr = EmptyDirectory(fd, 1);
  if (rmdir(folder.c_str()) != 0 && !Gone(errno)) {
    return Failed(hr) ? hr : HresultFromErrno(errno);
  }
  return hr;
}

HRESULT EmptyTree(const std::filesystem::path& folder) {
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0) return Gone(errno) ? S_OK : HresultFromErrno(errno);
  if (!S_ISDIR(st.st_mode)) return E_ACCESSDENIED;
  chmod(folder.c_str(), st.st_mode | S_IRWXU);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Gone(errno) ? S_OK : HresultFromErrno(errno);
  return EmptyDirectory(fd, 1);
}

}  // namespace qv::platform::indexing
