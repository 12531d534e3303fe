#include "platform/messaging/runtime_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/messaging/unique_fd.h"

namespace qv::platform {

RuntimeEnvironment CurrentRuntimeEnvironment() {
  RuntimeEnvironment env;
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && *xdg != '\0') {
    env.xdgRuntimeDir = xdg;
  }
  const char* tmp = std::getenv("TMPDIR");
  env.tempDir = (tmp != nullptr && *tmp == '/') ? tmp : "/tmp";
  env.uid = ::getuid();
  return env;
}

std::filesystem::path RuntimeFolderPath(const RuntimeEnvironment& env) {
  if (env.xdgRuntimeDir && !env.xdgRuntimeDir->empty()) {
    return std::filesystem::path(*env.xdgRuntimeDir) / kRuntimeFolderName;
  }
  return env.tempDir / (std::string(kRuntimeFolderName) + "-" + std::to_string(env.uid));
}

HRESULT EnsureRuntimeFolder(const std::filesystem::path& folder, uid_t uid) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return HresultFromErrno(errno);
  // Open without following a link, then judge what was opened, so that nothing can be
  // swapped in between the check and the chmod.
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) {
    // ELOOP or ENOTDIR: a link or a file sits where the folder belongs.
    if (errno == ELOOP || errno == ENOTDIR) return E_ACCESSDENIED;
    return HresultFromErrno(errno);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return HresultFromErrno(errno);
  if (!S_ISDIR(st.st_mode) || st.st_uid != uid) return E_ACCESSDENIED;
  if ((st.st_mode & 07777) != 0700 && ::fchmod(fd.get(), 0700) != 0) {
    return HresultFromErrno(errno);
  }
  return S_OK;
}

HRESULT OpenRuntimeFolder(std::filesystem::path& out) {
  const RuntimeEnvironment env = CurrentRuntimeEnvironment();
  std::filesystem::path folder = RuntimeFolderPath(env);
  const HRESULT hr = EnsureRuntimeFolder(folder, env.uid);
  if (Failed(hr)) return hr;
  out = std::move(folder);
  return S_OK;
}

}  // namespace qv::platform
