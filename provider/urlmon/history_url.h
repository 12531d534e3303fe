#pragma once
// Where a page's shortcut lives and how a "history:" URL names it. The shortcut of a page is
// named after a 32-bit hash h of its parts' URLs; a bucket folder (0..15) spreads the files:
//   <LocalAppData>/Quillon/WebHistory/<bucket %x>/<h %x>.q6w
//   history:<bucket %02X><h %X>[?url=<part URL>][#fragment]
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/hresult.h"

namespace qv::urlmon {

inline constexpr HRESULT INET_E_INVALID_URL = MakeHr(0x800C0002);
inline constexpr std::string_view kHistoryScheme = "history";
inline constexpr std::string_view kShortcutExtension = ".q6w";
inline constexpr std::uint32_t kBucketCount = 16;
// The longest "?url=" value and the longest history URL we hand out.
inline constexpr std::size_t kMaxHistoryUrl = 2083;

// The shift-add-xor hash of the scope number, continued from `seed` over `bytes`.
std::uint32_t ContinueScopeHash(std::uint32_t seed, std::span<const std::uint8_t> bytes);

struct ShortcutName {
  std::uint32_t bucket = 0;
  std::uint32_t hash = 0;
  friend bool operator==(const ShortcutName&, const ShortcutName&) = default;
};

// h over the UTF-16LE bytes of every URL in order; bucket = ((total bytes / 2) + h) & 15.
ShortcutName NameOfUrls(std::span<const std::string> urls);

// <LocalAppData>/Quillon/WebHistory under the installation root.
std::filesystem::path WebHistoryRoot(const std::filesystem::path& qvRoot);
std::filesystem::path BucketFolder(const std::filesystem::path& webRoot, std::uint32_t bucket);
std::filesystem::path ShortcutPath(const std::filesystem::path& webRoot, const ShortcutName& n);

struct HistoryUrl {
  ShortcutName name;
  std::optional<std::string> partUrl;  // the "?url=" value
  std::string fragment;                // from '#' on, or empty
};

// "history:" (any case), two hex digits (bucket), one to eight hex digits (hash), then the
// end, "?url=" with 1 to 2,083 characters, or a fragment. Anything else: INET_E_INVALID_URL.
HRESULT ParseHistoryUrl(std::string_view url, HistoryUrl& out);
// The canonical text of a history URL.
std::string FormatHistoryUrl(const HistoryUrl& u);
std::string FormatHistoryUrl(const ShortcutName& n);

}  // namespace qv::urlmon
