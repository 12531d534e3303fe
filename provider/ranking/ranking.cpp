#include "provider/ranking/ranking.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qv::ranking {

HRESULT ElapsedSeconds(DATE a, DATE b, std::int32_t& out) {
  // NaN slips through every ordered comparison and would make the integer cast undefined;
  // infinities likewise. Such dates are invalid arguments.
  if (!std::isfinite(a) || !std::isfinite(b) || a < 0.0 || b < 0.0 || b < a) return E_INVALIDARG;
  // Dates carry about a microsecond of rounding noise, so 10:00:05 minus 10:00:00 can come
  // out as 4.9999999 s; truncating that would lose a whole second (and turn a one-second
  // visit into an invalid one). Round to the millisecond first, then truncate. b >= a, so the
  // casts below round and truncate a non-negative value without calling into libm.
  const double ms = (b - a) * (kSecondsPerDay * 1000.0);
  if (ms >= (static_cast<double>(std::numeric_limits<std::int32_t>::max()) + 1.0) * 1000.0) {
    return HresultFromWin32(win32::RPC_S_FP_OVERFLOW);
  }
  const std::int64_t secs = static_cast<std::int64_t>(ms + 0.5) / 1000;
  if (secs > std::numeric_limits<std::int32_t>::max()) {
    return HresultFromWin32(win32::RPC_S_FP_OVERFLOW);
  }
  out = static_cast<std::int32_t>(secs);
  return S_OK;
}

double TripleActivation(std::uint32_t elapsed, std::uint32_t t, std::uint32_t n) {
  const double e = static_cast<double>(elapsed);
  const double eT = static_cast<double>(static_cast<std::uint64_t>(elapsed) + t);
  const double twoN = 2.0 * static_cast<double>(n);
  return twoN * (std::sqrt(eT) - std::sqrt(e)) / static_cast<double>(t);
}

std::uint32_t ActivationScale(double activation) {
  const double x = std::clamp(std::log(activation), -7.0, 7.0);
  return static_cast<std::uint32_t>((x + 7.0) * 100.0 * 0.07142857142857142);
}

}  // namespace qv::ranking
