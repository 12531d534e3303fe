#include "platform/urlcache/url_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <system_error>

#include "common/guid.h"
#include "common/hresult.h"
#include "common/utf.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/urlcache/file_io.h"
#include "platform/urlcache/url.h"
#include "platform/urlcache/url_cache_format.h"

namespace qv::platform {
namespace fs = std::filesystem;
namespace fmt = urlcache_format;

namespace {

constexpr std::string_view kIndexFolder = "Index.QV";
constexpr std::string_view kContentFolder = "Content.QV";
constexpr std::string_view kGroupsFile = "groups.qvg";
constexpr std::string_view kLockFile = "lock";
constexpr std::string_view kSweepStamp = "swept";
constexpr std::string_view kTempPrefix = ".tmp-";  // as WriteTempFile names them
constexpr int kMaxCopyNameTries = 100;
constexpr std::size_t kMaxStemChars = 32;

bool ValidKey(std::string_view key) { return !key.empty() && key.size() <= kMaxUrlLength; }

// The copy's name: the URL's last path segment without its extension, reduced to safe
// characters.
std::string CopyStem(std::string_view url) {
  std::string_view path = WithoutFragment(url);
  path = path.substr(0, path.find('?'));
  if (auto slash = path.rfind('/'); slash != std::string_view::npos) path = path.substr(slash + 1);
  if (auto colon = path.rfind(':'); colon != std::string_view::npos) path = path.substr(colon + 1);
  if (auto dot = path.find('.'); dot != std::string_view::npos) path = path.substr(0, dot);
  std::string stem;
  for (unsigned char c : path) {
    if (stem.size() >= kMaxStemChars) break;
    if (std::isalnum(c) || c == '-' || c == '_') stem += static_cast<char>(c);
  }
  return stem.empty() ? "index" : stem;
}

bool ValidExtension(std::string_view ext) {
  return ext.size() <= 8 && std::all_of(ext.begin(), ext.end(), [](unsigned char c) {
           return std::isalnum(c) != 0;
         });
}

std::string Relative(const fs::path& folder, const fs::path& file) {
  return file.lexically_normal().lexically_relative(folder.lexically_normal()).generic_string();
}

}  // namespace

UrlCache::UrlCache(const fs::path& root, const Clock& clock)
    : folder_(KnownFolderPath(root, KnownFolder::InternetCache)), clock_(clock) {
  SweepIfDue();
}

void UrlCache::SweepIfDue() {
  struct stat st {};
  if (::stat(folder_.c_str(), &st) != 0) return;  // no cache yet, nothing to sweep
  const FileTime now = clock_.Now();
  if (::stat((IndexFolder() / kSweepStamp).c_str(), &st) == 0) {
    const FileTime last = TimespecToFileTime(st.st_mtim);
    if (last <= now && now - last < kSweepInterval) return;
  }
  (void)SweepOrphans();  // best effort: the next opening tries again
}

std::int32_t UrlCache::SweepOrphans() {
  std::error_code ec = CreatePrivateFolders(IndexFolder());
  if (ec) return Win32FromErrno(ec.value());
  std::int32_t err = 0;
  FileLock lock(IndexFolder() / kLockFile, err);
  if (err != 0) return err;
  const FileTime now = clock_.Now();

  // Every writer of index files holds the lock, so a temporary file seen now is a dead one's.
  std::set<fs::path> named;
  bool indexRead = true;
  for (fs::directory_iterator it(IndexFolder(), ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    const std::string name = p.filename().string();
    if (name.starts_with(kTempPrefix)) {
      std::error_code rmEc;
      fs::remove(p, rmEc);
      continue;
    }
    if (p.extension() != fmt::kEntryExtension) continue;
    std::vector<std::uint8_t> bytes;
    fmt::StoredEntry stored;
    const std::int32_t readErr = ReadWholeFile(p, fmt::kMaxIndexFile, bytes);
    if (readErr == win32::ERROR_FILE_NOT_FOUND) continue;
    if (readErr != 0 && readErr != win32::ERROR_INVALID_DATA) {
      indexRead = false;  // an entry that cannot be read now may name any copy
      continue;
    }
    // A damaged index file counts as no entry, so its copy is unreachable.
    if (readErr == 0 && fmt::ParseEntry(bytes, stored)) {
      named.insert((folder_ / stored.copy).lexically_normal());
    }
  }
  if (ec) return Win32FromErrno(ec.value());
  if (!indexRead) return win32::ERROR_READ_FAULT;

  for (fs::recursive_directory_iterator it(ContentFolder(), ec), end; !ec && it != end;
       it.increment(ec)) {
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const FileTime written = TimespecToFileTime(st.st_mtim);
    if (written > now || now - written < kOrphanAge) continue;
    if (named.count(it->path().lexically_normal()) != 0) continue;
    std::error_code rmEc;
    fs::remove(it->path(), rmEc);
  }
  if (ec && ec != std::errc::no_such_file_or_directory) return Win32FromErrno(ec.value());

  // The stamp carries the clock's time, so that the interval is measured on the same clock.
  const fs::path stamp = IndexFolder() / kSweepStamp;
  if (CreatePrivateFile(stamp)) return 0;
  const timespec times[2] = {FileTimeToTimespec(now), FileTimeToTimespec(now)};
  ::utimensat(AT_FDCWD, stamp.c_str(), times, 0);
  return 0;
}

fs::path UrlCache::IndexFolder() const { return folder_ / kIndexFolder; }
fs::path UrlCache::ContentFolder() const { return folder_ / kContentFolder; }

bool UrlCache::Contains(const fs::path& file) const { return IsBelowFolder(folder_, file); }

std::int32_t UrlCache::Locate(std::string_view key, fs::path& path, bool& exists,
                              CacheEntry* entry) const {
  exists = false;
  path.clear();
  std::int32_t damaged = 0;
  for (int probe = 0; probe < fmt::kMaxProbes; ++probe) {
    const fs::path candidate = IndexFolder() / fmt::IndexFileName(key, probe);
    std::vector<std::uint8_t> bytes;
    const std::int32_t err = ReadWholeFile(candidate, fmt::kMaxIndexFile, bytes);
    if (err == win32::ERROR_FILE_NOT_FOUND || err == win32::ERROR_PATH_NOT_FOUND) {
      // Names of one hash are taken in order and DeleteEntry closes gaps, so the first free
      // name ends the search.
      path = candidate;
      return 0;
    }
    fmt::StoredEntry stored;
    if (err != 0 || !fmt::ParseEntry(bytes, stored)) {
      damaged = err != 0 ? err : win32::ERROR_INVALID_DATA;
      continue;
    }
    if (stored.entry.url != key) continue;  // another URL whose key collides
    path = candidate;
    exists = true;
    if (entry) {
      *entry = std::move(stored.entry);
      entry->localFile = folder_ / stored.copy;
    }
    return 0;
  }
  if (path.empty()) return damaged != 0 ? damaged : win32::ERROR_DISK_FULL;
  return 0;
}

std::int32_t UrlCache::GetEntry(std::string_view url, CacheEntry& out) const {
  const std::string_view key = WithoutFragment(url);
  if (!ValidKey(key)) return win32::ERROR_INVALID_PARAMETER;
  fs::path path;
  bool exists = false;
  CacheEntry e;
  const std::int32_t err = Locate(key, path, exists, &e);
  if (err != 0 && err != win32::ERROR_DISK_FULL) return err;
  if (!exists) return win32::ERROR_FILE_NOT_FOUND;
  out = std::move(e);
  return 0;
}

std::int32_t UrlCache::RetrieveEntryFile(std::string_view url, CacheEntry& out) const {
  CacheEntry e;
  if (const auto err = GetEntry(url, e); err != 0) return err;
  std::error_code ec;
  if (!fs::is_regular_file(e.localFile, ec)) return win32::ERROR_FILE_NOT_FOUND;
  out = std::move(e);
  return 0;
}

std::int32_t UrlCache::CreateEntryFile(std::string_view url, std::string_view extension,
                                       fs::path& out) {
  if (!ValidKey(WithoutFragment(url)) || !ValidExtension(extension)) {
    return win32::ERROR_INVALID_PARAMETER;
  }
  Guid g;
  if (Failed(NewGuid(g))) return win32::ERROR_NOT_ENOUGH_MEMORY;
  char sub[8];
  std::snprintf(sub, sizeof sub, "%02x", static_cast<unsigned>(g.data1 & 0xFF));
  const fs::path dir = ContentFolder() / sub;
  std::error_code ec;
  ec = CreatePrivateFolders(dir);
  if (ec) return Win32FromErrno(ec.value());
  const std::string stem = CopyStem(url);
  for (int n = 1; n <= kMaxCopyNameTries; ++n) {
    std::string name = stem + "[" + std::to_string(n) + "]";
    if (!extension.empty()) name += "." + std::string(extension);
    const fs::path file = dir / name;
    Fd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode));
    if (fd) {
      out = file;
      return 0;
    }
    if (errno != EEXIST) return Win32FromErrno(errno);
  }
  return win32::ERROR_FILE_EXISTS;
}

