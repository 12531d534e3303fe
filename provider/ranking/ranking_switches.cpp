#include "provider/ranking/ranking_switches.h"

#include <sys/stat.h>

#include <cerrno>

#include "context/registry_values.h"
#include "provider/ranking/ranking.h"

namespace qv::ranking {
namespace {

// How long a hive must have stood unchanged before its stamp is trusted (100 ns units):
// longer than the coarsest file system clock (two seconds, FAT's).
constexpr std::int64_t kSettledAfter = 3 * 10'000'000;

std::int64_t Nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

std::optional<SwitchCache::Stamp> SwitchCache::Take(const char* path) {
  struct stat st {};
  if (::stat(path, &st) != 0) {
    // A missing hive is a state like any other (all switches off); any other failure
    // leaves nothing to compare with, so the values are read afresh.
    if (errno == ENOENT) return Stamp{};
    return std::nullopt;
  }
  return Stamp{true,
               st.st_dev,
               st.st_ino,
               Nanoseconds(st.st_mtim),
               Nanoseconds(st.st_ctim),
               static_cast<std::int64_t>(st.st_size)};
}

Switches SwitchCache::ReadFromRegistry() const {
  using platform::Hive;
  return Switches{ReadFlag(registry_, Hive::LocalMachine, kVesperKey, kDisableStatisticsValue),
                  ReadFlag(registry_, Hive::LocalMachine, kFilesKey, kNoSearchKeysValue)};
}

Switches SwitchCache::Get() {
  // The stamp is taken before the read: a change in between leaves an older stamp with the
  // newer values, and the next call reads again.
  const std::optional<Stamp> now = Take(hivePath_.c_str());
  std::lock_guard lock(mutex_);
  if (!now || !stamp_ || *now != *stamp_) {
    values_ = ReadFromRegistry();
    ++reads_;
    // A file system whose clock ticks coarsely can give two writes within one tick the same
    // times, and a replaced file the old inode and size: the stamp of a hive changed lately
    // is not kept, so that it is read again until it has stood still for a while.
    const std::int64_t changed =
        kFileTimeUnixEpochSeconds * 10'000'000 + (now ? now->changedNs : 0) / 100;
    const bool settled =
        now && (!now->exists || static_cast<std::int64_t>(clock_.Now()) - changed >= kSettledAfter);
    stamp_ = settled ? now : std::nullopt;
  }
  return values_;
}

std::uint64_t SwitchCache::reads() const {
  std::lock_guard lock(mutex_);
  return reads_;
}

}  // namespace qv::ranking
