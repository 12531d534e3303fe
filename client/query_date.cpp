#include "client/query_date.h"

#include <langinfo.h>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace qv::client {
namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool ValidCivil(const CivilDateTime& c) {
  return c.year >= 100 && c.year <= 9999 && c.month >= 1 && c.month <= 12 && c.day >= 1 &&
         c.day <= DaysInMonth(c.year, c.month) && c.hour >= 0 && c.hour < 24 && c.minute >= 0 &&
         c.minute < 60 && c.second >= 0 && c.second < 60;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What may follow the date and is dropped: a time of day such as "10:30", "10:30:15 PM".
bool IsTimeText(std::string_view s) {
  bool digit = false;
  for (char c : s) {
    if (IsDigit(c)) {
      digit = true;
    } else if (c != ':' && c != '.' && c != ' ' && c != 'a' && c != 'A' && c != 'p' &&
               c != 'P' && c != 'm' && c != 'M') {
      return false;
    }
  }
  return digit;
}

}  // namespace

std::optional<DATE> CivilToDate(const CivilDateTime& c) {
  if (!ValidCivil(c)) return std::nullopt;
  const std::int64_t days = DaysFromCivil(c.year, static_cast<unsigned>(c.month),
                                          static_cast<unsigned>(c.day));
  const double secs = c.hour * 3600.0 + c.minute * 60.0 + c.second;
  return static_cast<double>(days) + kDateUnixEpochDays + secs / kSecondsPerDay;
}

CivilDateTime DateToCivil(DATE d) {
  const double unixSeconds = std::round((d - kDateUnixEpochDays) * kSecondsPerDay);
  const auto total = static_cast<std::int64_t>(unixSeconds);
  std::int64_t days = total / 86400;
  std::int64_t rest = total % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  CivilDateTime c;
  std::int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  c.year = static_cast<int>(year);
  c.month = static_cast<int>(month);
  c.day = static_cast<int>(day);
  c.hour = static_cast<int>(rest / 3600);
  c.minute = static_cast<int>(rest % 3600 / 60);
  c.second = static_cast<int>(rest % 60);
  return c;
}

std::string DateLocale::FormatShortDate(int year, int month, int day) const {
  char buf[64];
  const char s = Separator();
  switch (Order()) {
    case DateOrder::MonthDayYear:
      std::snprintf(buf, sizeof buf, "%d%c%d%c%04d", month, s, day, s, year);
      break;
    case DateOrder::DayMonthYear:
      std::snprintf(buf, sizeof buf, "%d%c%d%c%04d", day, s, month, s, year);
      break;
    case DateOrder::YearMonthDay:
      std::snprintf(buf, sizeof buf, "%04d%c%02d%c%02d", year, s, month, s, day);
      break;
  }
  return buf;
}

bool DateOrderFromPattern(std::string_view pattern, DateOrder& order, char& separator) {
  int posY = -1, posM = -1, posD = -1;
  separator = '/';
  bool sepSeen = false;
  int field = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      char c = pattern[++i];
      if ((c == 'E' || c == 'O') && i + 1 < pattern.size()) c = pattern[++i];
      if (c == 'y' || c == 'Y' || c == 'C' || c == 'G') {
        if (posY < 0) posY = field++;
      } else if (c == 'm' || c == 'b' || c == 'B' || c == 'h') {
        if (posM < 0) posM = field++;
      } else if (c == 'd' || c == 'e') {
        if (posD < 0) posD = field++;
      } else if (c == 'F' || c == 'D' || c == 'x') {
        // ISO or American composites
        if (c == 'F') {
          order = DateOrder::YearMonthDay;
          separator = '-';
        } else {
          order = DateOrder::MonthDayYear;
          separator = '/';
        }
        return true;
      }
    } else if (!sepSeen && (pattern[i] == '/' || pattern[i] == '.' || pattern[i] == '-')) {
      separator = pattern[i];
      sepSeen = true;
    }
  }
  if (posY < 0 || posM < 0 || posD < 0) return false;
  if (posY < posM && posM < posD) {
    order = DateOrder::YearMonthDay;
  } else if (posD < posM) {
    order = DateOrder::DayMonthYear;
  } else {
    order = DateOrder::MonthDayYear;
  }
  return true;
}

void SystemDateLocale::Load() const {
  std::call_once(loaded_, [this] {
    locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (!loc) loc = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    if (!loc) return;
    const char* pattern = nl_langinfo_l(D_FMT, loc);
    DateOrder order;
    char sep;
    if (pattern && DateOrderFromPattern(pattern, order, sep)) {
      order_ = order;
      separator_ = sep;
    }
    freelocale(loc);
  });
}

