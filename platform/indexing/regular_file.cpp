#include "platform/indexing/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qv::platform::indexing {

HRESULT OpenRegularFile(const std::filesystem::path& file, UniqueFd& out) {
  out.Reset();
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK));
  if (!fd) return HresultFromErrno(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return HresultFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return E_ACCESSDENIED;
  // Reads of a regular file never block anyway; the flag only guarded the open.
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  out = std::move(fd);
  return S_OK;
}

DIR* OpenFolderNoFollow(const std::string& folder) {
  const int fd =
      ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    const int err = errno;
    ::close(fd);
    errno = err;
  }
  return dir;
}

}  // namespace qv::platform::indexing
