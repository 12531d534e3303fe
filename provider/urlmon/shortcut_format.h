#pragma once
// The layout of a web page shortcut file (.q6w). All integers little-endian.
//
// File: a small container of named streams.
//   magic "QV6W" (4), container version (4) = 1, stream count (4, at most kMaxStreams),
//   per stream: name length (4, 1..kMaxStreamName), name (ASCII), data length (4), data.
//   Nothing follows the last stream.
// Streams, in this order:
//   "Contents"                the page's parts (below)
//   "\005SummaryInformation"  property set {F29F85E0-...}: 2 title, 19 zone + 1
//   "\005UserDefined"         property set {D5CDD505-...}: "_url"
//
// Contents:
//   version (4) = 1, part count (4),
//   per part: URL (string), kind | flags << 16 (4), size of the copy (4),
//             charset (string), copy path (string)
//   A string is a 32-bit byte count and that many bytes of UTF-16LE text including its
//   terminating NUL; a count of 0 stands for no string.
#include <cstdint>
#include <string_view>

#include "common/guid.h"

namespace qv::urlmon::q6w {

inline constexpr std::string_view kMagic = "QV6W";
inline constexpr std::uint32_t kContainerVersion = 1;
inline constexpr std::uint32_t kMaxStreams = 16;
inline constexpr std::uint32_t kMaxStreamName = 64;
// A shortcut file larger than this is damaged: the frames of one page fit in far less.
inline constexpr std::size_t kMaxFileSize = 4 << 20;

inline constexpr std::string_view kContentsStream = "Contents";
inline constexpr std::string_view kSummaryStream = "\005SummaryInformation";
inline constexpr std::string_view kUserDefinedStream = "\005UserDefined";

inline constexpr std::uint32_t kContentsVersion = 1;
// The smallest part: URL count with a one-character string, and four fixed words.
inline constexpr std::size_t kMinPartBytes = 4 + 4 + 4 + 4 + 4 + 4;

inline constexpr Guid kSummaryFmtid =
    MakeGuid(0xF29F85E0, 0x4FF9, 0x1068, 0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9);
inline constexpr Guid kUserDefinedFmtid =
    MakeGuid(0xD5CDD505, 0x2E9C, 0x101B, 0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE);
inline constexpr std::uint32_t kPidTitle = 2;
inline constexpr std::uint32_t kPidZone = 19;
inline constexpr std::uint32_t kPidUrl = 2;  // the user-defined property named "_url"
inline constexpr std::string_view kUrlPropertyName = "_url";

}  // namespace qv::urlmon::q6w