std::optional<DATE> SystemDateLocale::LocalToUtc(const CivilDateTime& local) const {
  if (!ValidCivil(local)) return std::nullopt;
  std::tm tm{};
  tm.tm_year = local.year - 1900;
  tm.tm_mon = local.month - 1;
  tm.tm_mday = local.day;
  tm.tm_hour = local.hour;
  tm.tm_min = local.minute;
  tm.tm_sec = local.second;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1) && !(local.year == 1969 || local.year == 1970)) {
    return std::nullopt;
  }
  return UnixSecondsToDate(static_cast<double>(t));
}

std::optional<CivilDateTime> SystemDateLocale::UtcToLocal(DATE utc) const {
  if (!IsValidDate(utc)) return std::nullopt;
  const std::time_t t = static_cast<std::time_t>(std::llround(DateToUnixSeconds(utc)));
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return std::nullopt;
  return CivilDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                       tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

std::optional<DATE> FixedDateLocale::LocalToUtc(const CivilDateTime& local) const {
  const auto d = CivilToDate(local);
  if (!d) return std::nullopt;
  return *d - offsetMinutes_ / 1440.0;
}

std::optional<CivilDateTime> FixedDateLocale::UtcToLocal(DATE utc) const {
  if (!IsValidDate(utc)) return std::nullopt;
  return DateToCivil(utc + offsetMinutes_ / 1440.0);
}

std::optional<CivilDateTime> ReadCivilDate(std::string_view text, DateOrder order,
                                           int currentYear) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  int fields[3] = {0, 0, 0};
  std::size_t lengths[3] = {0, 0, 0};
  int count = 0;
  std::size_t i = 0;
  char sep = 0;
  while (i < text.size()) {
    if (count == 3) return std::nullopt;
    std::size_t start = i;
    while (i < text.size() && IsDigit(text[i]) && i - start < 5) {
      fields[count] = fields[count] * 10 + (text[i] - '0');
      ++i;
    }
    lengths[count] = i - start;
    if (lengths[count] == 0 || lengths[count] > 4) return std::nullopt;
    ++count;
    if (i == text.size()) break;
    const char c = text[i];
    if (c == ' ' || c == 'T' || c == 't') {
      if (!IsTimeText(text.substr(i + 1))) return std::nullopt;
      break;  // the time of day is dropped
    }
    if (c != '/' && c != '-' && c != '.') return std::nullopt;
    if (sep && c != sep) return std::nullopt;
    sep = c;
    ++i;
    if (i == text.size()) return std::nullopt;
  }
  if (count < 2) return std::nullopt;
  auto fullYear = [](int y, std::size_t len) {
    if (len <= 2) return y < 30 ? 2000 + y : 1900 + y;
    return y;
  };
  CivilDateTime c;
  if (count == 2) {
    if (order == DateOrder::DayMonthYear) {
      c.day = fields[0];
      c.month = fields[1];
    } else {
      c.month = fields[0];
      c.day = fields[1];
    }
    c.year = currentYear;
  } else if (lengths[0] >= 3 || order == DateOrder::YearMonthDay) {
    c.year = fullYear(fields[0], lengths[0]);
    c.month = fields[1];
    c.day = fields[2];
  } else if (order == DateOrder::DayMonthYear) {
    c.day = fields[0];
    c.month = fields[1];
    c.year = fullYear(fields[2], lengths[2]);
  } else {
    c.month = fields[0];
    c.day = fields[1];
    c.year = fullYear(fields[2], lengths[2]);
  }
  if (!ValidCivil(c)) return std::nullopt;
  return c;
}

std::optional<DATE> ReadQueryDate(std::string_view text, bool endOfDay, const DateLocale& locale,
                                  DATE now) {
  if (text.empty()) return std::nullopt;
  int year = 2000;
  if (auto local = locale.UtcToLocal(now)) year = local->year;
  auto c = ReadCivilDate(text, locale.Order(), year);
  if (!c) return std::nullopt;
  if (endOfDay) {
    c->hour = 23;
    c->minute = 59;
    c->second = 59;
  }
  return locale.LocalToUtc(*c);
}

std::string FormatConditionDate(DATE utc) {
  const CivilDateTime c = DateToCivil(utc);
  char buf[64];
  std::snprintf(buf, sizeof buf, "'%d/%02d/%02d %02d:%02d:%02d'", c.year, c.month, c.day, c.hour,
                c.minute, c.second);
  return buf;
}

}  // namespace qv::client
