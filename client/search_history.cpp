#include "client/search_history.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "common/utf.h"

namespace qv::client {
namespace {

using platform::Hive;
using platform::RegType;
using platform::RegValue;

constexpr std::uint32_t kFnvOffset = 2166136261u;
constexpr std::uint32_t kFnvPrime = 16777619u;
constexpr std::size_t kMaxNameDigits = 8;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<FileTime> TimeOf(const RegValue& v) {
  if (v.type != RegType::Binary || v.binary.size() != kHistoryTimeBytes) return std::nullopt;
  FileTime t = 0;
  for (std::size_t i = 0; i < kHistoryTimeBytes; ++i) {
    t |= static_cast<FileTime>(v.binary[i]) << (8 * i);
  }
  return t;
}

RegValue TimeValue(FileTime t) {
  std::vector<std::uint8_t> bytes(kHistoryTimeBytes);
  for (std::size_t i = 0; i < kHistoryTimeBytes; ++i) {
    bytes[i] = static_cast<std::uint8_t>(t >> (8 * i));
  }
  return RegValue::Binary(std::move(bytes));
}

HRESULT FromWin32(std::int32_t err) { return err == 0 ? S_OK : HresultFromWin32(err); }

}  // namespace

std::uint32_t HistoryHash(std::string_view query) {
  std::u16string wide = Utf8ToUtf16(query);
  if (wide.size() > kHistoryHashChars) wide.resize(kHistoryHashChars);
  std::uint32_t h = kFnvOffset;
  for (char16_t c : wide) {
    for (int shift : {0, 8}) {
      h ^= static_cast<std::uint8_t>(c >> shift);
      h *= kFnvPrime;
    }
  }
  return h;
}

std::string HistoryValueName(std::string_view query) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::uint32_t h = HistoryHash(query);
  std::string digits;
  do {
    digits.insert(digits.begin(), kDigits[h & 0xF]);
    h >>= 4;
  } while (h != 0);
  return "0x" + digits;
}

std::optional<std::uint32_t> ParseHistoryName(std::string_view name) {
  if (name.size() >= 2 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X')) {
    name.remove_prefix(2);
  }
  if (name.empty() || name.size() > kMaxNameDigits) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : name) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    v = v << 4 | static_cast<std::uint32_t>(d);
  }
  return v;
}

HistoryScan ScanHistory(const RegValues& texts, const RegValues& times) {
  // Names compare without case, as the registry's do.
  std::map<std::string, const RegValue*> textByName;
  for (const auto& [name, value] : texts) textByName.emplace(AsciiLower(name), &value);
  HistoryScan scan;
  for (const auto& [name, value] : times) {
    const auto time = TimeOf(value);
    const auto text = textByName.find(AsciiLower(name));
    if (!time || !ParseHistoryName(name) || text == textByName.end() ||
        text->second->type != RegType::Sz || text->second->text.empty()) {
      scan.unusable.push_back(name);
      continue;
    }
    scan.entries.push_back({name, text->second->text, *time});
  }
  // Newest first; equal times keep the stored order.
  std::stable_sort(
      scan.entries.begin(), scan.entries.end(),
      [](const HistoryEntry& a, const HistoryEntry& b) { return a.lastUse > b.lastUse; });
  return scan;
}

HRESULT SearchHistory::Remember(std::string_view query, bool searchKeyMode) {
  if (query.empty() || searchKeyMode) return S_FALSE;
  bool ok = true;
  Utf8ToUtf16(query, &ok);
  if (!ok) return E_INVALIDARG;
  const FileTime now = clock_.Now();
  const std::string name = HistoryValueName(query);
  if (const auto err =
          registry_.SetValue(Hive::CurrentUser, kHistoryKey, name, RegValue::Sz(query))) {
    return FromWin32(err);
  }
  if (const auto err =
          registry_.SetValue(Hive::CurrentUser, kHistorySequenceKey, name, TimeValue(now))) {
    // A text without its time would never be listed or trimmed.
    registry_.DeleteValue(Hive::CurrentUser, kHistoryKey, name);
    registry_.DeleteValue(Hive::CurrentUser, kHistorySequenceKey, name);
    return FromWin32(err);
  }
  return Trim();
}

HRESULT SearchHistory::Trim() {
  RegValues texts, times;
  if (const auto err = registry_.EnumValues(Hive::CurrentUser, kHistoryKey, texts)) {
    return FromWin32(err);
  }
  if (const auto err = registry_.EnumValues(Hive::CurrentUser, kHistorySequenceKey, times)) {
    return FromWin32(err);
  }
  HistoryScan scan = ScanHistory(texts, times);
  // Unusable time values are dropped rather than left to count against the limit; their
  // texts (if any) go with them. Then the oldest go until the limit holds, however far over
  // it an earlier failure or another program left the history.
  std::vector<std::string> doomed = std::move(scan.unusable);
  for (std::size_t i = kMaxHistoryEntries; i < scan.entries.size(); ++i) {
    doomed.push_back(scan.entries[i].name);
  }
  HRESULT result = S_OK;
  for (const auto& name : doomed) {
    const auto errTime = registry_.DeleteValue(Hive::CurrentUser, kHistorySequenceKey, name);
    const auto errText = registry_.DeleteValue(Hive::CurrentUser, kHistoryKey, name);
    for (auto err : {errTime, errText}) {
      if (err != 0 && err != win32::ERROR_FILE_NOT_FOUND && result == S_OK) result = FromWin32(err);
    }
  }
  return result;
}

std::vector<HistoryEntry> SearchHistory::Entries() const {
  RegValues texts, times;
  if (registry_.EnumValues(Hive::CurrentUser, kHistoryKey, texts) != 0) return {};
  if (registry_.EnumValues(Hive::CurrentUser, kHistorySequenceKey, times) != 0) return {};
  auto entries = ScanHistory(texts, times).entries;
  if (entries.size() > kMaxHistoryEntries) entries.resize(kMaxHistoryEntries);
  return entries;
}

HRESULT SearchHistory::Clear() {
  const auto err = registry_.DeleteKey(Hive::CurrentUser, kHistoryKey);
  return err == win32::ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(err);
}

}  // namespace qv::client
