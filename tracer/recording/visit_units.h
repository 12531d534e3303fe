#pragma once
// A finished visit's times as the recorders hand them on: seconds for the journal, tenths of
// a second for ranking, and units of 0.2 s of working time.
#include <cstdint>
#include <limits>

#include "common/oledate.h"
#include "tracer/visit.h"

namespace qv::tracer {

inline std::uint32_t Clamp32(std::uint64_t v) {
  return v > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                       : static_cast<std::uint32_t>(v);
}
inline std::uint32_t Seconds(std::uint64_t t) { return Clamp32(t / 10'000'000); }
inline std::uint32_t Tenths(std::uint64_t t) { return Clamp32(t / 1'000'000); }
inline std::uint32_t Units(const Visit& v) { return Clamp32(v.workingTime / 2'000'000); }

}  // namespace qv::tracer
