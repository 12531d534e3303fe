#pragma once
// The two machine-wide switches a ranking update consults (statistics off, search keys off),
// read once and kept with the identity of the hive file they came from. Each Get() costs one
// stat of that file; the hive is read and parsed again when the file changed, and on every
// call until a few seconds after a change was first seen.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>

#include "common/clock.h"
#include "platform/registry/registry.h"
#include "provider/ranking/writable_mounts.h"

namespace qv::ranking {

struct Switches {
  bool disableStatistics = false;
  bool noSearchKeys = false;
  friend bool operator==(const Switches&, const Switches&) = default;
};

class SwitchCache {
 public:
  SwitchCache(const platform::Registry& registry, const Clock& clock)
      : registry_(registry), clock_(clock),
        hivePath_(registry.HivePath(platform::Hive::LocalMachine)) {}

  // The switches as the hive file holds them now. Safe to call from several threads.
  Switches Get();
  // How many times the hive has been read.
  std::uint64_t reads() const;

 private:
  // What tells one version of the hive file from another: every write replaces the file
  // (a new inode); an edit in place moves the change time or the size.
  struct Stamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    std::int64_t size = 0;
    friend bool operator==(const Stamp&, const Stamp&) = default;
  };
  static std::optional<Stamp> Take(const char* path);
  Switches ReadFromRegistry() const;

  const platform::Registry& registry_;
  const Clock& clock_;
  std::filesystem::path hivePath_;
  mutable std::mutex mutex_;    // over the members below
  std::optional<Stamp> stamp_;  // of the file the values below were read from
  std::chrono::nanoseconds seenAt_{0};  // when that stamp was first seen (monotonic)
  bool settled_ = false;        // whether the values were read after it stood still
  Switches values_;
  std::uint64_t reads_ = 0;
};

// What the ranking objects of one process learn and keep for each other: a caller makes one
// object per visit.
struct RankingCaches {
  RankingCaches(const platform::Registry& registry, const Clock& clock)
      : switches(registry, clock) {}
  SwitchCache switches;
  WritableMounts mounts;
};

}  // namespace qv::ranking
