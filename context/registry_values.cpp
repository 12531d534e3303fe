#include "context/registry_values.h"

#include "common/utf.h"

namespace qv {

std::uint32_t ReadDword(const platform::Registry& reg, platform::Hive hive, std::string_view key,
                        std::string_view name, std::uint32_t def, std::uint32_t min,
                        std::uint32_t max) {
  platform::RegValue v;
  if (reg.GetValue(hive, key, name, v) != 0 || v.type != platform::RegType::Dword) return def;
  if (v.dword < min || v.dword > max) return def;
  return v.dword;
}

bool ReadFlag(const platform::Registry& reg, platform::Hive hive, std::string_view key,
              std::string_view name) {
  return ReadDword(reg, hive, key, name, 0) != 0;
}

std::string ReadString(const platform::Registry& reg, platform::Hive hive, std::string_view key,
                       std::string_view name, std::string_view def, std::size_t maxChars) {
  platform::RegValue v;
  if (reg.GetValue(hive, key, name, v) != 0 ||
      (v.type != platform::RegType::Sz && v.type != platform::RegType::ExpandSz)) {
    return std::string(def);
  }
  if (Utf8ToUtf16(v.text).size() > maxChars) return std::string(def);
  return v.text;
}

std::vector<std::string> ReadMultiString(const platform::Registry& reg, platform::Hive hive,
                                         std::string_view key, std::string_view name) {
  platform::RegValue v;
  if (reg.GetValue(hive, key, name, v) != 0 || v.type != platform::RegType::MultiSz) return {};
  return v.strings;
}

}  // namespace qv
