#include "client/result_columns.h"

namespace qv::client {
namespace {

using platform::Hive;
using platform::RegType;
using platform::RegValue;

bool ReadDwordValue(const platform::Registry& reg, const std::string& name, std::uint32_t& out) {
  RegValue v;
  if (reg.GetValue(Hive::CurrentUser, kViewKey, name, v) != 0 || v.type != RegType::Dword) {
    return false;
  }
  out = v.dword;
  return true;
}

// "%scl%d" and "%scls%d" (the suffix first), "sort%s" and "sortdir%s" (the suffix last).
std::string ColumnName(std::string_view suffix, std::string_view pattern, int column) {
  return std::string(suffix) + std::string(pattern) + std::to_string(column);
}
std::string Name(std::string_view pattern, std::string_view suffix) {
  return std::string(pattern) + std::string(suffix);
}

}  // namespace

bool IsSortable(int column) { return column >= kColumnBar && column < kColumnCount; }

bool AllowsDirection(int column, bool ascending) {
  if (!IsSortable(column)) return false;
  return column != kColumnBar || !ascending;
}

bool ClickColumn(SortState& state, int column) {
  if (!IsSortable(column)) return false;
  if (column != state.column) {
    state = {column, false};
    return true;
  }
  if (column == kColumnBar) return false;
  state.ascending = !state.ascending;
  return true;
}

ColumnLayout LoadColumnLayout(const platform::Registry& reg, std::string_view suffix) {
  ColumnLayout layout;
  std::array<int, kColumnCount> positions = layout.positions;
  for (int c = 0; c < kColumnCount; ++c) {
    std::uint32_t v = 0;
    if (ReadDwordValue(reg, ColumnName(suffix, "cl", c), v) && v < kColumnCount) {
      positions[c] = static_cast<int>(v);
    }
    if (ReadDwordValue(reg, ColumnName(suffix, "cls", c), v) && v <= 0x7FFFFFFF) {
      layout.widths[c] = static_cast<int>(v);
    }
  }
  // Two columns at one place would hide one of them: such a set is not taken at all.
  std::array<bool, kColumnCount> seen{};
  bool permutation = true;
  for (int p : positions) {
    if (seen[p]) permutation = false;
    seen[p] = true;
  }
  if (permutation) layout.positions = positions;

  std::uint32_t column = 0, dir = 0;
  if (ReadDwordValue(reg, Name("sort", suffix), column) && column < kColumnCount &&
      IsSortable(static_cast<int>(column))) {
    layout.sort = {static_cast<int>(column), false};
  }
  if (ReadDwordValue(reg, Name("sortdir", suffix), dir) && dir <= 1 &&
      AllowsDirection(layout.sort.column, dir == 1)) {
    layout.sort.ascending = dir == 1;
  }
  return layout;
}

std::int32_t SaveColumnLayout(platform::Registry& reg, const ColumnLayout& layout,
                              std::string_view suffix) {
  auto put = [&](const std::string& name, std::uint32_t v) {
    return reg.SetValue(Hive::CurrentUser, kViewKey, name, RegValue::Dword(v));
  };
  for (int c = 0; c < kColumnCount; ++c) {
    if (auto rc = put(ColumnName(suffix, "cl", c), static_cast<std::uint32_t>(layout.positions[c]))) {
      return rc;
    }
    if (layout.widths[c] >= 0) {
      if (auto rc = put(ColumnName(suffix, "cls", c), static_cast<std::uint32_t>(layout.widths[c]))) {
        return rc;
      }
    }
  }
  if (auto rc = put(Name("sort", suffix), static_cast<std::uint32_t>(layout.sort.column))) {
    return rc;
  }
  return put(Name("sortdir", suffix), layout.sort.ascending ? 1u : 0u);
}

}  // namespace qv::client
