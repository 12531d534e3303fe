#pragma once
// Text of property-set strings and dictionary names in the set's code page: UTF-16LE for
// code page 1200 (bytes that are not UTF-8, as in some file names, kept reversibly as lone
// surrogates U+DC80..U+DCFF), Windows-1252 and Latin-1 converted, every other code page (UTF-8 among
// them) kept as the bytes themselves.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv::platform {

// Bytes per character unit: 2 for code page 1200, else 1.
std::size_t CodePageUnitSize(std::uint16_t codePage);
// The text in the code page, without terminator, ending at the first NUL of `utf8`.
// Characters a single-byte code page lacks become '?'.
std::vector<std::uint8_t> EncodeCodePageText(std::uint16_t codePage, std::string_view utf8);
// The text up to the first NUL unit (or all of `bytes` when there is none), as UTF-8.
std::string DecodeCodePageText(std::uint16_t codePage, std::span<const std::uint8_t> bytes);

}  // namespace qv::platform
