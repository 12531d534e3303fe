#pragma once
// The private cache URLs that the web history and the browser add-on share: under one prefix
// (an http URL with a one-word host) they keep archived copies of pages and, per page, an
// index of the versions kept:
//   content entry  <prefix>c/<byte count %x>-<content hash %x>?<page URL>
//   version index  <prefix>v?<page URL>
// The version index file is an array of 16-byte records in ascending capture time:
// capture time (FILETIME, UTC, 8), byte count (4), content hash (4), little-endian.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"
#include "common/oledate.h"

namespace qv::urlmon {

inline constexpr std::string_view kPrivatePrefix = "http://quillon/";
inline constexpr std::size_t kVersionRecordSize = 16;
// Wrapped URLs must stay below this length.
inline constexpr std::size_t kMaxWrappedUrl = 2084;
inline constexpr std::string_view kArchiveGroupName = "QuillonL2";

// Whether `url` starts with the private prefix (scheme and host compared without case).
bool IsPrivateUrl(std::string_view url);
// The page URL a private URL wraps (the text after its first '?'); other URLs unchanged.
std::string_view UnwrapPrivateUrl(std::string_view url);

// E_INVALIDARG for a page URL that is itself private; E_POINTER when the result would be
// 2,084 characters or more.
HRESULT VersionIndexUrl(std::string_view page, std::string& out);
HRESULT ContentUrl(std::string_view page, std::uint32_t byteCount, std::uint32_t contentHash,
                   std::string& out);

struct VersionRecord {
  FileTime captured = 0;
  std::uint32_t byteCount = 0;
  std::uint32_t contentHash = 0;
  friend bool operator==(const VersionRecord&, const VersionRecord&) = default;
};

// The whole records of an index file; a trailing partial record is ignored.
std::vector<VersionRecord> ParseVersionIndex(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> SerializeVersionIndex(std::span<const VersionRecord> records);
// The last record captured at or before `when`, or nullptr.
const VersionRecord* LastRecordAtOrBefore(std::span<const VersionRecord> records, FileTime when);

}  // namespace qv::urlmon
