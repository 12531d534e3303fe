#include "platform/indexing/catalog_keys.h"

#include <charconv>

#include "common/utf.h"

namespace qv::platform::indexing {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ParseUnsigned(std::string_view s, std::uint32_t& out) {
  s = Trim(s);
  if (s.empty()) return false;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
  return ec == std::errc() && p == s.data() + s.size();
}

}  // namespace

bool IsPlainCatalogName(std::string_view name) {
  if (name.empty() || Utf8ToUtf16(name).size() > kMaxCatalogName) return false;
  if (name == "." || name.find("..") != std::string_view::npos) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
  }
  return true;
}

std::string CatalogKey(std::string_view name) {
  return std::string(kCatalogsKey) + "\\" + std::string(name);
}
std::string ScopesKey(std::string_view name) {
  return CatalogKey(name) + "\\" + std::string(kScopesSubkey);
}
std::string PropertiesKey(std::string_view name) {
  return CatalogKey(name) + "\\" + std::string(kPropertiesSubkey);
}

bool ParseScopeData(std::string_view data, bool& excluded) {
  const auto comma = data.rfind(',');
  if (comma == std::string_view::npos) return false;
  std::uint32_t flags = 0;
  if (!ParseUnsigned(data.substr(comma + 1), flags)) return false;
  excluded = (flags & 1u) == 0;
  return true;
}

bool ParseLooseGuid(std::string_view text, Guid& out) {
  text = Trim(text);
  std::string braced;
  if (!text.empty() && text.front() == '{') {
    braced = std::string(text);
  } else {
    braced = "{" + std::string(text) + "}";
  }
  auto g = ParseGuid(braced);
  if (!g) return false;
  out = *g;
  return true;
}

std::string PropertyKey(const Guid& fmtid, const std::variant<std::uint32_t, std::string>& id) {
  std::string key = FormatGuid(fmtid) + " ";
  if (const auto* n = std::get_if<std::uint32_t>(&id)) {
    key += std::to_string(*n);
  } else {
    key += AsciiLower(std::get<std::string>(id));
  }
  return key;
}

std::string CachedProperty::Key() const { return PropertyKey(fmtid, id); }

bool ParseCachedProperty(std::string_view valueName, std::string_view data,
                         CachedProperty& out) {
  valueName = Trim(valueName);
  const auto blank = valueName.find(' ');
  if (blank == std::string_view::npos) return false;
  CachedProperty p;
  if (!ParseLooseGuid(valueName.substr(0, blank), p.fmtid)) return false;
  std::string_view id = Trim(valueName.substr(blank + 1));
  if (id.empty()) return false;
  std::uint32_t num = 0;
  if (ParseUnsigned(id, num)) {
    p.id = num;
  } else {
    p.id = std::string(id);
  }
  std::uint32_t fields[4] = {};
  std::size_t i = 0;
  while (i < 4) {
    const auto comma = data.find(',');
    const std::string_view field = data.substr(0, comma);
    if (!ParseUnsigned(field, fields[i])) return false;
    ++i;
    if (comma == std::string_view::npos) break;
    data.remove_prefix(comma + 1);
  }
  if (i < 2 || fields[0] > 0xFFFF) return false;
  p.vt = static_cast<std::uint16_t>(fields[0]);
  p.size = fields[1];
  p.level = fields[2];
  out = std::move(p);
  return true;
}

}  // namespace qv::platform::indexing
