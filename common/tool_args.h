#pragma once
// What the command-line tools share when they read their arguments: numbers and paths that
// are checked instead of thrown at, and file names printed so they cannot pass for output.
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// A whole decimal number from 0 to `max`: digits only, no sign, blanks or base prefix.
std::optional<std::uint64_t> ParseWholeNumber(
    std::string_view s, std::uint64_t max = std::numeric_limits<std::uint64_t>::max());

// The absolute, normalised form of a path argument; nullopt for an empty argument, one
// holding a NUL, or when the current folder is gone.
std::optional<std::filesystem::path> AbsolutePathArg(std::string_view s);

// A text (usually a file name) for output one item per line or field: a backslash becomes
// "\\" and every control character "\xNN", so a name can never start a line or field of its
// own. Everything else, bytes that are not UTF-8 included, is kept as it is.
std::string EscapeControls(std::string_view s);
// Whether `s` holds a control character (U+0000..U+001F or DEL).
bool HasControlCharacter(std::string_view s);

}  // namespace qv
