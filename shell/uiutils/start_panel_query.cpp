#include "shell/uiutils/start_panel_query.h"

#include <algorithm>

#include "common/utf.h"
#include "context/registry_values.h"

namespace qv::uiutils {
namespace {

constexpr std::string_view kOutlookKey = "Software\\Microsoft\\Office\\outlook";
constexpr std::string_view kMailStoreClassKey = "CLSID\\{CCB53C6E-DA97-4B5F-8FF0-A95C77ECB9FF}";
constexpr std::string_view kMailProfilesKey =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
constexpr std::string_view kSearchParamsName = "SearchParams";

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '.' || c == '_' || c == '~';
}

std::string_view Trim(std::string_view s) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

bool IsHistoryName(std::string_view name) {
  if (name.size() < 3 || name[0] != '0' || (name[1] != 'x' && name[1] != 'X')) return false;
  return std::all_of(name.begin() + 2, name.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

}  // namespace

bool MailAvailable(const platform::Registry& reg) {
  if (!reg.KeyExists(platform::Hive::LocalMachine, kOutlookKey)) return false;
  if (!reg.KeyExists(platform::Hive::ClassesRoot, kMailStoreClassKey)) return false;
  std::vector<std::string> profiles;
  return reg.EnumKeys(platform::Hive::CurrentUser, kMailProfilesKey, profiles) == 0 &&
         !profiles.empty();
}

StartPanelOptions LoadStartPanelOptions(const platform::Registry& reg, bool mailAvailable) {
  StartPanelOptions o;
  platform::RegValue v;
  if (reg.GetValue(platform::Hive::CurrentUser, kVesperKey, kSearchParamsName, v) == 0 &&
      v.type == platform::RegType::Binary && v.binary.size() == kSearchParamsBytes) {
    std::copy(v.binary.begin(), v.binary.end(), o.raw.begin());
    o.files = o.raw[0] != 0;
    o.webHistory = o.raw[1] != 0;
    o.email = o.raw[2] != 0;
    o.visitedOnly = o.raw[3] != 0;
    o.includeSystemFolders = o.raw[4] != 0;
    return o;
  }
  o.email = mailAvailable;
  return o;
}

std::int32_t SaveStartPanelOptions(platform::Registry& reg, const StartPanelOptions& o) {
  std::vector<std::uint8_t> bytes(o.raw.begin(), o.raw.end());
  bytes[0] = o.files ? 1 : 0;
  bytes[1] = o.webHistory ? 1 : 0;
  bytes[2] = o.email ? 1 : 0;
  bytes[3] = o.visitedOnly ? 1 : 0;
  bytes[4] = o.includeSystemFolders ? 1 : 0;
  return reg.SetValue(platform::Hive::CurrentUser, kVesperKey, kSearchParamsName,
                      platform::RegValue::Binary(std::move(bytes)));
}

std::optional<std::string> UrlEscape(std::string_view text) {
  bool ok = true;
  (void)Utf8ToUtf16(text, &ok);
  if (!ok) return std::nullopt;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (Unreserved(c)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

std::string BuildStartPanelQuery(const StartPanelOptions& o, std::string_view text) {
  std::string types;
  auto add = [&](std::string_view t) {
    if (!types.empty()) types += ',';
    types += t;
  };
  if (o.files) add("Files");
  if (o.webHistory) add("WebHistory");
  if (o.email) add("EMail");
  std::string q = "&ct=" + types;
  if (o.visitedOnly) q += "&exn=1";
  if (o.includeSystemFolders) q += "&sys=1";

  const std::string_view trimmed = Trim(text);
  bool ok = true;
  const std::size_t chars = Utf8ToUtf16(trimmed, &ok).size();
  if (!trimmed.empty() && ok && chars < kMaxSearchText) {
    if (auto escaped = UrlEscape(trimmed)) q += "&q=" + *escaped;
  }
  return q;
}

std::vector<std::string> ReadSearchHistory(const platform::Registry& reg) {
  std::vector<std::pair<std::string, platform::RegValue>> values;
  std::vector<std::string> out;
  if (reg.EnumValues(platform::Hive::CurrentUser, kSearchHistoryKey, values) != 0) return out;
  for (auto& [name, value] : values) {
    if (out.size() >= kMaxHistoryStrings) break;
    if (!IsHistoryName(name) || value.type != platform::RegType::Sz) continue;
    bool ok = true;
    if (Utf8ToUtf16(value.text, &ok).size() >= kMaxSearchText || !ok) continue;
    out.push_back(std::move(value.text));
  }
  return out;
}

}  // namespace qv::uiutils
