#pragma once
// The browser's URL cache: for every URL an entry with its copy file, the response headers,
// the last synchronisation time and the cache groups it belongs to; groups have ids and
// names. Everything lives in the Internet cache folder under QV_ROOT:
//   <cache>/Content.QV/<xx>/<name>.<ext>   copy files
//   <cache>/Index.QV/<key>.qvc             one index file per entry (url_cache_format.h)
//   <cache>/Index.QV/groups.qvg            the cache groups
//   <cache>/Index.QV/lock                  writers hold an exclusive lock on it
//   <cache>/Index.QV/swept                 its modification time is the last sweep's
// Every index file is replaced whole (temporary file + rename) under the writers' lock, so a
// reader, which takes no lock, sees the old or the new entry. Errors are Win32 codes
// (win32::ERROR_*), 0 on success.
//
// Interrupted writers leave files that no entry names: temporary index files, and copies made
// by CreateEntryFile that were never committed (or whose entry went before the copy did).
// Opening the cache sweeps them, at most once every kSweepInterval. A copy is left alone until
// it is kOrphanAge old, since its writer may still be on its way to CommitEntry.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "common/oledate.h"

namespace qv::platform {

using CacheGroupId = std::int64_t;

inline constexpr FileTime kSweepInterval = 3600 * kFileTimeTicksPerSecond;
inline constexpr FileTime kOrphanAge = 3600 * kFileTimeTicksPerSecond;

struct CacheEntry {
  std::string url;           // the entry's source URL (its key)
  std::string originalUrl;   // the URL the request was made for, when it was redirected
  std::filesystem::path localFile;  // absolute path of the copy
  std::string headers;       // raw response headers, CRLF-separated
  std::uint64_t size = 0;    // bytes of the copy when it was committed
  FileTime lastSync = 0;     // when the copy was last fetched or checked (UTC)
  FileTime lastModified = 0; // the server's modification time, 0 when unknown
  FileTime expires = 0;      // 0 when unknown
  std::vector<CacheGroupId> groups;
  friend bool operator==(const CacheEntry&, const CacheEntry&) = default;
};

struct CommitOptions {
  std::string headers;
  std::string originalUrl;
  FileTime lastModified = 0;
  FileTime expires = 0;
  FileTime lastSync = 0;     // 0: the clock's time of the commit
  // When the URL already has an entry, leave it and fail with ERROR_ALREADY_EXISTS (for
  // content-addressed entries that two writers may make at once).
  bool keepExisting = false;
};

struct CacheGroup {
  CacheGroupId id = 0;
  std::string name;
};

class UrlCache {
 public:
  // `root` is QV_ROOT; the cache is its Internet cache folder. Sweeps orphans when due.
  UrlCache(const std::filesystem::path& root, const Clock& clock);

  const std::filesystem::path& folder() const { return folder_; }
  // True when `file` lies below the cache folder (lexically and after resolving links).
  bool Contains(const std::filesystem::path& file) const;

  // The entry of `url` (its fragment ignored). ERROR_FILE_NOT_FOUND when there is none (a
  // damaged index file counts as no entry; the next commit writes a fresh one beside it);
  // ERROR_INVALID_PARAMETER for an empty URL or one longer than kMaxUrlLength.
  std::int32_t GetEntry(std::string_view url, CacheEntry& out) const;
  // GetEntry, and the copy file must still exist (ERROR_FILE_NOT_FOUND otherwise). The
  // browser locks the copy against scavenging; this cache never scavenges, so nothing more
  // is needed.
  std::int32_t RetrieveEntryFile(std::string_view url, CacheEntry& out) const;

  // A new empty file in the cache folder for the copy of `url`, named after the URL's last
  // path segment with `extension` (without the dot; letters and digits, at most 8).
  std::int32_t CreateEntryFile(std::string_view url, std::string_view extension,
                               std::filesystem::path& out);
  // Makes `file` (made by CreateEntryFile, or any file below the cache folder) the copy of
  // `url`. An existing entry is replaced; its old copy is deleted when it is another file;
  // its groups are kept. A file outside the cache folder gives ERROR_ACCESS_DENIED.
  std::int32_t CommitEntry(std::string_view url, const std::filesystem::path& file,
                           const CommitOptions& options);
  // Removes the entry and its copy.
  std::int32_t DeleteEntry(std::string_view url);
  // Every entry's URL, in no particular order.
  std::int32_t EnumEntries(std::vector<std::string>& urls) const;

  // Removes, under the writers' lock, every temporary index file and every copy that no entry
  // names and that was last written kOrphanAge or more before the clock's time. Done by the
  // constructor when the last sweep is kSweepInterval old; callable at any time.
  std::int32_t SweepOrphans();

  // Cache groups.
  std::int32_t CreateGroup(std::string_view name, CacheGroupId& id);
  std::int32_t EnumGroups(std::vector<CacheGroup>& out) const;
  // The group whose name equals `name` without regard to case, created when there is none;
  // both under the writers' lock, so concurrent callers end with one group.
  std::int32_t FindOrCreateGroup(std::string_view name, CacheGroupId& id);
  // ERROR_FILE_NOT_FOUND for an unknown group or entry.
  std::int32_t AddEntryToGroup(std::string_view url, CacheGroupId id);
  // Deletes the group; with flushEntries its entries are deleted too, else they only leave it.
  std::int32_t DeleteGroup(CacheGroupId id, bool flushEntries);

 private:
  void SweepIfDue();
  std::filesystem::path IndexFolder() const;
  std::filesystem::path ContentFolder() const;
  // The index file that holds `key` (exists = true), or the first free name where it would
  // go. ERROR_DISK_FULL when all names for the key's hash are taken by other URLs.
  std::int32_t Locate(std::string_view key, std::filesystem::path& path, bool& exists,
                      CacheEntry* entry) const;
  std::int32_t WriteEntry(const std::filesystem::path& path, const CacheEntry& e) const;
  void CloseGap(const std::filesystem::path& freed) const;
  std::int32_t ReadGroups(std::vector<CacheGroup>& out) const;
  std::int32_t WriteGroups(const std::vector<CacheGroup>& groups) const;
  // A new group under the writers' lock; with reuseExisting, one of the same name instead.
  std::int32_t AddGroup(std::string_view name, bool reuseExisting, CacheGroupId& id);

  std::filesystem::path folder_;
  const Clock& clock_;
};

}  // namespace qv::platform
