#include "provider/ranking/ranking_switches.h"

#include <sys/stat.h>

#include <cerrno>

#include "context/registry_values.h"
#include "provider/ranking/ranking.h"

namespace qv::ranking {
namespace {

// How long after a stamp was first seen a read of the hive is sure to have seen every write
// that leaves that stamp: longer than the coarsest file system clock (two seconds, FAT's).
constexpr std::chrono::seconds kSettledAfter{3};

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
  const std::chrono::nanoseconds at = clock_.Monotonic();
  if (!now || !stamp_ || *now != *stamp_) {
    stamp_ = now;
    seenAt_ = at;
    settled_ = now && !now->exists;  // a missing hive cannot be written unseen
  } else if (settled_) {
    return values_;
  } else {
    // A file system whose clock ticks coarsely can give a second write within one tick the
    // same stamp as the first: the hive is read on every call until a read comes well
    // after the stamp was first seen, which sees every write of that tick.
    settled_ = at - seenAt_ >= kSettledAfter;
  }
  values_ = ReadFromRegistry();
  ++reads_;
  return values_;
}

std::uint64_t SwitchCache::reads() const {
  std::lock_guard lock(mutex_);
  return reads_;
}

}  // namespace qv::ranking
