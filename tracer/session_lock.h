#pragma once
// The named start gate's existence: one tracer per logon session. A lock file in the
// session's runtime folder held with flock, so a tracer that dies leaves no stale gate behind.
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
  // Owns `fd`, an open file that holds the lock.
  explicit SessionLock(int fd) : fd_(fd) {}
  ~SessionLock();
  SessionLock(const SessionLock&) = delete;
  SessionLock& operator=(const SessionLock&) = delete;

 private:
  int fd_;
};

}  // namespace qv::tracer
