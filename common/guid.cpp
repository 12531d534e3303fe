#include "common/guid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>

namespace qv {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at `pos`; false if any is not a hex digit.
bool ReadHex(std::string_view s, std::size_t pos, int digits, std::uint64_t& out) {
  out = 0;
  for (int i = 0; i < digits; ++i) {
    const int v = HexValue(s[pos + i]);
    if (v < 0) return false;
    out = (out << 4) | static_cast<unsigned>(v);
  }
  return true;
}

}  // namespace

std::optional<Guid> ParseGuid(std::string_view s) {
  if (s.size() != kGuidTextLength || s.front() != '{' || s.back() != '}' || s[9] != '-' ||
      s[14] != '-' || s[19] != '-' || s[24] != '-') {
    return std::nullopt;
  }
  Guid g;
  std::uint64_t v = 0;
  if (!ReadHex(s, 1, 8, v)) return std::nullopt;
  g.data1 = static_cast<std::uint32_t>(v);
  if (!ReadHex(s, 10, 4, v)) return std::nullopt;
  g.data2 = static_cast<std::uint16_t>(v);
  if (!ReadHex(s, 15, 4, v)) return std::nullopt;
  g.data3 = static_cast<std::uint16_t>(v);
  static constexpr std::size_t kByteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(s, kByteAt[i], 2, v)) return std::nullopt;
    g.data4[i] = static_cast<std::uint8_t>(v);
  }
  return g;
}

std::string FormatGuid(const Guid& g) {
  // By hand rather than through printf: ranking updates name an attribute by its GUID twice
  // per file.
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(kGuidTextLength, '-');
  std::size_t pos = 0;
  const auto put = [&](std::uint64_t v, int digits) {
    for (int i = digits - 1; i >= 0; --i) out[pos++] = kDigits[(v >> (4 * i)) & 0xF];
  };
  out[pos++] = '{';
  put(g.data1, 8);
  ++pos;
  put(g.data2, 4);
  ++pos;
  put(g.data3, 4);
  ++pos;
  put(g.data4[0], 2);
  put(g.data4[1], 2);
  ++pos;
  for (int i = 2; i < 8; ++i) put(g.data4[i], 2);
  out[pos] = '}';
  return out;
}

std::array<std::uint8_t, kGuidByteLength> GuidToBytes(const Guid& g) {
  std::array<std::uint8_t, kGuidByteLength> b{};
  for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(g.data1 >> (8 * i));
  for (int i = 0; i < 2; ++i) b[4 + i] = static_cast<std::uint8_t>(g.data2 >> (8 * i));
  for (int i = 0; i < 2; ++i) b[6 + i] = static_cast<std::uint8_t>(g.data3 >> (8 * i));
  for (int i = 0; i < 8; ++i) b[8 + i] = g.data4[i];
  return b;
}

Guid GuidFromBytes(std::span<const std::uint8_t, kGuidByteLength> b) {
  Guid g;
  for (int i = 3; i >= 0; --i) g.data1 = (g.data1 << 8) | b[i];
  g.data2 = static_cast<std::uint16_t>(b[4] | (b[5] << 8));
  g.data3 = static_cast<std::uint16_t>(b[6] | (b[7] << 8));
  for (int i = 0; i < 8; ++i) g.data4[i] = b[8 + i];
  return g;
}

HRESULT NewGuid(Guid& out) {
  std::array<std::uint8_t, kGuidByteLength> b{};
  std::size_t got = 0;
  while (got < b.size()) {
    const ssize_t n = getrandom(b.data() + got, b.size() - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return HresultFromErrno(errno);
    }
    got += static_cast<std::size_t>(n);
  }
  b[7] = static_cast<std::uint8_t>((b[7] & 0x0F) | 0x40);  // version 4 (high nibble of Data3)
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  out = GuidFromBytes(b);
  return S_OK;
}

}  // namespace qv