std::int32_t UrlCache::WriteEntry(const fs::path& path, const CacheEntry& e) const {
  fmt::StoredEntry stored{e, Relative(folder_, e.localFile)};
  stored.entry.localFile.clear();
  const auto bytes = fmt::SerializeEntry(stored);
  if (bytes.size() > fmt::kMaxIndexFile) return win32::ERROR_INVALID_PARAMETER;
  return ReplaceFile(path, bytes);
}

std::int32_t UrlCache::CommitEntry(std::string_view url, const fs::path& file,
                                   const CommitOptions& options) {
  const std::string_view key = WithoutFragment(url);
  if (!ValidKey(key)) return win32::ERROR_INVALID_PARAMETER;
  if (!Contains(file)) return win32::ERROR_ACCESS_DENIED;
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return Win32FromErrno(errno);
  if (!S_ISREG(st.st_mode)) return win32::ERROR_ACCESS_DENIED;

  std::error_code ec;
  ec = CreatePrivateFolders(IndexFolder());
  if (ec) return Win32FromErrno(ec.value());
  std::int32_t err = 0;
  FileLock lock(IndexFolder() / kLockFile, err);
  if (err != 0) return err;

  fs::path path;
  bool exists = false;
  CacheEntry old;
  if ((err = Locate(key, path, exists, &old)) != 0) return err;
  if (exists && options.keepExisting) return win32::ERROR_ALREADY_EXISTS;
  CacheEntry e;
  e.url = std::string(key);
  e.originalUrl = options.originalUrl;
  e.localFile = file.lexically_normal();
  e.headers = options.headers;
  e.size = static_cast<std::uint64_t>(st.st_size);
  e.lastSync = options.lastSync != 0 ? options.lastSync : clock_.Now();
  e.lastModified = options.lastModified;
  e.expires = options.expires;
  if (exists) e.groups = old.groups;
  if ((err = WriteEntry(path, e)) != 0) return err;
  if (exists && old.localFile.lexically_normal() != e.localFile && Contains(old.localFile)) {
    fs::remove(old.localFile, ec);
  }
  return 0;
}

