#pragma once
// Byte layout of a property-set stream, in one place. All integers are little-endian.
//
//   stream header   ByteOrder u16 (0xFFFE), Version u16, SystemIdentifier u32, CLSID[16],
//                   NumPropertySets u32, then per set: FMTID[16], Offset u32 (from stream start)
//   section         Size u32 (whole section, multiple of 4), NumProperties u32,
//                   NumProperties x { PROPID u32, Offset u32 (from section start) }, values
//   typed value     Type u16, Padding u16, the value padded to a multiple of 4
//   dictionary      (PROPID 0, no type field) NumEntries u32, entries
//                   { PROPID u32, Length u32 (characters incl. terminator), Name }, padding
#include <cstddef>
#include <cstdint>

namespace qv::platform::propset_format {

inline constexpr std::uint16_t kByteOrderMark = 0xFFFE;
// Version 1 adds features (case-sensitive names, more types) that we neither write nor need;
// readers accept both.
inline constexpr std::uint16_t kVersionOriginal = 0;
inline constexpr std::uint16_t kVersionExtended = 1;
// Readers ignore the originating system; we name none.
inline constexpr std::uint32_t kSystemIdentifier = 0;
// A stream holds one section, or two for the user-defined half of document summaries.
inline constexpr std::uint32_t kMaxSections = 2;

inline constexpr std::size_t kStreamHeaderSize = 28;    // up to NumPropertySets
inline constexpr std::size_t kSectionLocatorSize = 20;  // FMTID + offset
inline constexpr std::size_t kSectionHeaderSize = 8;    // Size + NumProperties
inline constexpr std::size_t kTableEntrySize = 8;       // PROPID + offset
inline constexpr std::size_t kTypeFieldSize = 4;        // Type + Padding
inline constexpr std::size_t kAlignment = 4;

constexpr std::size_t PadTo4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

}  // namespace qv::platform::propset_format
