#pragma once
// SearchParams: the search options of one search (which catalogs, visited-only, system
// folders, the sort and the row to select), kept as a 20-byte record in the registry value
// SearchParams (REG_BINARY) under HKEY_CURRENT_USER\Software\Quillon\Vesper.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "common/hresult.h"
#include "platform/registry/registry.h"

namespace qv::client {

inline constexpr std::string_view kSearchParamsValue = "SearchParams";
inline constexpr std::size_t kSearchParamsSize = 20;

// Sort codes; the column index of the result list is the same number.
enum SortOrder : std::uint32_t {
  kSortActivation = 2,
  kSortDate = 3,
  kSortWorkingTime = 4,
  kSortVisits = 5,
};

struct SearchParams {
  bool searchFiles = true;
  bool searchWebHistory = true;
  bool searchEmail = false;
  bool visitedOnly = false;
  bool includeSystemFolders = false;
  std::uint32_t sortOrder = kSortActivation;  // any other value sorts like activation
  std::uint32_t sortAscending = 0;            // 0 descending
  std::uint32_t selectRow = 0;

  bool AnyCatalog() const { return searchFiles || searchWebHistory || searchEmail; }
  friend bool operator==(const SearchParams&, const SearchParams&) = default;
};

// Little-endian layout: bytes 0-4 the five flags, 5-7 zero, then sortOrder, sortAscending and
// selectRow as 32-bit values.
std::array<std::uint8_t, kSearchParamsSize> EncodeSearchParams(const SearchParams& p);
// nullopt unless exactly 20 bytes with at least one catalog byte set. A flag byte counts as
// set when it is not zero.
std::optional<SearchParams> DecodeSearchParams(std::span<const std::uint8_t> bytes);

// The stored options, or the defaults (files and web history on, mail on when the user has
// mail stores, visited-only off) when no usable value is stored.
SearchParams LoadSearchParams(const platform::Registry& reg, bool haveMailStores);
// Written when the search pane goes away.
std::int32_t SaveSearchParams(platform::Registry& reg, const SearchParams& p);

}  // namespace qv::client
