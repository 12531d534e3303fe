#pragma once
// Mounts already found to be local, fixed and writable, by the kernel's unique mount id, so
// that further updates on them skip asking the file system again. Only that answer is kept:
// a mount's kind never changes, and one remounted read-only since shows when the open for
// writing fails, which then asks again.
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/fs/file_attributes.h"

namespace qv::ranking {

class WritableMounts {
 public:
  const platform::VolumeInfo* Find(std::uint64_t mountId) const {
    if (mountId == 0) return nullptr;
    for (const auto& [id, volume] : mounts_) {
      if (id == mountId) return &volume;
    }
    return nullptr;
  }
  void Remember(std::uint64_t mountId, const platform::VolumeInfo& volume) {
    if (mountId == 0 || Find(mountId)) return;
    if (mounts_.size() >= kMaxMounts) mounts_.clear();  // a user's files sit on a few mounts
    mounts_.emplace_back(mountId, volume);
  }
  void Forget(std::uint64_t mountId) {
    std::erase_if(mounts_, [&](const auto& m) { return m.first == mountId; });
  }

 private:
  static constexpr std::size_t kMaxMounts = 32;
  std::vector<std::pair<std::uint64_t, platform::VolumeInfo>> mounts_;
};

}  // namespace qv::ranking
