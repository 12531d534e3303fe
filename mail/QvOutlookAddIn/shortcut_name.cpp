#include "mail/QvOutlookAddIn/shortcut_name.h"

#include <cstdio>

#include "mail/QvOutlookAddIn/url_hash.h"

namespace qv::mail::addin {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool KeyFits(std::span<const std::uint8_t> key) {
  return !key.empty() && key.size() <= kMaxItemKeyBytes;
}

}  // namespace

std::string HexUpper(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    s.push_back(kDigits[b >> 4]);
    s.push_back(kDigits[b & 0xF]);
  }
  return s;
}

HRESULT DecodeHex(std::string_view text, std::size_t maxBytes, std::vector<std::uint8_t>& out) {
  out.clear();
  if (text.size() % 2 != 0 || text.size() / 2 > maxBytes) return E_INVALIDARG;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = HexValue(text[i]), lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return E_INVALIDARG;
    bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  out = std::move(bytes);
  return S_OK;
}

HRESULT ShortcutName(std::span<const std::uint8_t> key, std::string& name) {
  if (!KeyFits(key)) return E_INVALIDARG;
  name = HexUpper(key) + std::string(kShortcutExtension);
  return S_OK;
}

HRESULT ShortcutBucket(std::span<const std::uint8_t> key, std::string& bucket) {
  if (!KeyFits(key)) return E_INVALIDARG;
  char text[3];
  std::snprintf(text, sizeof text, "%02x", UrlHashByte(HexUpper(key)));
  bucket = text;
  return S_OK;
}

HRESULT ShortcutPath(const std::filesystem::path& directory, std::span<const std::uint8_t> key,
                     std::filesystem::path& out) {
  std::string bucket, name;
  if (HRESULT hr = ShortcutBucket(key, bucket); Failed(hr)) return hr;
  if (HRESULT hr = ShortcutName(key, name); Failed(hr)) return hr;
  if (directory.empty()) return E_INVALIDARG;
  out = directory / bucket / name;
  return S_OK;
}

}  // namespace qv::mail::addin
