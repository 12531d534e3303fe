#pragma once
// Reading the desktop's recent-files list (XBEL, as written by GLib's bookmark files): the
// href and the three time stamps of every <bookmark>. The reader is lenient: a damaged or cut
// file yields the bookmarks it could read, never more than it holds.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qv::platform {

struct XbelBookmark {
  std::string href;
  std::string added, modified, visited;
};

// Files larger than this are not read.
inline constexpr std::size_t kMaxXbelBytes = 32u << 20;
inline constexpr std::string_view kXbelFileName = "recently-used.xbel";

// The bookmarks in document order; `complete` is false when the text ended inside a tag or
// held something that is not XML.
std::vector<XbelBookmark> ParseXbel(std::string_view text, bool* complete = nullptr);

// The local path of a file URL ("file:///a%20b" -> "/a b"; "file://localhost/..." too);
// false for other URLs, bad escapes, embedded NULs and paths beyond the platform's limit.
bool LocalPathFromFileUrl(std::string_view url, std::string& path);

}  // namespace qv::platform
