#include "platform/propset/code_page.h"

#include <algorithm>
#include <array>

#include "common/utf.h"
#include "platform/propset/property_set.h"

namespace qv::platform {
namespace {

// Windows-1252 bytes 0x80..0x9F. The five bytes the code page leaves undefined map to the C1
// control of the same value, as Windows converts them, so every byte survives a round trip.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr std::uint8_t kUnmappable = '?';

char16_t SingleByteToUnit(std::uint16_t codePage, std::uint8_t b) {
  if (codePage == kCodePageWindows1252 && b >= 0x80 && b <= 0x9F) return kCp1252High[b - 0x80];
  return b;
}

std::uint8_t UnitToSingleByte(std::uint16_t codePage, char16_t u) {
  if (codePage == kCodePageWindows1252) {
    const auto it = std::find(kCp1252High.begin(), kCp1252High.end(), u);
    if (it != kCp1252High.end()) return static_cast<std::uint8_t>(0x80 + (it - kCp1252High.begin()));
    if (u >= 0x80 && u <= 0x9F) return kUnmappable;
  }
  return u <= 0xFF ? static_cast<std::uint8_t>(u) : kUnmappable;
}

bool IsConvertedSingleByte(std::uint16_t codePage) {
  return codePage == kCodePageWindows1252 || codePage == kCodePageLatin1;
}

std::string_view UpToNul(std::string_view s) { return s.substr(0, s.find('\0')); }

}  // namespace

std::size_t CodePageUnitSize(std::uint16_t codePage) {
  return codePage == kCodePageUnicode ? 2 : 1;
}

std::vector<std::uint8_t> EncodeCodePageText(std::uint16_t codePage, std::string_view utf8) {
  utf8 = UpToNul(utf8);
  if (codePage == kCodePageUnicode) {
    // File names that are not UTF-8 keep their bytes, as lone surrogates.
    const std::u16string units = Utf8ToUtf16Escaped(utf8);
    std::vector<std::uint8_t> out;
    out.reserve(units.size() * 2);
    for (char16_t u : units) {
      out.push_back(static_cast<std::uint8_t>(u & 0xFF));
      out.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return out;
  }
  if (IsConvertedSingleByte(codePage)) {
    const std::u16string units = Utf8ToUtf16(utf8);
    std::vector<std::uint8_t> out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
      const char16_t u = units[i];
      // A surrogate pair is one character outside both code pages: one '?'.
      if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
          units[i + 1] <= 0xDFFF) {
        ++i;
        out.push_back(kUnmappable);
        continue;
      }
      out.push_back(UnitToSingleByte(codePage, u));
    }
    return out;
  }
  return {utf8.begin(), utf8.end()};
}

std::string DecodeCodePageText(std::uint16_t codePage, std::span<const std::uint8_t> bytes) {
  if (codePage == kCodePageUnicode) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size() && (bytes[i] != 0 || bytes[i + 1] != 0);
         i += 2) {
      units += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    }
    return Utf16ToUtf8Escaped(units);
  }
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  const std::span<const std::uint8_t> text(bytes.begin(), end);
  if (IsConvertedSingleByte(codePage)) {
    std::u16string units;
    units.reserve(text.size());
    for (std::uint8_t b : text) units.push_back(SingleByteToUnit(codePage, b));
    return Utf16ToUtf8(units);
  }
  return {text.begin(), text.end()};
}

}  // namespace qv::platform
