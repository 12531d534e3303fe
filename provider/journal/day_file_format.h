#pragma once
// Layout of a journal day file ("Journal.q6d"). The file is append-only:
//
//   file header   8 bytes   "QVJD" then the format version, uint32 little-endian
//   record        repeated  length (uint32 LE, payload bytes)
//                           CRC-32C (uint32 LE) of the 4 length bytes followed by the payload
//                           payload: one serialized property set (the journal entry)
//
// A writer appends a record with one write under its lock. A process killed in that write
// leaves a strict prefix of a record at the end of the file, a "torn tail": readers stop
// there without an error, and the next writer cuts it off before appending. Anything else
// that does not check out (a complete record with a wrong CRC, an impossible length with
// more data behind it) is damage: readers skip forward to the next record that checks out.
#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/propset/property_set.h"

namespace qv::journal::dayfile {

inline constexpr std::array<std::uint8_t, 4> kMagic = {'Q', 'V', 'J', 'D'};
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kFileHeaderSize = 8;

inline constexpr std::size_t kLengthSize = 4;
inline constexpr std::size_t kCrcSize = 4;
inline constexpr std::size_t kRecordHeaderSize = kLengthSize + kCrcSize;

// A payload is one property-set stream, so it is bounded like one.
inline constexpr std::uint32_t kMaxPayload = platform::kMaxPropertySetStream;

// Every property-set stream starts with the byte order mark 0xFFFE (little-endian) and a
// 16-bit format version of 0 or 1; skipping damage only tries positions where one starts.
inline constexpr std::uint8_t kPayloadLead0 = 0xFE;
inline constexpr std::uint8_t kPayloadLead1 = 0xFF;

// A day holds a few thousand entries at most; readers refuse a file larger than this, and a
// writer sets such a file aside (renamed, with kDamagedSuffix) and starts the day anew.
inline constexpr std::uint64_t kMaxFileSize = 1ull << 30;
inline constexpr char kDamagedSuffix[] = ".damaged";

// Bytes hashed while looking for the next good record behind damage, per scan, so that a
// hostile file cannot ask for unbounded work. Behind that much damage the rest is ignored.
inline constexpr std::size_t kMaxResyncWork = 64u << 20;

}  // namespace qv::journal::dayfile
