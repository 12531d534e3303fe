#pragma once
// The ranking record and the activation arithmetic that every part of the system shares.
//
// A ranking set summarises an item's usage: statistics (working and active time, visits,
// first visit) and two visit triples (end date, span T in seconds, units N): the last visit
// alone and a blended span standing for all earlier visits. A triple that ended e seconds
// before the moment of evaluation scores 2·N·(√(e+T) − √e)/T: its N units spread evenly over
// the span, each weighing the inverse square root of its age.
#include <cstdint>
#include <string_view>

#include "common/guid.h"
#include "common/hresult.h"
#include "common/oledate.h"

namespace qv::ranking {

// The ranking property set on files.
inline constexpr Guid kRankingFmtid =
    MakeGuid(0x48CA09C3, 0x119B, 0x8534, 0x9A, 0x91, 0x87, 0x84, 0x80, 0x40, 0xE3, 0x51);
inline constexpr std::string_view kRankingSetName = "Quillon Vesper Ranking";

enum RankingPropId : std::uint32_t {
  kPidSearchKey = 2,
  kPidScope = 3,
  kPidWorkingTime = 4,
  kPidActiveTime = 5,
  kPidVisits = 6,
  kPidFirstVisitStart = 7,
  kPidLastVisitEnd = 8,
  kPidLastVisitT = 9,
  kPidLastVisitN = 10,
  kPidBlendedEnd = 11,
  kPidBlendedT = 12,
  kPidBlendedN = 13,
};
inline constexpr std::uint32_t kFirstRankingPid = kPidSearchKey;
inline constexpr std::uint32_t kLastRankingPid = kPidBlendedN;

// Registry values.
inline constexpr std::string_view kIdentityValue = "Identity";
inline constexpr std::size_t kIdentityMaxChars = 256;  // buffer, terminator included
inline constexpr std::string_view kDisableStatisticsValue = "DisableStatistics";
inline constexpr std::string_view kNoSearchKeysValue = "NoSearchKeys";

struct Triple {
  DATE end = 0.0;
  std::uint32_t t = 0;  // span, seconds
  std::uint32_t n = 0;  // units
  friend bool operator==(const Triple&, const Triple&) = default;
};

// The eleven fields CalcRankingSet works on, in interface order.
struct RankingSet {
  std::uint32_t scope = 0;
  std::uint32_t workingTime = 0;  // seconds
  std::uint32_t activeTime = 0;   // seconds
  std::uint32_t visits = 0;
  DATE firstVisitStart = 0.0;
  Triple last;
  Triple blended;
  friend bool operator==(const RankingSet&, const RankingSet&) = default;
};

// Whole seconds from a to b, truncated. E_INVALIDARG for a or b below 0, b before a, or a
// date that is not a finite number; HRESULT of Win32 error 1771 when the span does not fit
// a signed 32-bit count (about 68 years).
HRESULT ElapsedSeconds(DATE a, DATE b, std::int32_t& out);

// 2·N·(√(e+T) − √e)/T in double precision. The sums are taken in 64 bits, so large spans
// and unit counts cannot wrap into a negative activation. T must not be 0.
double TripleActivation(std::uint32_t elapsed, std::uint32_t t, std::uint32_t n);

// Activation bar value 0..100 for an activation above 0.01: ln clamped to [-7, 7], mapped
// linearly (activation 1 → 50, e^7 and above → 100).
std::uint32_t ActivationScale(double activation);
inline constexpr double kMinScaledActivation = 0.01;

}  // namespace qv::ranking
