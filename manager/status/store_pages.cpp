#include "manager/status/store_pages.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "platform/folders/folders.h"
#include "platform/indexing/tree_delete.h"
#include "platform/urlcache/url_cache.h"

namespace qv::manager {
namespace {

namespace fs = std::filesystem;

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

}  // namespace

fs::path WebHistoryFolder(const fs::path& root) {
  return platform::KnownFolderPath(root, platform::KnownFolder::LocalAppData) / "Quillon" /
         "WebHistory";
}

fs::path JournalFolder(const fs::path& root) {
  return platform::KnownFolderPath(root, platform::KnownFolder::LocalAppData) / "Quillon" /
         "Journal";
}

std::uint64_t FolderSize(const fs::path& folder) {
  std::uint64_t total = 0;
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code sec;
    const auto st = it->symlink_status(sec);
    if (sec || !fs::is_regular_file(st)) continue;
    const auto n = it->file_size(sec);
    if (!sec) total += n;
  }
  return total;
}

std::string FormatKilobytes(std::uint64_t bytes) {
  const std::uint64_t kb = bytes / 1024 + (bytes % 1024 ? 1 : 0);
  std::string digits = std::to_string(kb);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out + " KB";
}

WebHistoryStore::WebHistoryStore(fs::path root, const Clock& clock)
    : root_(std::move(root)), clock_(clock) {}

HRESULT WebHistoryStore::GroupUsage(bool create, std::uint64_t& bytes) const {
  bytes = 0;
  platform::UrlCache cache(root_, clock_);
  platform::CacheGroupId id = 0;
  if (create) {
    if (const auto err = cache.FindOrCreateGroup(kWebHistoryGroup, id)) return HresultFromWin32(err);
  } else {
    std::vector<platform::CacheGroup> groups;
    if (const auto err = cache.EnumGroups(groups)) return HresultFromWin32(err);
    const auto it = std::find_if(groups.begin(), groups.end(), [](const auto& g) {
      return SameNameIgnoringCase(g.name, kWebHistoryGroup);
    });
    if (it == groups.end()) return S_FALSE;
    id = it->id;
  }
  std::vector<std::string> urls;
  if (const auto err = cache.EnumEntries(urls)) return HresultFromWin32(err);
  for (const auto& url : urls) {
    platform::CacheEntry e;
    if (cache.GetEntry(url, e) != 0) continue;  // gone since it was listed
    if (std::find(e.groups.begin(), e.groups.end(), id) != e.groups.end()) bytes += e.size;
  }
  return S_OK;
}

HRESULT WebHistoryStore::Clear() const {
  HRESULT first = S_OK;
  {
    platform::UrlCache cache(root_, clock_);
    std::vector<platform::CacheGroup> groups;
    if (const auto err = cache.EnumGroups(groups)) first = HresultFromWin32(err);
    // Every group of that name goes, should an older writer have left two.
    for (const auto& g : groups) {
      if (!SameNameIgnoringCase(g.name, kWebHistoryGroup)) continue;
      if (const auto err = cache.DeleteGroup(g.id, true); err && Succeeded(first)) {
        first = HresultFromWin32(err);
      }
    }
  }
  const HRESULT hr = platform::indexing::EmptyTree(WebHistoryFolder(root_));
  return Failed(first) ? first : hr;
}

}  // namespace qv::manager
