#pragma once
// SQLite's varint, as its records and FTS5's pages store numbers: seven bits a byte, most
// significant first, the high bit set while more follow; a ninth byte gives all eight.
#include <cstddef>
#include <cstdint>
#include <span>

namespace qv::platform::indexing {

// The bytes used; 0 when the varint is cut short.
inline std::size_t GetSqliteVarint(std::span<const std::uint8_t> p, std::uint64_t& v) {
  v = 0;
  for (std::size_t i = 0; i < p.size() && i < 9; ++i) {
    if (i == 8) {
      v = (v << 8) | p[i];
      return 9;
    }
    v = (v << 7) | (p[i] & 0x7F);
    if (!(p[i] & 0x80)) return i + 1;
  }
  return 0;
}

}  // namespace qv::platform::indexing
