#pragma once
// Reading configuration: a missing value, one of the wrong type or one out of range
// silently yields the documented default.
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace qv {

inline constexpr std::string_view kVesperKey = "Software\\Quillon\\Vesper";
inline constexpr std::string_view kFilesKey = "Software\\Quillon\\Vesper\\Files";

std::uint32_t ReadDword(const platform::Registry& reg, platform::Hive hive, std::string_view key,
                        std::string_view name, std::uint32_t def, std::uint32_t min = 0,
                        std::uint32_t max = std::numeric_limits<std::uint32_t>::max());
bool ReadFlag(const platform::Registry& reg, platform::Hive hive, std::string_view key,
              std::string_view name);
// REG_SZ or REG_EXPAND_SZ; longer than maxChars (UTF-16 units) counts as out of range.
std::string ReadString(const platform::Registry& reg, platform::Hive hive, std::string_view key,
                       std::string_view name, std::string_view def,
                       std::size_t maxChars = std::numeric_limits<std::size_t>::max());
std::vector<std::string> ReadMultiString(const platform::Registry& reg, platform::Hive hive,
                                         std::string_view key, std::string_view name);

}  // namespace qv
