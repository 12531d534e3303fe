#pragma once
// The on-disk layout of the URL cache's index files. All integers little-endian; a string is
// a 32-bit byte count followed by that many bytes of UTF-8.
//
// Entry file (<key>.qvc):
//   magic "QVCE", version (4)
//   URL, original URL, copy path relative to the cache folder, raw headers   (strings)
//   size, last sync, last modified, expires                                  (8 each)
//   group count (4), then one 64-bit group id per group
// Groups file (groups.qvg):
//   magic "QVCG", version (4), next id (8), group count (4),
//   per group: id (8), name (string)
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/urlcache/url_cache.h"

namespace qv::platform::urlcache_format {

inline constexpr std::string_view kEntryMagic = "QVCE";
inline constexpr std::string_view kGroupsMagic = "QVCG";
inline constexpr std::uint32_t kVersion = 1;
// An index file larger than this is damaged (headers are a few kilobytes at most).
inline constexpr std::size_t kMaxIndexFile = 1 << 20;
inline constexpr std::size_t kMaxGroupName = 1024;
inline constexpr std::string_view kEntryExtension = ".qvc";
// URLs whose key hashes collide take the following names: <hash>-1.qvc, <hash>-2.qvc, ...
// The names of one hash are always taken from the first on, without gaps.
inline constexpr int kMaxProbes = 8;

// "<16 hex digits of the 64-bit FNV-1a hash of the URL>[-<probe>].qvc"
std::string IndexFileName(std::string_view url, int probe);

// The entry as stored: `copy` is relative to the cache folder.
struct StoredEntry {
  CacheEntry entry;   // entry.localFile unused
  std::string copy;
};

std::vector<std::uint8_t> SerializeEntry(const StoredEntry& e);
// False when the bytes are not a complete entry of this version; every count is checked
// against the bytes that remain, so nothing is read past the end.
bool ParseEntry(std::span<const std::uint8_t> bytes, StoredEntry& out);

struct StoredGroups {
  CacheGroupId nextId = 1;
  std::vector<CacheGroup> groups;
};
std::vector<std::uint8_t> SerializeGroups(const StoredGroups& g);
bool ParseGroups(std::span<const std::uint8_t> bytes, StoredGroups& out);

}  // namespace qv::platform::urlcache_format