std::int32_t UrlCache::DeleteEntry(std::string_view url) {
  const std::string_view key = WithoutFragment(url);
  if (!ValidKey(key)) return win32::ERROR_INVALID_PARAMETER;
  std::int32_t err = 0;
  std::error_code ec;
  ec = CreatePrivateFolders(IndexFolder());
  FileLock lock(IndexFolder() / kLockFile, err);
  if (err != 0) return err;
  fs::path path;
  bool exists = false;
  CacheEntry old;
  if ((err = Locate(key, path, exists, &old)) != 0 && err != win32::ERROR_DISK_FULL) return err;
  if (!exists) return win32::ERROR_FILE_NOT_FOUND;
  if (::unlink(path.c_str()) != 0) return Win32FromErrno(errno);
  CloseGap(path);
  if (Contains(old.localFile)) fs::remove(old.localFile, ec);
  return 0;
}

void UrlCache::CloseGap(const fs::path& freed) const {
  // The last taken name of the same hash moves into the freed one, so that the taken names
  // stay contiguous from the first.
  const std::string stem = freed.stem().string();
  const auto dash = stem.find('-');
  const std::string hash = stem.substr(0, dash);
  const int freedProbe = dash == std::string::npos ? 0 : std::atoi(stem.c_str() + dash + 1);
  fs::path last;
  for (int probe = freedProbe + 1; probe < fmt::kMaxProbes; ++probe) {
    char name[48];
    std::snprintf(name, sizeof name, "%s-%d%s", hash.c_str(), probe,
                  std::string(fmt::kEntryExtension).c_str());
    const fs::path candidate = IndexFolder() / name;
    struct stat st {};
    if (::lstat(candidate.c_str(), &st) != 0) break;
    last = candidate;
  }
  if (!last.empty()) ::rename(last.c_str(), freed.c_str());
}

std::int32_t UrlCache::EnumEntries(std::vector<std::string>& urls) const {
  urls.clear();
  std::error_code ec;
  fs::directory_iterator it(IndexFolder(), ec);
  if (ec) return ec == std::errc::no_such_file_or_directory ? 0 : Win32FromErrno(ec.value());
  for (const auto& de : it) {
    if (de.path().extension() != fmt::kEntryExtension) continue;
    std::vector<std::uint8_t> bytes;
    fmt::StoredEntry stored;
    if (ReadWholeFile(de.path(), fmt::kMaxIndexFile, bytes) == 0 &&
        fmt::ParseEntry(bytes, stored)) {
      urls.push_back(std::move(stored.entry.url));
    }
  }
  return 0;
}

std::int32_t UrlCache::ReadGroups(std::vector<CacheGroup>& out) const {
  fmt::StoredGroups g;
  std::vector<std::uint8_t> bytes;
  const auto err = ReadWholeFile(IndexFolder() / kGroupsFile, fmt::kMaxIndexFile, bytes);
  if (err == win32::ERROR_FILE_NOT_FOUND || err == win32::ERROR_PATH_NOT_FOUND) {
    out.clear();
    return 0;
  }
  if (err != 0) return err;
  if (!fmt::ParseGroups(bytes, g)) return win32::ERROR_INVALID_DATA;
  out = std::move(g.groups);
  return 0;
}

