#pragma once
// Where the journal keeps its files: the journal root under the local application data,
// one folder per local day (year\month\day without leading zeros), the day's data file and
// one marker file per entry named after the entry's GUID.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/guid.h"
#include "common/hresult.h"
#include "common/oledate.h"

namespace qv::journal {

inline constexpr std::string_view kDayFileName = "Journal.q6d";
inline constexpr std::string_view kMarkerExtension = ".q6j";
// Paths handed to the journal are refused, not cut, beyond what the system can open.
inline constexpr std::size_t kMaxPathBytes = 4095;

// <root>/LocalAppData/Quillon/Journal
std::filesystem::path JournalRoot(const std::filesystem::path& installRoot);

// "2005\7\26": the day's name in notifications and in the journal view.
std::string DayKey(const CivilDay& day);
// The day's folder: the journal root, then year, month and day as three levels.
std::filesystem::path DayFolder(const std::filesystem::path& journalRoot, const CivilDay& day);
// Parses "2005\7\26", "2005/7/26" or "2005-07-26"; false for anything else or a date that
// does not exist.
bool ParseDay(std::string_view text, CivilDay& out);

// "{8-4-4-4-12}.q6j" with upper-case hex digits.
std::string MarkerName(const Guid& entry);

// From the path of an entry marker: the entry's GUID and the day file beside it.
// S_FALSE when the file name has no extension or its stem is not a GUID in registry form;
// E_INVALIDARG for a path with a NUL character; the HRESULT of ERROR_FILENAME_EXCED_RANGE for
// one longer than kMaxPathBytes.
HRESULT ParseMarkerPath(std::string_view path, Guid& entry, std::filesystem::path& dayFile);

}  // namespace qv::journal
