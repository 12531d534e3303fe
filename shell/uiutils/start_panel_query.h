#pragma once
// The start panel's side of the search client's command line: the five search options it
// keeps in the first bytes of SearchParams, and the "/q" parameters it builds from them and
// the typed text.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace qv::uiutils {

// SearchParams holds exactly this many bytes; the panel owns the first five and keeps the
// rest (the search client's own settings) as it found them.
inline constexpr std::size_t kSearchParamsBytes = 20;
// Text this long (in characters) or longer is not handed on.
inline constexpr std::size_t kMaxSearchText = 2084;
// The search history offered for completion: at most this many strings, each at most
// kMaxSearchText - 1 characters.
inline constexpr std::size_t kMaxHistoryStrings = 64;
inline constexpr std::string_view kSearchHistoryKey = "Software\\Quillon\\Vesper\\SearchHistory";

struct StartPanelOptions {
  bool files = true;
  bool webHistory = true;
  bool email = false;
  bool visitedOnly = false;           // "&exn=1": only items the user ranked
  bool includeSystemFolders = false;  // "&sys=1"
  // The whole stored value, written back with the five option bytes replaced.
  std::array<std::uint8_t, kSearchParamsBytes> raw{};
};

// Whether the mail integration is present: the mail client's key, the add-in's store class
// and at least one mail profile of the user.
bool MailAvailable(const platform::Registry& reg);

// The stored options; the defaults (files and web history on, e-mail when mail is
// available, other bytes 0) when the value is missing or not exactly 20 binary bytes.
StartPanelOptions LoadStartPanelOptions(const platform::Registry& reg, bool mailAvailable);
// Writes all 20 bytes back; a Win32 error code, 0 on success.
std::int32_t SaveStartPanelOptions(platform::Registry& reg, const StartPanelOptions& o);

// Every byte but letters, digits and "-._~" as %XX (upper-case hex), so the text can never
// start another parameter of the command line. nullopt for text that is not UTF-8.
std::optional<std::string> UrlEscape(std::string_view text);

// "&ct=" and the chosen content types, "&exn=1", "&sys=1", then "&q=" and the escaped text
// trimmed of blanks, tabs, CR and LF. Text of kMaxSearchText characters or more, or text that
// cannot be escaped, counts as empty.
std::string BuildStartPanelQuery(const StartPanelOptions& o, std::string_view text);

// The search history for completion, in stored order: values named "0x" and hex digits.
std::vector<std::string> ReadSearchHistory(const platform::Registry& reg);

}  // namespace qv::uiutils
