#include "common/clock.h"

#include <time.h>

namespace qv {

FileTime SystemClock::Now() const {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return TimespecToFileTime(ts);
}

std::chrono::nanoseconds SystemClock::Monotonic() const {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

std::uint32_t SystemClock::Tick() const {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Monotonic()).count();
  return static_cast<std::uint32_t>(ms);  // wraps like the system's tick count
}

void ManualClock::SetNowDate(DATE d) {
  if (auto ft = DateToFileTime(d)) now_.store(*ft);
}

void ManualClock::Advance(std::chrono::milliseconds d) {
  now_.fetch_add(static_cast<FileTime>(d.count()) * 10'000);
  mono_.fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count());
  tick_.fetch_add(static_cast<std::uint32_t>(d.count()));
}

}  // namespace qv
