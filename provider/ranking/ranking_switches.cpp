#include "provider/ranking/ranking_switches.h"

#include <sys/stat.h>

#include <cerrno>

#include "context/registry_values.h"
#include "provider/ranking/ranking.h"

namespace qv::ranking {
namespace {

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
    stamp_ = now;
  }
  return values_;
}

}  // namespace qv::ranking
