#include "provider/urlmon/history_url.h"

#include <cstdio>

#include "common/utf.h"
#include "platform/folders/folders.h"

namespace qv::urlmon {
namespace {

constexpr std::string_view kUrlParam = "?url=";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Hex(std::uint32_t v, const char* format) {
  char buf[16];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

}  // namespace

std::uint32_t ContinueScopeHash(std::uint32_t h, std::span<const std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) h ^= (h << 5) + (h >> 2) + b;
  return h;
}

ShortcutName NameOfUrls(std::span<const std::string> urls) {
  std::uint32_t h = 0;
  std::uint64_t length = 0;
  for (const auto& u : urls) {
    const auto bytes = Utf8ToUtf16LeBytes(u);
    h = ContinueScopeHash(h, bytes);
    length += bytes.size();
  }
  return {static_cast<std::uint32_t>((length / 2 + h) & (kBucketCount - 1)), h};
}

std::filesystem::path WebHistoryRoot(const std::filesystem::path& qvRoot) {
  return platform::KnownFolderPath(qvRoot, platform::KnownFolder::LocalAppData) / "Quillon" /
         "WebHistory";
}

std::filesystem::path BucketFolder(const std::filesystem::path& webRoot, std::uint32_t bucket) {
  return webRoot / Hex(bucket, "%x");
}

std::filesystem::path ShortcutPath(const std::filesystem::path& webRoot, const ShortcutName& n) {
  return BucketFolder(webRoot, n.bucket) / (Hex(n.hash, "%x") + std::string(kShortcutExtension));
}

HRESULT ParseHistoryUrl(std::string_view url, HistoryUrl& out) {
  const std::size_t prefix = kHistoryScheme.size() + 1;
  if (url.size() < prefix || !EqualsNoCase(url.substr(0, kHistoryScheme.size()), kHistoryScheme) ||
      url[kHistoryScheme.size()] != ':') {
    return INET_E_INVALID_URL;
  }
  std::string_view rest = url.substr(prefix);
  HistoryUrl u;
  std::size_t digits = 0;
  while (digits < rest.size() && HexDigit(rest[digits]) >= 0) ++digits;
  // Two digits of bucket, then one to eight of hash.
  if (digits < 3 || digits > 10) return INET_E_INVALID_URL;
  u.name.bucket = static_cast<std::uint32_t>(HexDigit(rest[0]) * 16 + HexDigit(rest[1]));
  for (std::size_t i = 2; i < digits; ++i) {
    u.name.hash = (u.name.hash << 4) | static_cast<std::uint32_t>(HexDigit(rest[i]));
  }
  rest.remove_prefix(digits);
  if (const auto hash = rest.find('#'); hash != std::string_view::npos) {
    u.fragment = std::string(rest.substr(hash));
    rest = rest.substr(0, hash);
  }
  if (!rest.empty()) {
    if (!rest.starts_with(kUrlParam)) return INET_E_INVALID_URL;
    rest.remove_prefix(kUrlParam.size());
    if (rest.empty() || rest.size() > kMaxHistoryUrl) return INET_E_INVALID_URL;
    u.partUrl = std::string(rest);
  }
  out = std::move(u);
  return S_OK;
}

std::string FormatHistoryUrl(const ShortcutName& n) {
  return std::string(kHistoryScheme) + ":" + Hex(n.bucket, "%02X") + Hex(n.hash, "%X");
}

std::string FormatHistoryUrl(const HistoryUrl& u) {
  std::string s = FormatHistoryUrl(u.name);
  if (u.partUrl) s += std::string(kUrlParam) + *u.partUrl;
  return s + u.fragment;
}

}  // namespace qv::urlmon
