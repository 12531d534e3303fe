#pragma once
// Tests only: runs a scope under a given umask, as a library caller's process might.
#include <sys/stat.h>

namespace qv::platform {

class UmaskGuard {
 public:
  explicit UmaskGuard(mode_t mask) : old_(::umask(mask)) {}
  ~UmaskGuard() { ::umask(old_); }
  UmaskGuard(const UmaskGuard&) = delete;
  UmaskGuard& operator=(const UmaskGuard&) = delete;

 private:
  mode_t old_;
};

// The permission bits of `path` (not following a final link), or -1 when it cannot be read.
inline int ModeOf(const char* path) {
  struct stat st {};
  return ::lstat(path, &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

}  // namespace qv::platform
