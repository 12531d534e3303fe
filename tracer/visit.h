#pragma once
// One open visit: a stretch of the user's work with one item in one window.
#include <cstdint>
#include <memory>
#include <string>

#include "common/guid.h"
#include "common/oledate.h"
#include "platform/desktop/desktop.h"

namespace qv::tracer {

// The item's stored ranking set, taken when a file visit opens, so that a record an
// application loses while the file is open can be rebuilt.
struct RankingSnapshot {
  bool taken = false;
  Guid searchKey{};
  std::uint32_t scope = 0, workingTime = 0, activeTime = 0, visits = 0;
  DATE firstVisitStart = 0, lastVisitEnd = 0;
  std::uint32_t lastVisitT = 0, lastVisitN = 0;
  DATE blendedEnd = 0;
  std::uint32_t blendedT = 0, blendedN = 0;
};

struct Visit {
  std::string identifier;  // file URL, page URL or mail item URL
  FileTime start = 0;      // wall time, UTC
  FileTime end = 0;
  std::uint64_t workingTime = 0;  // 100 ns: visible time weighted by visible share, plus input
  std::uint64_t activeTime = 0;   // 100 ns: input only
  platform::DesktopWindow window = 0;
  std::uint32_t threadId = 0;
  std::uint32_t coverage = 0;  // 0-100, measured by the last accounting pass
  std::int32_t kind = 0;       // kKindReported, kKindBrowserPane, kKindDocument
  bool tracked = false;
  std::uint32_t missingPasses = 0;
  std::string source;  // the item string as received
  FileTime trackingStart = 0;
  std::string frameData;
  std::uint32_t recordFlags = 0;  // KIV_VF_NORANK | KIV_VF_NOJOURNAL
  std::uint32_t documentKey = 0;
  RankingSnapshot snapshot;
  // Monotonic open and close times (100 ns): the duration minimum must not follow clock steps.
  std::int64_t startMono = 0;
  std::int64_t endMono = 0;
};

using VisitPtr = std::unique_ptr<Visit>;

}  // namespace qv::tracer
