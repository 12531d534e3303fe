#pragma once
// GUIDs: parsing and formatting in registry form ({8-4-4-4-12}, upper case, 38 characters),
// their 16-byte little-endian wire layout, and generation of new random ones.
#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/hresult.h"

namespace qv {

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};

  bool IsNull() const { return *this == Guid{}; }
  friend auto operator<=>(const Guid&, const Guid&) = default;
};

inline constexpr std::size_t kGuidTextLength = 38;
inline constexpr std::size_t kGuidByteLength = 16;

// Accepts exactly the registry form with braces, hex digits in either case.
std::optional<Guid> ParseGuid(std::string_view text);
// Registry form, upper-case hex: "{3108EFA7-0C78-4930-8542-237B2C341ED2}".
std::string FormatGuid(const Guid& g);
// The 16 bytes as structured storage and COM write them (Data1..3 little-endian).
std::array<std::uint8_t, kGuidByteLength> GuidToBytes(const Guid& g);
Guid GuidFromBytes(std::span<const std::uint8_t, kGuidByteLength> b);
// A new random (version 4) GUID from the kernel's random source.
HRESULT NewGuid(Guid& out);

// Literal for compile-time constants: QV_GUID(0x3108EFA7, 0x0C78, 0x4930, 0x85,0x42,...).
constexpr Guid MakeGuid(std::uint32_t d1, std::uint16_t d2, std::uint16_t d3, std::uint8_t a,
                        std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint8_t e,
                        std::uint8_t f, std::uint8_t g, std::uint8_t h) {
  return Guid{d1, d2, d3, {a, b, c, d, e, f, g, h}};
}

}  // namespace qv
