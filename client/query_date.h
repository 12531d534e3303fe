#pragma once
// Dates typed into a query ("sdate:1/2/2004"): read in the user's locale, whose day/month
// order decides what 1/2/2004 means, and turned into UTC for the catalog condition. The
// locale is an object so that tests can fix the order and the time zone.
#include <locale.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "common/oledate.h"

namespace qv::client {

enum class DateOrder { MonthDayYear, DayMonthYear, YearMonthDay };

struct CivilDateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  friend bool operator==(const CivilDateTime&, const CivilDateTime&) = default;
};

class DateLocale {
 public:
  virtual ~DateLocale() = default;
  virtual DateOrder Order() const = 0;
  // The separator of the short date form ('/', '.', '-').
  virtual char Separator() const = 0;
  // Local wall time to UTC; nullopt when the time does not exist or is out of range.
  virtual std::optional<DATE> LocalToUtc(const CivilDateTime& local) const = 0;
  virtual std::optional<CivilDateTime> UtcToLocal(DATE utc) const = 0;

  // The short date form in this locale's order, with a four-digit year.
  std::string FormatShortDate(int year, int month, int day) const;
};

// The user's locale (LC_TIME) and the process's time zone. The locale is read when a date
// is first written or read: loading it cost a one-off search that shows no date a good
// part of a millisecond.
class SystemDateLocale final : public DateLocale {
 public:
  DateOrder Order() const override {
    Load();
    return order_;
  }
  char Separator() const override {
    Load();
    return separator_;
  }
  std::optional<DATE> LocalToUtc(const CivilDateTime& local) const override;
  std::optional<CivilDateTime> UtcToLocal(DATE utc) const override;

 private:
  void Load() const;
  mutable std::once_flag loaded_;
  mutable DateOrder order_ = DateOrder::MonthDayYear;
  mutable char separator_ = '/';
};

// A fixed order and a fixed offset from UTC, for tests.
class FixedDateLocale final : public DateLocale {
 public:
  FixedDateLocale(DateOrder order, char separator, int utcOffsetMinutes)
      : order_(order), separator_(separator), offsetMinutes_(utcOffsetMinutes) {}
  DateOrder Order() const override { return order_; }
  char Separator() const override { return separator_; }
  std::optional<DATE> LocalToUtc(const CivilDateTime& local) const override;
  std::optional<CivilDateTime> UtcToLocal(DATE utc) const override;

 private:
  DateOrder order_;
  char separator_;
  int offsetMinutes_;
};

// The date order and separator that a strftime date pattern ("%m/%d/%y", "%d.%m.%Y") uses.
bool DateOrderFromPattern(std::string_view pattern, DateOrder& order, char& separator);

// Calendar helpers on DATE (UTC, whole seconds).
std::optional<DATE> CivilToDate(const CivilDateTime& c);
CivilDateTime DateToCivil(DATE d);

// Reads the calendar day of a date text: three numbers in the locale's order (a first number
// of four digits is always the year), or two numbers (month and day in the locale's order) in
// `currentYear`. Two-digit years below 30 are 20xx, others 19xx. A time of day after a blank
// or 'T' is dropped. Separators: '/', '-', '.'. nullopt when the text is no date.
std::optional<CivilDateTime> ReadCivilDate(std::string_view text, DateOrder order,
                                           int currentYear);

// The bound a date token sets, in UTC: a start date is the local day's 00:00:00, an end date
// its 23:59:59. nullopt when the text is empty or cannot be read.
std::optional<DATE> ReadQueryDate(std::string_view text, bool endOfDay, const DateLocale& locale,
                                  DATE now);

// "'2004/01/02 05:00:00'" as the catalog condition writes a UTC date.
std::string FormatConditionDate(DATE utc);

}  // namespace qv::client
