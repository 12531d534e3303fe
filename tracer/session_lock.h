#pragma once
// The named start gate's existence: one tracer per logon session. A lock file in the
// session's runtime folder held with flock, so a tracer that dies leaves no stale gate behind.
// The holder writes its process id into the file, so that a stop command can wait for it.
#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string_view>

#include "common/hresult.h"

namespace qv::tracer {

class SessionLock {
 public:
  // S_OK with the lock held; S_FALSE if another process holds it; the error otherwise.
  static HRESULT Acquire(const std::filesystem::path& folder, std::string_view name,
                         std::unique_ptr<SessionLock>& out);
  // The process that holds the lock: S_OK with its id (0 when it wrote none), S_FALSE when
  // nobody holds it. Probing takes the lock for an instant when it is free.
  static HRESULT Holder(const std::filesystem::path& folder, std::string_view name, pid_t& pid);
  // Owns `fd`, an open file that holds the lock.
  explicit SessionLock(int fd) : fd_(fd) {}
  ~SessionLock();
  SessionLock(const SessionLock&) = delete;
  SessionLock& operator=(const SessionLock&) = delete;

 private:
  int fd_;
};

}  // namespace qv::tracer
