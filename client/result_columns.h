#pragma once
// The result list's six columns: which can sort and in which directions, what a header click
// does, and the column layout kept under HKEY_CURRENT_USER\Software\Quillon\Vesper\View.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "client/messages.h"
#include "platform/registry/registry.h"

namespace qv::client {

inline constexpr int kColumnCount = 6;
inline constexpr int kColumnName = 0;
inline constexpr int kColumnLocation = 1;
inline constexpr int kColumnBar = 2;
inline constexpr int kColumnDate = 3;
inline constexpr int kColumnWorkingTime = 4;
inline constexpr int kColumnVisits = 5;

inline constexpr std::array<std::uint32_t, kColumnCount> kColumnHeaders = {
    kMsgColumnName, kMsgColumnLocation, kMsgColumnBar,
    kMsgColumnDate, kMsgColumnWorkingTime, kMsgColumnVisits};

inline constexpr std::string_view kViewKey = "Software\\Quillon\\Vesper\\View";
// The name suffix of the search result list: its values are scl0.., scls0.., sorts, sortdirs.
inline constexpr std::string_view kResultListSuffix = "s";

bool IsSortable(int column);
// The bar column sorts only descending; date, working time and visits both ways.
bool AllowsDirection(int column, bool ascending);

struct SortState {
  int column = kColumnBar;
  bool ascending = false;
  friend bool operator==(const SortState&, const SortState&) = default;
};

// A header click: another sortable column starts descending, the same column toggles its
// direction where both are allowed. False when nothing changes (the search need not run again).
bool ClickColumn(SortState& state, int column);

struct ColumnLayout {
  std::array<int, kColumnCount> positions{0, 1, 2, 3, 4, 5};  // display position per column
  std::array<int, kColumnCount> widths{-1, -1, -1, -1, -1, -1};  // -1: the default width
  SortState sort;
  friend bool operator==(const ColumnLayout&, const ColumnLayout&) = default;
};

// Reads the stored layout; values out of range are ignored. Positions are taken only when
// together they place every column exactly once.
ColumnLayout LoadColumnLayout(const platform::Registry& reg,
                              std::string_view suffix = kResultListSuffix);
std::int32_t SaveColumnLayout(platform::Registry& reg, const ColumnLayout& layout,
                              std::string_view suffix = kResultListSuffix);

}  // namespace qv::client
