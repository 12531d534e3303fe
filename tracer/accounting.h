#pragma once
// The once-a-second accounting pass: input time from the buckets goes to both times of the
// visits whose windows received it, and each visit's working time grows by the share of the
// screen its window covered over the previous interval.
#include <condition_variable>
#include <functional>
#include <mutex>

#include "common/clock.h"
#include "platform/desktop/desktop.h"
#include "tracer/input_buckets.h"
#include "tracer/tracer_flags.h"
#include "tracer/visit_table.h"
#include "tracer/worker.h"

namespace qv::tracer {

// Visible share of a window in percent of the full screen, 0..100.
std::uint32_t Coverage(const platform::Desktop& desktop, platform::DesktopWindow window);

class AccountingPass {
 public:
  // `windowGone` posts KIVM_WINDOW_GONE(window, 0) to the event window.
  AccountingPass(VisitTable& table, InputBuckets& buckets, const platform::Desktop& desktop,
                 TracerFlags& flags, const Clock& clock,
                 std::function<void(platform::DesktopWindow)> windowGone);
  void Run();

 private:
  VisitTable& table_;
  InputBuckets& buckets_;
  const platform::Desktop& desktop_;
  TracerFlags& flags_;
  const Clock& clock_;
  std::function<void(platform::DesktopWindow)> windowGone_;
};

// Runs the pass when it has been woken and its one-shot timer is due: at most once a second,
// and only after something happened.
class AccountingWorker final : public Worker {
 public:
  AccountingWorker(AccountingPass& pass, const Clock& clock) : pass_(pass), clock_(clock) {}
  const char* Name() const override { return "AccountingWorker"; }
  Step RunReady() override;
  void WaitForWork() override;
  void Wake();
  void RequestStop();
  std::size_t passes() const;

 private:
  AccountingPass& pass_;
  const Clock& clock_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool woken_ = false;
  bool stop_ = false;
  std::chrono::nanoseconds due_{0};  // the timer fires at once the first time
  std::size_t passes_ = 0;
};

}  // namespace qv::tracer
