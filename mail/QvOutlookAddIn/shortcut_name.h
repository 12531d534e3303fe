#pragma once
// Where a mail item's shortcut lives: "<bucket>/<KEY>.q6e" below its store's shortcut folder.
// KEY is the item key in upper-case hexadecimal; the bucket is the one-byte URL hash of KEY,
// two lower-case hexadecimal digits, which spreads the shortcuts over 256 folders.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"

namespace qv::mail::addin {

inline constexpr std::string_view kShortcutExtension = ".q6e";
// Item keys longer than this are refused: the name would no longer fit the indexer's limits.
inline constexpr std::size_t kMaxItemKeyBytes = 63;

std::string HexUpper(std::span<const std::uint8_t> bytes);
// Hexadecimal text (either case) into bytes. E_INVALIDARG for an odd digit count, a character
// that is not a digit, or more than `maxBytes` bytes: an over-long text is refused, never cut,
// since a cut key names another item.
HRESULT DecodeHex(std::string_view text, std::size_t maxBytes, std::vector<std::uint8_t>& out);

// "01ABFF.q6e" and "3c/01ABFF.q6e" (bucket folder / name); E_INVALIDARG for an empty key or
// one of 64 bytes or more.
HRESULT ShortcutName(std::span<const std::uint8_t> key, std::string& name);
HRESULT ShortcutBucket(std::span<const std::uint8_t> key, std::string& bucket);
HRESULT ShortcutPath(const std::filesystem::path& directory, std::span<const std::uint8_t> key,
                     std::filesystem::path& out);

}  // namespace qv::mail::addin
