#include "service/QvRankingSvc/caller_folders.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <system_error>

#include "common/utf.h"

namespace qv::service {
namespace {

// `path` is `base` or lies below it (both canonical).
bool IsInside(const std::string& path, const std::filesystem::path& base) {
  if (base.empty()) return false;
  std::string b = base.string();
  while (b.size() > 1 && b.back() == '/') b.pop_back();
  if (path == b) return true;
  if (b == "/") return true;
  return path.size() > b.size() && path.compare(0, b.size(), b) == 0 && path[b.size()] == '/';
}

std::filesystem::path Canonical(const std::filesystem::path& p) {
  std::error_code ec;
  auto c = std::filesystem::weakly_canonical(p, ec);
  return ec ? std::filesystem::path() : c;
}

}  // namespace

std::string OwnerIdentity(uid_t uid) { return "S-1-22-1-" + std::to_string(uid); }

HRESULT CheckCallerFolder(std::string_view dir, const std::filesystem::path& home,
                          const std::filesystem::path& dataRoot, std::string& out) {
  out.clear();
  std::string p(dir);
  if (p.empty() || p.find('\0') != std::string::npos) return E_INVALIDARG;
  std::replace(p.begin(), p.end(), '\\', '/');
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  bool ok = true;
  if (Utf8ToUtf16(p, &ok).size() > kMaxRequestFolderChars) {
    return HresultFromWin32(win32::ERROR_FILENAME_EXCED_RANGE);
  }
  if (!ok || p.front() != '/') return E_INVALIDARG;
  const std::filesystem::path path(p);
  if (path.lexically_normal().string() != p) return E_INVALIDARG;
  // A symbolic link on the way would let the folder stand for another one.
  if (Canonical(path).string() != p) return E_INVALIDARG;
  if (!IsInside(p, Canonical(home)) && !IsInside(p, Canonical(dataRoot))) return E_ACCESSDENIED;
  out = std::move(p);
  return S_OK;
}

HRESULT ParseStoreList(std::string_view stores, std::vector<std::string>& out) {
  out.clear();
  std::size_t at = 0;
  while (at <= stores.size()) {
    const std::size_t end = std::min(stores.find(';', at), stores.size());
    const std::string_view item = stores.substr(at, end - at);
    at = end + 1;
    if (item.empty()) continue;
    std::uint32_t value = 0;
    const auto [ptr, ec] = std::from_chars(item.data(), item.data() + item.size(), value, 16);
    // from_chars takes no sign or prefix, but check the length against leading zeros.
    std::size_t digits = item.size();
    for (std::size_t i = 0; i + 1 < item.size() && item[i] == '0'; ++i) --digits;
    if (ec != std::errc() || ptr != item.data() + item.size() || digits > 8 || value == 0) {
      out.clear();
      return E_INVALIDARG;
    }
    char name[16];
    std::snprintf(name, sizeof name, "%x", value);
    out.emplace_back(name);
  }
  return out.empty() ? E_INVALIDARG : S_OK;
}

bool IsShortcutFileName(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view ext = name.substr(dot);
  return EqualsNoCase(ext, ".q6w") || EqualsNoCase(ext, ".q6e") || EqualsNoCase(ext, ".q6j");
}

}  // namespace qv::service
