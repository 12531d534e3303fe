#include "common/oledate.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qv {

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

namespace {

bool Digits(std::string_view s, std::size_t pos, std::size_t n, int& out) {
  if (pos + n > s.size()) return false;
  out = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = s[pos + i];
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

}  // namespace

bool IsValidDate(DATE d) { return std::isfinite(d) && d >= kMinDate && d <= kMaxDate; }

DATE UnixSecondsToDate(double unixSeconds) {
  return unixSeconds / kSecondsPerDay + kDateUnixEpochDays;
}

double DateToUnixSeconds(DATE d) { return (d - kDateUnixEpochDays) * kSecondsPerDay; }

std::optional<FileTime> DateToFileTime(DATE d) {
  if (!IsValidDate(d)) return std::nullopt;
  const double secs = DateToUnixSeconds(d) + static_cast<double>(kFileTimeUnixEpochSeconds);
  if (secs < 0) return std::nullopt;
  return static_cast<FileTime>(std::llround(secs * kFileTimeTicksPerSecond));
}

DATE FileTimeToDate(FileTime ft) {
  const double secs = static_cast<double>(ft) / kFileTimeTicksPerSecond -
                      static_cast<double>(kFileTimeUnixEpochSeconds);
  return UnixSecondsToDate(secs);
}

FileTime TimespecToFileTime(const timespec& ts) {
  const std::int64_t secs = static_cast<std::int64_t>(ts.tv_sec) + kFileTimeUnixEpochSeconds;
  if (secs < 0) return 0;
  return static_cast<FileTime>(secs) * kFileTimeTicksPerSecond +
         static_cast<FileTime>(ts.tv_nsec / 100);
}

timespec FileTimeToTimespec(FileTime ft) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(ft / kFileTimeTicksPerSecond) -
                                  kFileTimeUnixEpochSeconds);
  ts.tv_nsec = static_cast<long>((ft % kFileTimeTicksPerSecond) * 100);
  return ts;
}

std::string FormatIsoDate(DATE d) {
  if (!IsValidDate(d)) return "invalid";
  // Round to whole milliseconds first so that 12:00:00 does not print as 11:59:59.999.
  const std::int64_t ms = std::llround(DateToUnixSeconds(d) * 1000.0);
  std::int64_t secs = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
  const int frac = static_cast<int>(ms - secs * 1000);
  std::int64_t days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
  std::int64_t rem = secs - days * 86400;
  std::int64_t y;
  unsigned m, dd;
  CivilFromDays(days, y, m, dd);
  char buf[96];
  if (frac != 0) {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03dZ",
                  static_cast<long long>(y), m, dd, static_cast<long long>(rem / 3600),
                  static_cast<long long>(rem / 60 % 60), static_cast<long long>(rem % 60), frac);
  } else {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(y), m, dd, static_cast<long long>(rem / 3600),
                  static_cast<long long>(rem / 60 % 60), static_cast<long long>(rem % 60));
  }
  return buf;
}

std::optional<DATE> ParseIsoDate(std::string_view s) {
  int y, mo, d;
  if (!Digits(s, 0, 4, y) || s.size() < 10 || s[4] != '-' || !Digits(s, 5, 2, mo) || s[7] != '-' ||
      !Digits(s, 8, 2, d)) {
    return std::nullopt;
  }
  if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > 31) return std::nullopt;
  static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > kMonthDays[mo - 1] || (mo == 2 && d == 29 && !leap)) return std::nullopt;
  int h = 0, mi = 0, sec = 0;
  double frac = 0;
  std::size_t pos = 10;
  if (pos < s.size() && (s[pos] == 'T' || s[pos] == ' ')) {
    if (!Digits(s, pos + 1, 2, h) || pos + 3 >= s.size() || s[pos + 3] != ':' ||
        !Digits(s, pos + 4, 2, mi)) {
      return std::nullopt;
    }
    pos += 6;
    if (pos < s.size() && s[pos] == ':') {
      if (!Digits(s, pos + 1, 2, sec)) return std::nullopt;
      pos += 3;
      if (pos < s.size() && s[pos] == '.') {
        ++pos;
        double scale = 0.1;
        const std::size_t start = pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
          frac += (s[pos] - '0') * scale;
          scale /= 10;
          ++pos;
        }
        if (pos == start) return std::nullopt;
      }
    }
    if (h > 23 || mi > 59 || sec > 59) return std::nullopt;
  }
  int offset = 0;
  if (pos < s.size()) {
    if (s[pos] == 'Z' && pos + 1 == s.size()) {
      ++pos;
    } else if ((s[pos] == '+' || s[pos] == '-') && pos + 6 == s.size() && s[pos + 3] == ':') {
      int oh, om;
      if (!Digits(s, pos + 1, 2, oh) || !Digits(s, pos + 4, 2, om) || oh > 23 || om > 59) {
        return std::nullopt;
      }
      offset = (oh * 3600 + om * 60) * (s[pos] == '+' ? 1 : -1);
      pos = s.size();
    } else {
      return std::nullopt;
    }
  }
  const double unix = static_cast<double>(DaysFromCivil(y, mo, d)) * 86400.0 + h * 3600.0 +
                      mi * 60.0 + sec + frac - offset;
  return UnixSecondsToDate(unix);
}

CivilDay LocalDayOf(DATE utc) {
  // Round to the millisecond first: a date a hair below midnight is midnight.
  const double unix = std::floor(std::round(DateToUnixSeconds(utc) * 1000.0) / 1000.0);
  const time_t t = static_cast<time_t>(unix);
  tm local{};
  localtime_r(&t, &local);
  return CivilDay{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

}  // namespace qv
