#include "tracer/detection/recent_docs_watcher.h"

#include "context/event_report.h"
#include "tracer/detection/detection_constants.h"

namespace qv::tracer {

using namespace qv::platform;

namespace {

bool HasExtension(std::string_view name) {
  const auto dot = name.rfind('.');
  return dot != std::string_view::npos && dot > 0;  // ".profile" is a name, not an extension
}

void Report(const Context& ctx, EventType type, std::uint32_t id, HRESULT hr) {
  ReportEvent(ctx, type, kCategoryTracer, id, {FormatLowWord(hr), SystemMessage(hr)});
}

}  // namespace

bool IsDocumentLinkName(std::string_view name) {
  if (name.empty() || name.size() > kMaxLinkNameBytes || !HasExtension(name)) return false;
  return HasExtension(name.substr(0, name.rfind('.')));
}

void RecentDocsWatcher::RequestStop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  folder_.Wake();
}

Step RecentDocsWatcher::RunReady() {
  {
    std::lock_guard lock(mutex_);
    if (stop_) return End();
  }
  if (ended_) return Step::Finished;
  return open_ ? ReadOnce() : TryOpen();
}

Step RecentDocsWatcher::End() {
  if (open_) {
    if (const HRESULT hr = folder_.Close(); Failed(hr)) {
      Report(ctx_, EventType::Error, kEvRecentClose, hr);
    }
    open_ = false;
  }
  ended_ = true;
  return Step::Finished;
}

Step RecentDocsWatcher::TryOpen() {
  const Mono now = ctx_.clock.Monotonic();
  if (now < nextAttempt_) return Step::Idle;
  const HRESULT hr = folder_.Open();
  if (Succeeded(hr)) {
    open_ = true;
    openAttempts_ = 0;
    return Step::Worked;
  }
  Report(ctx_, EventType::Error, kEvRecentOpen, hr);
  if (++openAttempts_ >= kRecentOpenAttempts) {
    Report(ctx_, EventType::Error, kEvRecentGaveUp, hr);
    return End();
  }
  nextAttempt_ = now + kRecentOpenRetry;
  return Step::Worked;
}

Step RecentDocsWatcher::ReadOnce() {
  RecentBatch batch;
  const HRESULT hr = folder_.Read(batch);
  if (hr == S_FALSE) return Step::Idle;
  if (Failed(hr)) {
    Report(ctx_, EventType::Warning, kEvRecentRead, hr);
    (void)folder_.Close();
    open_ = false;
    openAttempts_ = 0;
    nextAttempt_ = Mono{0};
    if (++failedReads_ >= kRecentMaxFailedReads) {
      Report(ctx_, EventType::Error, kEvRecentGaveUp, hr);
      return End();
    }
    return Step::Worked;
  }
  failedReads_ = 0;
  if (batch.empty) ReportEvent(ctx_, EventType::Warning, kCategoryTracer, kEvRecentEmpty, {});
  std::size_t records = 0;
  for (const RecentChange& c : batch.changes) {
    if (++records > kRecentMaxRecords) break;
    if (c.action != kRecentActionAdded && c.action != kRecentActionModified) continue;
    if (!IsDocumentLinkName(c.name)) continue;
    std::string target;
    if (Failed(folder_.Resolve(c, target)) || target.empty() || target.size() > kMaxPathBytes) {
      continue;
    }
    events_.DocumentOpened(0, std::move(target));
  }
  return Step::Worked;
}

void RecentDocsWatcher::WaitForWork() {
  if (open_) {
    folder_.Wait(std::chrono::minutes(1));
    return;
  }
  std::unique_lock lock(mutex_);
  if (stop_ || ended_) return;
  const Mono now = ctx_.clock.Monotonic();
  if (nextAttempt_ > now) cv_.wait_for(lock, nextAttempt_ - now, [this] { return stop_; });
}

}  // namespace qv::tracer
