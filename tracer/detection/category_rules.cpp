#include "tracer/detection/category_rules.h"

#include "common/utf.h"
#include "tracer/detection/detection_constants.h"
#include "tracer/detection/path_match.h"

namespace qv::tracer {

using namespace qv::platform;

namespace {

std::string_view CategoryKey(ItemCategory c) {
  switch (c) {
    case ItemCategory::Files: return kFilesCategoryKey;
    case ItemCategory::WebPages: return kWebCategoryKey;
    case ItemCategory::Mail: return kMailCategoryKey;
  }
  return {};
}

bool DwordValue(const Registry& reg, std::string_view key, std::string_view name,
                std::uint32_t& out) {
  RegValue v;
  if (reg.GetValue(Hive::CurrentUser, key, name, v) != 0 || v.type != RegType::Dword) return false;
  out = v.dword;
  return true;
}

bool Flag(const Registry& reg, std::string_view key, std::string_view name) {
  std::uint32_t v = 0;
  return DwordValue(reg, key, name, v) && v != 0;
}

void CommonRules(const Registry& reg, std::string_view key, ItemCategory category,
                 std::string_view item, RecordSwitches& sw) {
  if (!reg.KeyExists(Hive::CurrentUser, key)) return;
  if (Flag(reg, key, kDisableRankingValue)) sw.rank = false;
  if (Flag(reg, key, kDisableJournalingValue)) sw.journal = false;
  if (!sw.AnyOn() || category == ItemCategory::Mail) return;

  std::uint32_t matchType = 0;
  const bool inclusive = DwordValue(reg, key, kMatchTypeValue, matchType) &&
                         matchType == kMatchTypeInclude;
  RegValue list;
  if (reg.GetValue(Hive::CurrentUser, key, inclusive ? kIncludeValue : kExcludeValue, list) != 0 ||
      list.type != RegType::MultiSz) {
    return;
  }
  // A multi-string ends at its first empty string; a list without patterns sets no rule.
  std::size_t count = 0;
  while (count < list.strings.size() && !list.strings[count].empty()) ++count;
  if (count == 0) return;
  bool matched = false;
  for (std::size_t i = 0; i < count && !matched; ++i) {
    matched = PathMatchSpec(item, list.strings[i]);
  }
  if (matched != inclusive) sw = {false, false};
}

bool UnrankedType(std::string_view path) {
  for (std::string_view ext : kUnrankedExtensions) {
    if (path.size() >= ext.size() && EqualsNoCase(path.substr(path.size() - ext.size()), ext)) {
      return true;
    }
  }
  return false;
}

}  // namespace

RecordSwitches SwitchesFromFlags(std::uint32_t recordFlags) {
  return {(recordFlags & kRecordNoRank) == 0, (recordFlags & kRecordNoJournal) == 0};
}

void ApplyCategoryRules(const Registry& registry, ItemCategory category, std::string_view item,
                        RecordSwitches& switches) {
  if (category != ItemCategory::Mail && item.empty()) {
    switches = {false, false};
    return;
  }
  CommonRules(registry, CategoryKey(category), category, item, switches);
  if (category == ItemCategory::Files && switches.AnyOn() && UnrankedType(item)) {
    switches.rank = false;
  }
}

}  // namespace qv::tracer
