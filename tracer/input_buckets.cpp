#include "tracer/input_buckets.h"

#include <algorithm>

#include "tracer/tracer_constants.h"

namespace qv::tracer {

InputBuckets::InputBuckets() {
  for (auto& b : buckets_) b.entries.reserve(kBucketEntries);
}

std::uint64_t InputBuckets::Increment(std::int64_t now) {
  std::lock_guard lock(mutex_);
  // The first event counts the full cap; a clock that seems to run backwards counts nothing.
  std::uint64_t increment = kInputCap;
  if (previous_) {
    increment = now > *previous_ ? std::min<std::uint64_t>(now - *previous_, kInputCap) : 0;
  }
  previous_ = now;
  return increment;
}

bool InputBuckets::Add(platform::DesktopWindow window, std::uint64_t increment) {
  std::lock_guard lock(mutex_);
  InputBucket& b = buckets_[current_];
  if (b.total >= kBucketFullTotal || b.entries.size() >= kBucketEntries) {
    return true;  // full: nothing is added, the pass is asked for
  }
  auto it = std::find_if(b.entries.begin(), b.entries.end(),
                         [&](const auto& e) { return e.first == window; });
  if (it == b.entries.end()) {
    b.entries.emplace_back(window, increment);
  } else {
    it->second += increment;
  }
  b.total += increment;
  return b.total >= kBucketWakeTotal || b.entries.size() >= kBucketWakeEntries;
}

InputBucket InputBuckets::Swap() {
  std::lock_guard lock(mutex_);
  InputBucket taken = std::move(buckets_[current_]);
  current_ = 1 - current_;
  buckets_[current_].entries.clear();
  buckets_[current_].total = 0;
  buckets_[1 - current_] = InputBucket{};
  buckets_[1 - current_].entries.reserve(kBucketEntries);
  return taken;
}

}  // namespace qv::tracer
