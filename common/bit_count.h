#pragma once

#include <bit>
#include <cstdint>

namespace qv {

// The number of set bits. Without the POPCNT instruction in the target (the default x86-64
// baseline), std::popcount is a call into libgcc's table; this is a dozen inline operations,
// which counts in the property cache's per-cell lookups.
constexpr int CountBits(std::uint64_t x) {
#if defined(__POPCNT__)
  return std::popcount(x);
#else
  x = x - ((x >> 1) & 0x5555555555555555ull);
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0full;
  return static_cast<int>((x * 0x0101010101010101ull) >> 56);
#endif
}

}  // namespace qv
