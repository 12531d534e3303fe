#include "client/search_params.h"

#include "context/registry_values.h"

namespace qv::client {
namespace {

void Put32(std::uint8_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Get32(const std::uint8_t* at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(at[i]) << (8 * i);
  return v;
}

}  // namespace

std::array<std::uint8_t, kSearchParamsSize> EncodeSearchParams(const SearchParams& p) {
  std::array<std::uint8_t, kSearchParamsSize> b{};
  b[0] = p.searchFiles;
  b[1] = p.searchWebHistory;
  b[2] = p.searchEmail;
  b[3] = p.visitedOnly;
  b[4] = p.includeSystemFolders;
  Put32(&b[8], p.sortOrder);
  Put32(&b[12], p.sortAscending);
  Put32(&b[16], p.selectRow);
  return b;
}

std::optional<SearchParams> DecodeSearchParams(std::span<const std::uint8_t> b) {
  if (b.size() != kSearchParamsSize) return std::nullopt;
  if (!b[0] && !b[1] && !b[2]) return std::nullopt;
  SearchParams p;
  p.searchFiles = b[0] != 0;
  p.searchWebHistory = b[1] != 0;
  p.searchEmail = b[2] != 0;
  p.visitedOnly = b[3] != 0;
  p.includeSystemFolders = b[4] != 0;
  p.sortOrder = Get32(&b[8]);
  p.sortAscending = Get32(&b[12]);
  p.selectRow = Get32(&b[16]);
  return p;
}

SearchParams LoadSearchParams(const platform::Registry& reg, bool haveMailStores) {
  platform::RegValue v;
  if (reg.GetValue(platform::Hive::CurrentUser, kVesperKey, kSearchParamsValue, v) == 0 &&
      v.type == platform::RegType::Binary) {
    if (auto p = DecodeSearchParams(v.binary)) {
      if (!haveMailStores) p->searchEmail = false;  // the mail box is hidden and cleared
      if (p->AnyCatalog()) return *p;
    }
  }
  SearchParams p;
  p.searchEmail = haveMailStores;
  return p;
}

std::int32_t SaveSearchParams(platform::Registry& reg, const SearchParams& p) {
  const auto b = EncodeSearchParams(p);
  return reg.SetValue(platform::Hive::CurrentUser, kVesperKey, kSearchParamsValue,
                      platform::RegValue::Binary({b.begin(), b.end()}));
}

}  // namespace qv::client
