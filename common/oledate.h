#pragma once
// Time as the system exchanges it: OLE Automation dates (DATE, days since 30 December 1899,
// UTC, 0.0 = "not set") and FILETIMEs (100 ns units since 1 January 1601, UTC).
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

using DATE = double;
using FileTime = std::uint64_t;

inline constexpr DATE kDateNotSet = 0.0;
inline constexpr double kSecondsPerDay = 86400.0;
inline constexpr std::uint64_t kFileTimeTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01, and days from 1899-12-30 to 1970-01-01.
inline constexpr std::int64_t kFileTimeUnixEpochSeconds = 11'644'473'600;
inline constexpr double kDateUnixEpochDays = 25569.0;
// Dates outside [1 Jan 100, 31 Dec 9999] are not representable, as with variant time.
inline constexpr DATE kMinDate = -657434.0;
inline constexpr DATE kMaxDate = 2958465.99999999;

// True for a finite DATE in the representable range.
bool IsValidDate(DATE d);

DATE UnixSecondsToDate(double unixSeconds);
double DateToUnixSeconds(DATE d);

// Whole-tick conversions; a date before 1601 or not valid gives nullopt.
std::optional<FileTime> DateToFileTime(DATE d);
DATE FileTimeToDate(FileTime ft);

FileTime TimespecToFileTime(const timespec& ts);
timespec FileTimeToTimespec(FileTime ft);

// ISO 8601 in UTC: "2026-12-07T13:08:00Z" (fractions of a second shown only when present).
std::string FormatIsoDate(DATE d);
// Accepts "YYYY-MM-DD", "YYYY-MM-DDTHH:MM[:SS[.fff]]" with an optional "Z" or "+HH:MM" offset;
// without an offset the time is UTC.
std::optional<DATE> ParseIsoDate(std::string_view text);

// Calendar day of a date in local time (for the journal's day folders), as YYYYMMDD parts.
struct CivilDay {
  int year = 0, month = 0, day = 0;
};
CivilDay LocalDayOf(DATE utc);

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar, and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d);
void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d);

}  // namespace qv
