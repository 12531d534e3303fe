#include "tracer/detection/running_docs_watcher.h"

#include "context/event_report.h"
#include "tracer/detection/detection_constants.h"

namespace qv::tracer {

using namespace qv::platform;

bool RunningDocsWatcher::IsTrigger(const WinEvent& e) {
  switch (e.event) {
    case EVENT_OBJECT_CREATE:
    case EVENT_OBJECT_DESTROY:
    // A Linux application opens a document in a window it already has and renames it.
    case EVENT_OBJECT_NAMECHANGE:
      return e.objectId == OBJID_WINDOW && e.childId == CHILDID_SELF;
    case EVENT_SYSTEM_MENUEND:
    case EVENT_SYSTEM_DRAGDROPEND:
    case EVENT_SYSTEM_DIALOGEND:
      return true;
    default:
      return false;
  }
}

void RunningDocsWatcher::Trigger() {
  const Mono now = ctx_.clock.Monotonic();
  {
    std::lock_guard lock(mutex_);
    debounceDue_ = now + kRunningDocsDebounce;
    if (!delayDue_) delayDue_ = now + kRunningDocsMaxDelay;
  }
  cv_.notify_all();
}

void RunningDocsWatcher::RequestStop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
}

Step RunningDocsWatcher::RunReady() {
  bool due = false;
  {
    std::lock_guard lock(mutex_);
    if (stop_ || fatal_) return Step::Finished;
    const Mono now = ctx_.clock.Monotonic();
    if (delayDue_ && now >= *delayDue_) {
      delayDue_.reset();  // the next trigger starts a new burst
      due = true;
    }
    if (debounceDue_ && now >= *debounceDue_) {
      debounceDue_.reset();
      due = true;
    }
  }
  if (!due) return Step::Idle;
  Scan();
  return fatal_ ? Step::Finished : Step::Worked;
}

void RunningDocsWatcher::WaitForWork() {
  std::unique_lock lock(mutex_);
  if (stop_) return;
  std::optional<Mono> next = debounceDue_;
  if (delayDue_ && (!next || *delayDue_ < *next)) next = delayDue_;
  if (!next) {
    cv_.wait(lock);
    return;
  }
  const Mono now = ctx_.clock.Monotonic();
  if (*next > now) cv_.wait_for(lock, *next - now);
}

void RunningDocsWatcher::Scan() {
  ++scans_;
  std::vector<RunningDocument> docs;
  const HRESULT hr = docs_.Enumerate(docs);
  if (Failed(hr)) {
    // The table keeps the counts of the last good scan: emptying it would forget documents
    // that close meanwhile, and their visits would never end.
    for (auto& [key, e] : table_) e.current = 0;
    ++failures_;
    ReportEvent(ctx_, EventType::Warning, kCategoryTracer, kEvRunningDocsScan,
                {FormatLowWord(hr), SystemMessage(hr)});
    if (failures_ >= kRunningDocsMaxFailures) {
      ReportEvent(ctx_, EventType::Error, kCategoryTracer, kEvRunningDocsFatal,
                  {FormatLowWord(E_UNEXPECTED), SystemMessage(E_UNEXPECTED)});
      fatal_ = true;
      events_.Fatal();
    }
    return;
  }
  failures_ = 0;
  for (auto& d : docs) {
    Entry& e = table_[d.key];
    if (++e.current > e.previous) events_.DocumentOpened(d.key, std::move(d.path));
  }
  for (auto it = table_.begin(); it != table_.end();) {
    Entry& e = it->second;
    for (std::uint32_t lost = e.current; lost < e.previous; ++lost) {
      events_.DocumentClosed(it->first, e.current);
    }
    if (e.current > 0) {
      e.previous = e.current;
      e.current = 0;
      ++it;
    } else {
      it = table_.erase(it);
    }
  }
}

}  // namespace qv::tracer
