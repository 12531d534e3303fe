#pragma once
// The rank update utility's arguments, as the ranking service's job passes them: the file
// name in double quotes, ten numbers in hex without prefix (the two dates as the high and low
// halves of their bit patterns) and optionally the search key. The reader is strict: a
// number has one to eight hex digits and nothing else, a quote pair is stripped only when the
// argument both starts and ends with a quote, and a date must be a real calendar date.
// The arguments arrive already split: the job keeps an argument vector and the kernel hands
// it over unchanged, so no command-line text is split again here; splitting at blanks and
// quotes would break the names that hold them, which Linux allows.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/hresult.h"
#include "common/oledate.h"

namespace qv::update {

// The program name, the file, ten numbers; a twelfth argument is the search key, and any
// after it are ignored.
inline constexpr std::size_t kMinArgs = 12;
inline constexpr std::size_t kSearchKeyArg = 12;
// Names of this many characters (UTF-16 units) or more are refused.
inline constexpr std::size_t kMaxNameChars = 260;
inline constexpr std::size_t kMaxHexDigits = 8;

struct UpdateArgs {
  std::string file;
  std::uint32_t units = 0;
  std::uint32_t visits = 0;
  DATE start = 0.0;
  DATE finish = 0.0;
  std::uint32_t workingTime = 0;
  std::uint32_t activeTime = 0;
  std::uint32_t scope = 0;
  std::uint32_t retry = 0;
  std::optional<std::string> searchKey;  // absent: a null key
  friend bool operator==(const UpdateArgs&, const UpdateArgs&) = default;
};

// One to eight hex digits, either case; no sign, blank or "0x".
std::optional<std::uint32_t> ParseHexArg(std::string_view arg);
// A name argument: a surrounding quote pair stripped, then 1 to 259 characters.
std::optional<std::string> ParseNameArg(std::string_view arg);
// The date from its two halves; nullopt for 0.0 or anything that is no calendar date.
std::optional<DATE> DateFromHalves(std::uint32_t high, std::uint32_t low);

// All arguments, args[0] being the program name: S_OK, or E_INVALIDARG for too few arguments,
// a bad number, a zero or bad date, a retry of 0, or a name or key of bad length.
HRESULT ParseUpdateArgs(std::span<const std::string_view> args, UpdateArgs& out);

}  // namespace qv::update
