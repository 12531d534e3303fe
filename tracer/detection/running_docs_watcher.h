#pragma once
// The running-documents watcher: after window activity calms down it scans the running
// documents, and reports every instance that appeared or went away since the last scan.
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>

#include "context/context.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/running_documents.h"
#include "tracer/detection/document_events.h"
#include "tracer/worker.h"

namespace qv::tracer {

class RunningDocsWatcher final : public Worker {
 public:
  RunningDocsWatcher(const Context& ctx, platform::RunningDocuments& docs, DocumentEvents& events)
      : ctx_(ctx), docs_(docs), events_(events) {}

  // Window creation and destruction, renaming, and the end of a menu, drag-and-drop or
  // dialog: documents open and close around these.
  static bool IsTrigger(const platform::WinEvent& event);
  // Any thread: the scan is due 1 s after the last trigger, and at most 5 s after the first
  // trigger of a burst.
  void Trigger();
  void RequestStop();

  const char* Name() const override { return "RunningDocsWatcher"; }
  Step RunReady() override;
  void WaitForWork() override;

  // One scan at once (tests and the first look at start).
  void Scan();
  std::uint32_t Scans() const { return scans_; }
  std::uint32_t ConsecutiveFailures() const { return failures_; }

 private:
  struct Entry {
    std::uint32_t previous = 0;
    std::uint32_t current = 0;
  };
  using Mono = std::chrono::nanoseconds;

  const Context& ctx_;
  platform::RunningDocuments& docs_;
  DocumentEvents& events_;

  std::mutex mutex_;
  std::condition_variable cv_;
  std::optional<Mono> debounceDue_;
  std::optional<Mono> delayDue_;
  bool stop_ = false;

  // Owned by the watcher's thread.
  std::map<std::uint32_t, Entry> table_;
  std::uint32_t failures_ = 0;
  std::uint32_t scans_ = 0;
  bool fatal_ = false;
};

}  // namespace qv::tracer
