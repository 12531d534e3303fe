#include "provider/journal/not_indexed.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "provider/journal/unique_fd.h"

namespace qv::journal {

HRESULT MarkNotContentIndexed(const std::filesystem::path& file) {
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return HresultFromErrno(errno);
  int flags = 0;
  if (::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0) return HresultFromErrno(errno);
  if (flags & FS_NODUMP_FL) return S_OK;
  flags |= FS_NODUMP_FL;
  if (::ioctl(fd.get(), FS_IOC_SETFLAGS, &flags) != 0) return HresultFromErrno(errno);
  return S_OK;
}

}  // namespace qv::journal
