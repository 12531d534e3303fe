#include "tracer/recorders.h"

#include <algorithm>

#include "context/event_report.h"
#include "common/utf.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "tracer/item_string.h"
#include "tracer/tracer_constants.h"

namespace qv::tracer {

const char* RecorderName(RecorderKind kind) {
  switch (kind) {
    case RecorderKind::File: return "FileRecorder";
    case RecorderKind::Web: return "WebRecorder";
    case RecorderKind::Mail: return "MailRecorder";
  }
  return "Recorder";
}

std::optional<RecorderKind> ChooseRecorder(const Visit& visit) {
  if (visit.identifier.empty()) return std::nullopt;
  if (visit.kind == kKindDocument || IsFileUrl(visit.identifier)) return RecorderKind::File;
  const std::string scheme = ReadScheme(visit.identifier);
  if (scheme.empty()) return std::nullopt;
  if (EqualsNoCase(scheme, "outlook")) return RecorderKind::Mail;
  return RecorderKind::Web;
}

HRESULT RecorderQueue::Prepare() {
  const HRESULT hr = writer_.Begin();
  if (Failed(hr)) {
    ReportItemError(host_.ctx, kCategoryTracer, kEvRecorderStart, Name(), hr);
    return hr;
  }
  std::lock_guard lock(mutex_);
  began_ = true;
  return S_OK;
}

HRESULT RecorderQueue::Queue(VisitPtr visit) {
  {
    std::lock_guard lock(mutex_);
    if (began_ && !stop_) {
      if (queue_.size() >= kRecorderQueueLimit) return kRecorderQueueFull;
      queue_.push_back(std::move(visit));
      if (kind_ == RecorderKind::Mail) {
        ++unfinished_;
        host_.mailIdle(false);
      }
      cv_.notify_all();
      return S_OK;
    }
    if (stop_) return E_ABORT;
  }
  host_.fatal();
  return E_FAIL;
}

void RecorderQueue::RequestStop() {
  {
    std::lock_guard lock(mutex_);
    if (stop_) return;
    stop_ = true;
    stopAt_ = host_.ctx.clock.Monotonic();
  }
  cv_.notify_all();
}

std::size_t RecorderQueue::Pending() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

std::size_t RecorderQueue::Unfinished() const {
  std::lock_guard lock(mutex_);
  return unfinished_;
}

void RecorderQueue::FinishedLocked(std::size_t count) {
  if (kind_ != RecorderKind::Mail || count == 0) return;
  unfinished_ -= std::min(count, unfinished_);
  if (unfinished_ == 0) host_.mailIdle(true);
}

Step RecorderQueue::RunReady() {
  VisitPtr visit;
  {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return stop_ ? Step::Finished : Step::Idle;
    if (stop_ && host_.ctx.clock.Monotonic() - stopAt_ > host_.drainBound) {
      // The drain took too long: what is left is written down rather than lost silently.
      for (const auto& left : queue_) {
        ReportItemWarning(host_.ctx, kCategoryTracer, kEvVisitQueue,
                          left->identifier.empty() ? "Unknown" : left->identifier, E_ABORT);
      }
      // Dropped visits are done with too: nobody waits for them in vain.
      FinishedLocked(queue_.size());
      queue_.clear();
      return Step::Finished;
    }
    visit = std::move(queue_.front());
    queue_.pop_front();
    inHand_ = visit->identifier;
  }
  host_.busy(hooks::kTracerBusyBegin);
  if (host_.criticalResume()) {
    ReportItemWarning(host_.ctx, kCategoryTracer, kEvCriticalResumeDrop,
                      visit->identifier.empty() ? "Unknown" : visit->identifier, E_ABORT);
  } else {
    writer_.Record(*visit);
  }
  {
    std::lock_guard lock(mutex_);
    inHand_.reset();
    FinishedLocked(1);
  }
  host_.busy(hooks::kTracerBusyEnd);
  return Step::Worked;
}

bool RecorderQueue::ReportLeft() {
  std::vector<std::string> left;
  {
    std::lock_guard lock(mutex_);
    if (inHand_) left.push_back(*inHand_);
    for (const auto& v : queue_) left.push_back(v->identifier);
    // What is given up on is done with: a waiting mail add-in is released now.
    FinishedLocked(left.size());
    queue_.clear();
  }
  for (const auto& id : left) {
    ReportItemWarning(host_.ctx, kCategoryTracer, kEvVisitQueue, id.empty() ? "Unknown" : id,
                      HresultFromWin32(win32::ERROR_TIMEOUT));
  }
  return !left.empty();
}

void RecorderQueue::WaitForWork() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return !queue_.empty() || stop_; });
}

RecorderSet::RecorderSet(RecorderHost& host, VisitWriter& file, VisitWriter& web,
                         VisitWriter& mail, std::function<void(Visit&)> takeSnapshot)
    : takeSnapshot_(std::move(takeSnapshot)) {
  queues_[0] = std::make_unique<RecorderQueue>(RecorderKind::File, file, host);
  queues_[1] = std::make_unique<RecorderQueue>(RecorderKind::Web, web, host);
  queues_[2] = std::make_unique<RecorderQueue>(RecorderKind::Mail, mail, host);
}

HRESULT RecorderSet::Queue(RecorderKind kind, VisitPtr visit) {
  return queues_[static_cast<int>(kind)]->Queue(std::move(visit));
}

void RecorderSet::RequestStop() {
  for (auto& q : queues_) q->RequestStop();
}

bool RecorderSet::ReportLeft() {
  bool any = false;
  for (auto& q : queues_) any = q->ReportLeft() || any;
  return any;
}

}  // namespace qv::tracer
