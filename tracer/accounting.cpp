#include "tracer/accounting.h"

#include <algorithm>

#include "tracer/tracer_constants.h"

namespace qv::tracer {

using platform::DesktopWindow;

std::uint32_t Coverage(const platform::Desktop& desktop, DesktopWindow window) {
  const platform::ScreenSize screen = desktop.FullScreen();
  const std::int64_t full = screen.width * screen.height;
  if (full <= 0) return 0;
  const std::int64_t percent = desktop.VisibleArea(window) * 100 / full;
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(percent, 0, 100));
}

AccountingPass::AccountingPass(VisitTable& table, InputBuckets& buckets,
                               const platform::Desktop& desktop, TracerFlags& flags,
                               const Clock& clock,
                               std::function<void(DesktopWindow)> windowGone)
    : table_(table),
      buckets_(buckets),
      desktop_(desktop),
      flags_(flags),
      clock_(clock),
      windowGone_(std::move(windowGone)) {}

void AccountingPass::Run() {
  // Intervals on the monotonic clock: a wall clock that steps must not credit hours.
  const std::int64_t now = clock_.Monotonic().count() / 100;
  const InputBucket bucket = buckets_.Swap();
  const bool criticalResume = flags_.criticalResume.exchange(false);
  const bool paused = flags_.Paused();
  const std::int64_t lastPass = table_.lastPass.load();
  const std::int64_t t = now - static_cast<std::int64_t>(bucket.total);
  std::vector<DesktopWindow> gone;
  table_.ForEachShared([&](Visit& v) {
    if (criticalResume) {
      v.coverage = 0;
      v.activeTime = 0;
    }
    for (const auto& [window, time] : bucket.entries) {
      // Input to the visit's own window counts even if the window has just gone (it was one
      // when the input came); a descendant must still be one to be known as such.
      if (window == v.window ||
          (desktop_.IsDescendant(v.window, window) && desktop_.IsWindow(window))) {
        v.workingTime += time;
        v.activeTime += time;
      }
    }
    std::uint32_t coverage = 0;
    if (!paused) {
      if (desktop_.IsWindow(v.window)) {
        v.missingPasses = 0;
        coverage = Coverage(desktop_, v.window);
      } else if (++v.missingPasses == kMissingPassesLimit) {
        gone.push_back(v.window);
      }
    }
    CreditVisible(v, t, lastPass);
    v.coverage = coverage;
  });
  table_.lastPass = now;
  for (DesktopWindow w : gone) windowGone_(w);
}

Step AccountingWorker::RunReady() {
  {
    std::lock_guard lock(mutex_);
    if (stop_) return Step::Finished;
    if (!woken_ || clock_.Monotonic() < due_) return Step::Idle;
    woken_ = false;
  }
  pass_.Run();
  std::lock_guard lock(mutex_);
  due_ = clock_.Monotonic() + std::chrono::nanoseconds(kAccountingInterval * 100);
  ++passes_;
  return Step::Worked;
}

void AccountingWorker::WaitForWork() {
  std::unique_lock lock(mutex_);
  if (stop_) return;
  if (woken_) {
    const auto left = due_ - clock_.Monotonic();
    if (left > std::chrono::nanoseconds(0)) cv_.wait_for(lock, left, [this] { return stop_; });
    return;
  }
  cv_.wait(lock, [this] { return woken_ || stop_; });
}

void AccountingWorker::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  cv_.notify_all();
}

void AccountingWorker::RequestStop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
}

std::size_t AccountingWorker::passes() const {
  std::lock_guard lock(mutex_);
  return passes_;
}

}  // namespace qv::tracer
