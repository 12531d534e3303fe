#pragma once
// Every read of the time goes through a Clock, so tests can set it.
#include <atomic>
#include <chrono>
#include <cstdint>

#include "common/oledate.h"

namespace qv {

class Clock {
 public:
  virtual ~Clock() = default;
  // Wall time, UTC, as a FILETIME.
  virtual FileTime Now() const = 0;
  // Monotonic time for intervals.
  virtual std::chrono::nanoseconds Monotonic() const = 0;
  // The 32-bit millisecond tick count (wraps after about 49.7 days).
  virtual std::uint32_t Tick() const = 0;

  DATE NowDate() const { return FileTimeToDate(Now()); }
};

class SystemClock final : public Clock {
 public:
  FileTime Now() const override;
  std::chrono::nanoseconds Monotonic() const override;
  std::uint32_t Tick() const override;
};

// A clock that moves only when told to; safe to read from several threads.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(FileTime start = 0, std::uint32_t tick = 0) : now_(start), tick_(tick) {}

  FileTime Now() const override { return now_.load(); }
  std::chrono::nanoseconds Monotonic() const override {
    return std::chrono::nanoseconds(mono_.load());
  }
  std::uint32_t Tick() const override { return tick_.load(); }

  void SetNow(FileTime ft) { now_.store(ft); }
  void SetNowDate(DATE d);
  void SetTick(std::uint32_t t) { tick_.store(t); }
  // Moves wall time, monotonic time and the tick forward together.
  void Advance(std::chrono::milliseconds d);

 private:
  std::atomic<FileTime> now_;
  std::atomic<std::int64_t> mono_{0};
  std::atomic<std::uint32_t> tick_;
};

}  // namespace qv
