#pragma once
// Mounts already found to be local, fixed and writable, by the kernel's unique mount id, so
// that further updates on them skip asking the file system again. Only that answer is kept:
// a mount's kind never changes, and one remounted read-only since shows when the open for
// writing fails, which then asks again.
#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/fs/file_attributes.h"

namespace qv::ranking {

class WritableMounts {
 public:
  // Safe to call from several threads: one set serves every ranking object of a process.
  std::optional<platform::VolumeInfo> Find(std::uint64_t mountId) const {
    std::lock_guard lock(mutex_);
    return FindLocked(mountId);
  }
  void Remember(std::uint64_t mountId, const platform::VolumeInfo& volume) {
    std::lock_guard lock(mutex_);
    if (mountId == 0 || FindLocked(mountId)) return;
    if (mounts_.size() >= kMaxMounts) mounts_.clear();  // a user's files sit on a few mounts
    mounts_.emplace_back(mountId, volume);
  }
  void Forget(std::uint64_t mountId) {
    std::lock_guard lock(mutex_);
    std::erase_if(mounts_, [&](const auto& m) { return m.first == mountId; });
  }

 private:
  std::optional<platform::VolumeInfo> FindLocked(std::uint64_t mountId) const {
    if (mountId == 0) return std::nullopt;
    for (const auto& [id, volume] : mounts_) {
      if (id == mountId) return volume;
    }
    return std::nullopt;
  }

  static constexpr std::size_t kMaxMounts = 32;
  mutable std::mutex mutex_;
  std::vector<std::pair<std::uint64_t, platform::VolumeInfo>> mounts_;
};

}  // namespace qv::ranking
