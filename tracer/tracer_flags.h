#pragma once
// State flags shared by the tracer's threads. Each only steers the next accounting pass, so
// plain atomic stores are enough: a reader sees the old or the new value.
#include <atomic>

namespace qv::tracer {

struct TracerFlags {
  std::atomic<bool> userActive{false};
  std::atomic<bool> suspended{false};
  std::atomic<bool> criticalResume{false};
  std::atomic<bool> locked{false};
  std::atomic<bool> screenSaver{false};
  std::atomic<bool> discardOpenVisits{false};

  bool Paused() const { return !userActive || suspended || screenSaver || locked; }
};

}  // namespace qv::tracer
