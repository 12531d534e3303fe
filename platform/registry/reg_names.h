#pragma once
// Names in the registry: the limits Windows puts on them, splitting key paths and checking
// key and value names. Shared by the hive file parser and the store so that whatever one
// accepts the other can hold.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qv::platform {

inline constexpr std::size_t kMaxKeyNameChars = 255;      // one key path component, UTF-16 units
inline constexpr std::size_t kMaxValueNameChars = 16383;  // UTF-16 units
inline constexpr std::size_t kMaxKeyDepth = 512;          // levels below the hive's root
// Our own bounds, so that a hostile hive file cannot make a reader allocate without end (a
// file of tiny keys takes some 30 times its size in memory). Configuration is far smaller.
inline constexpr std::size_t kMaxValueBytes = 1u << 20;   // data of one value as stored
inline constexpr std::size_t kMaxHiveBytes = 16u << 20;   // one hive file

inline constexpr const char* kValueTooLarge = "value data larger than 1 MiB";
inline constexpr const char* kHiveTooLarge = "the file is larger than 16 MiB";

bool IsValidUtf8(std::string_view s);
// UTF-16 code units of valid UTF-8 text.
std::size_t Utf16Length(std::string_view utf8);

// 0; ERROR_INVALID_PARAMETER for an empty name, a control character, a backslash or invalid
// UTF-8; ERROR_FILENAME_EXCED_RANGE for a name over the limit.
std::int32_t CheckKeyName(std::string_view name);
// The empty name (the key's default value) is valid; backslashes are allowed.
std::int32_t CheckValueName(std::string_view name);

// Splits "Software\Quillon\Vesper" into its components and checks each; "" is the hive's
// root and gives none. Empty components ("a\\b", "\a", "a\") are ERROR_INVALID_PARAMETER,
// more than kMaxKeyDepth levels ERROR_FILENAME_EXCED_RANGE.
std::int32_t SplitKeyPath(std::string_view path, std::vector<std::string_view>& out);

}  // namespace qv::platform
