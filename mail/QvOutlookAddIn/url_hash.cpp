#include "mail/QvOutlookAddIn/url_hash.h"

#include <array>

#include "common/utf.h"

namespace qv::mail::addin {
namespace {

// A permutation of 0..255, shuffled once (Fisher-Yates driven by a fixed linear congruential
// sequence), so every byte value maps to exactly one other.
constexpr std::array<std::uint8_t, 256> MakeTable() {
  std::array<std::uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint8_t>(i);
  std::uint32_t s = 0x2545F491u;
  for (int i = 255; i > 0; --i) {
    s = s * 1664525u + 1013904223u;
    const int j = static_cast<int>((s >> 16) % static_cast<std::uint32_t>(i + 1));
    const std::uint8_t x = t[i];
    t[i] = t[j];
    t[j] = x;
  }
  return t;
}
constexpr std::array<std::uint8_t, 256> kTable = MakeTable();

}  // namespace

std::uint8_t UrlHashByte(std::string_view utf8) {
  std::uint8_t h = 0;
  for (const char16_t c : Utf8ToUtf16(utf8)) {
    h = kTable[h ^ static_cast<std::uint8_t>(c & 0xFF)];
    h = kTable[h ^ static_cast<std::uint8_t>(c >> 8)];
  }
  return h;
}

}  // namespace qv::mail::addin
