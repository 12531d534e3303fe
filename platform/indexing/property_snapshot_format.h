#pragma once
// Layout of a property cache snapshot ("properties.snap", beside the catalog's database),
// written by a process that loaded the cache and mapped by the next one that finds it of
// the catalog's present state. Host byte order; every section starts at a multiple of 8.
//
//   header      kHeaderSize bytes (SnapshotHeader below)
//   columns     per column: expression length (uint32), the expression, its flags (uint8:
//               kAllText | kAllInteger | kAllNumber | kEveryRowReal); then zeros to a
//               multiple of 8
//   ids         int64 per row, ascending
//   tokens      int64 per row
//   present     uint64 per row: which columns have a value
//   first       uint32 per row: where its values begin in cells
//   path order  uint32 per row: its place among all rows by path
//   row of id   uint32 per id (rowOfIdSize of them; UINT32_MAX: no row)
//   cells       16 bytes per value: int64 value (an integer, a double's bits, or a text's
//               offset), uint32 text length, uint8 SQLite type, 3 zero bytes
//   reals       per column flagged kEveryRowReal: a double per row
//   text        textBytes bytes, then zeros to a multiple of 8
//   LIKE results likeResults of them: the key's length (uint32), the key ("<column>:<pattern>",
//               or "plan <condition>" for a whole condition), zeros to a multiple of 8,
//               then an int8 per row (0 no match or false, 1 match or true, 2 no value,
//               -1 not known), zeros to a multiple of 8
//
// A snapshot is used only when its instance and change count equal the catalog's as the
// reading transaction sees them, and its columns are those the catalog caches now.
#include <array>
#include <cstdint>

namespace qv::platform::indexing::snapshot {

inline constexpr char kFileName[] = "properties.snap";
inline constexpr std::array<char, 8> kMagic = {'Q', 'V', 'P', 'C', 'S', 'N', 'P', '1'};
inline constexpr std::uint32_t kVersion = 2;  // 2: whole conditions' results
inline constexpr std::size_t kInstanceSize = 48;  // a catalog instance's text, zero-padded

inline constexpr std::uint8_t kAllText = 1;
inline constexpr std::uint8_t kAllInteger = 2;
inline constexpr std::uint8_t kAllNumber = 4;
inline constexpr std::uint8_t kEveryRowReal = 8;
inline constexpr std::uint32_t kTextHasNul = 1;  // header flag

struct SnapshotHeader {
  std::array<char, 8> magic = kMagic;
  std::uint32_t version = kVersion;
  std::uint32_t flags = 0;
  std::array<char, kInstanceSize> instance{};
  std::int64_t changes = 0;
  std::uint64_t file = 0;  // the catalog database's inode
  std::uint64_t rows = 0;
  std::uint64_t cells = 0;
  std::uint64_t textBytes = 0;
  std::uint64_t rowOfIdSize = 0;
  std::uint64_t columns = 0;
  std::uint64_t likeResults = 0;
  std::uint64_t fileSize = 0;
};
inline constexpr std::size_t kHeaderSize = sizeof(SnapshotHeader);
static_assert(kHeaderSize % 8 == 0);

// A snapshot larger than this is not mapped (a catalog of some millions of documents).
inline constexpr std::uint64_t kMaxFileSize = std::uint64_t{16} << 30;

}  // namespace qv::platform::indexing::snapshot
