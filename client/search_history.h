#pragma once
// The search history: the query texts the user searched for, at most 64, kept in the
// registry under SearchHistory (the text, named "0x" and the text's hash in lower-case hex)
// and SearchHistory\Sequence (the time of the last use under the same name, an 8-byte
// FILETIME). Searching a text again refreshes its time instead of adding an entry.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "common/hresult.h"
#include "platform/registry/registry.h"

namespace qv::client {

inline constexpr std::size_t kMaxHistoryEntries = 64;
// Only this many UTF-16 characters of a query count towards its name.
inline constexpr std::size_t kHistoryHashChars = 2084;
inline constexpr std::string_view kHistoryKey = "Software\\Quillon\\Vesper\\SearchHistory";
inline constexpr std::string_view kHistorySequenceKey =
    "Software\\Quillon\\Vesper\\SearchHistory\\Sequence";
inline constexpr std::size_t kHistoryTimeBytes = 8;

// The 32-bit hash of the query's first kHistoryHashChars UTF-16LE characters (FNV-1a over
// their bytes): the same text always gets the same number.
std::uint32_t HistoryHash(std::string_view query);
// "0x" and the hash in lower-case hex.
std::string HistoryValueName(std::string_view query);
// A value name read back as a number: hex digits with an optional "0x"/"0X" prefix, at most
// eight of them. nullopt for anything else.
std::optional<std::uint32_t> ParseHistoryName(std::string_view name);

struct HistoryEntry {
  std::string name;  // the value name in both keys
  std::string query;
  FileTime lastUse = 0;
  friend bool operator==(const HistoryEntry&, const HistoryEntry&) = default;
};

using RegValues = std::vector<std::pair<std::string, platform::RegValue>>;

// What the two keys hold: the usable entries (a text value and an 8-byte time under a
// readable name), newest first, and the names of Sequence values that are of no use (wrong
// type or size, a name that is not a number, or no text beside them).
struct HistoryScan {
  std::vector<HistoryEntry> entries;
  std::vector<std::string> unusable;
};
HistoryScan ScanHistory(const RegValues& texts, const RegValues& times);

class SearchHistory {
 public:
  SearchHistory(platform::Registry& registry, const Clock& clock)
      : registry_(registry), clock_(clock) {}

  // Remembers a query the user starts a search with. S_FALSE, storing nothing, for an empty
  // text or a search-key list; E_INVALIDARG for text that is not UTF-8; else the registry's
  // error as an HRESULT (the search runs anyway). Afterwards the history holds at most
  // kMaxHistoryEntries entries (the oldest go) and no unusable time values.
  HRESULT Remember(std::string_view query, bool searchKeyMode);
  // The usable entries, newest first (at most kMaxHistoryEntries).
  std::vector<HistoryEntry> Entries() const;
  // Deletes the whole history (the caller has asked the user first).
  HRESULT Clear();

 private:
  HRESULT Trim();

  platform::Registry& registry_;
  const Clock& clock_;
};

}  // namespace qv::client
