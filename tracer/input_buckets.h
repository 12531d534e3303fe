#pragma once
// Input time waiting for the next accounting pass: two buckets used in turn, each with up to
// 30 (window, time) entries and its total. Every input event credits the time since the
// previous one, at most 1.5 s, to the window that received it.
#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/desktop/desktop.h"

namespace qv::tracer {

struct InputBucket {
  std::vector<std::pair<platform::DesktopWindow, std::uint64_t>> entries;
  std::uint64_t total = 0;
};

class InputBuckets {
 public:
  InputBuckets();
  // Credits one input event at monotonic time `now` (100 ns) to `window`; `isWindow` says
  // whether the window still exists. Returns true when an accounting pass should run soon
  // (the bucket holds 30 s or 10 windows, or is full).
  template <typename IsWindow>
  bool Credit(platform::DesktopWindow window, std::int64_t now, IsWindow&& isWindow) {
    const std::uint64_t increment = Increment(now);
    if (increment == 0 || window == 0 || !isWindow(window)) return false;
    return Add(window, increment);
  }
  // Hands the current bucket to the accounting pass and starts the other one empty.
  InputBucket Swap();
  // Removes the current bucket's entries whose window `matches` and returns their time: a
  // visit that ends takes its input along instead of losing it.
  template <typename Matches>
  std::uint64_t Take(Matches&& matches) {
    std::lock_guard lock(mutex_);
    InputBucket& b = buckets_[current_];
    std::uint64_t taken = 0;
    std::erase_if(b.entries, [&](const auto& e) {
      if (!matches(e.first)) return false;
      taken += e.second;
      return true;
    });
    b.total -= taken;
    return taken;
  }

 private:
  std::uint64_t Increment(std::int64_t now);
  bool Add(platform::DesktopWindow window, std::uint64_t increment);

  std::mutex mutex_;
  std::array<InputBucket, 2> buckets_;
  int current_ = 0;
  std::optional<std::int64_t> previous_;  // the previous input event
};

}  // namespace qv::tracer