std::int32_t UrlCache::WriteGroups(const std::vector<CacheGroup>& groups) const {
  fmt::StoredGroups g;
  g.groups = groups;
  for (const auto& grp : groups) g.nextId = std::max(g.nextId, grp.id + 1);
  return ReplaceFile(IndexFolder() / kGroupsFile, fmt::SerializeGroups(g));
}

std::int32_t UrlCache::EnumGroups(std::vector<CacheGroup>& out) const { return ReadGroups(out); }

std::int32_t UrlCache::CreateGroup(std::string_view name, CacheGroupId& id) {
  return AddGroup(name, /*reuseExisting=*/false, id);
}

std::int32_t UrlCache::FindOrCreateGroup(std::string_view name, CacheGroupId& id) {
  return AddGroup(name, /*reuseExisting=*/true, id);
}

std::int32_t UrlCache::AddGroup(std::string_view name, bool reuseExisting, CacheGroupId& id) {
  if (name.size() > fmt::kMaxGroupName) return win32::ERROR_INVALID_PARAMETER;
  std::error_code ec;
  ec = CreatePrivateFolders(IndexFolder());
  if (ec) return Win32FromErrno(ec.value());
  std::int32_t err = 0;
  FileLock lock(IndexFolder() / kLockFile, err);
  if (err != 0) return err;
  std::vector<CacheGroup> groups;
  if ((err = ReadGroups(groups)) != 0) return err;
  CacheGroupId next = 1;
  for (const auto& g : groups) {
    if (reuseExisting && EqualsNoCase(g.name, name)) {
      id = g.id;
      return 0;
    }
    next = std::max(next, g.id + 1);
  }
  groups.push_back({next, std::string(name)});
  if ((err = WriteGroups(groups)) != 0) return err;
  id = next;
  return 0;
}

std::int32_t UrlCache::AddEntryToGroup(std::string_view url, CacheGroupId id) {
  const std::string_view key = WithoutFragment(url);
  if (!ValidKey(key)) return win32::ERROR_INVALID_PARAMETER;
  std::error_code ec;
  ec = CreatePrivateFolders(IndexFolder());
  std::int32_t err = 0;
  FileLock lock(IndexFolder() / kLockFile, err);
  if (err != 0) return err;
  std::vector<CacheGroup> groups;
  if ((err = ReadGroups(groups)) != 0) return err;
  if (std::none_of(groups.begin(), groups.end(), [&](const auto& g) { return g.id == id; })) {
    return win32::ERROR_FILE_NOT_FOUND;
  }
  fs::path path;
  bool exists = false;
  CacheEntry e;
  if ((err = Locate(key, path, exists, &e)) != 0 && err != win32::ERROR_DISK_FULL) return err;
  if (!exists) return win32::ERROR_FILE_NOT_FOUND;
  if (std::find(e.groups.begin(), e.groups.end(), id) != e.groups.end()) return 0;
  e.groups.push_back(id);
  return WriteEntry(path, e);
}

std::int32_t UrlCache::DeleteGroup(CacheGroupId id, bool flushEntries) {
  std::error_code ec;
  ec = CreatePrivateFolders(IndexFolder());
  std::int32_t err = 0;
  std::vector<std::string> urls;
  {
    FileLock lock(IndexFolder() / kLockFile, err);
    if (err != 0) return err;
    std::vector<CacheGroup> groups;
    if ((err = ReadGroups(groups)) != 0) return err;
    const auto it = std::find_if(groups.begin(), groups.end(),
                                 [&](const auto& g) { return g.id == id; });
    if (it == groups.end()) return win32::ERROR_FILE_NOT_FOUND;
    groups.erase(it);
    if ((err = WriteGroups(groups)) != 0) return err;
    for (const auto& de : fs::directory_iterator(IndexFolder(), ec)) {
      if (de.path().extension() != fmt::kEntryExtension) continue;
      std::vector<std::uint8_t> bytes;
      fmt::StoredEntry stored;
      if (ReadWholeFile(de.path(), fmt::kMaxIndexFile, bytes) != 0 ||
          !fmt::ParseEntry(bytes, stored)) {
        continue;
      }
      auto& g = stored.entry.groups;
      if (std::find(g.begin(), g.end(), id) == g.end()) continue;
      if (flushEntries) {
        urls.push_back(stored.entry.url);
        continue;
      }
      g.erase(std::remove(g.begin(), g.end(), id), g.end());
      stored.entry.localFile = folder_ / stored.copy;
      if ((err = WriteEntry(de.path(), stored.entry)) != 0) return err;
    }
  }
  for (const auto& url : urls) {
    if ((err = DeleteEntry(url)) != 0 && err != win32::ERROR_FILE_NOT_FOUND) return err;
  }
  return 0;
}

}  // namespace qv::platform
