#include "browser/addon/capture_worker.h"

#include "browser/addon/addon_constants.h"
#include "browser/addon/capture_store.h"
#include "context/event_report.h"

namespace qv::browser {

CaptureWorker::CaptureWorker(const Context& ctx, platform::UrlCache& cache)
    : ctx_(ctx), cache_(cache), thread_([this](std::stop_token stop) { Run(stop); }) {}

CaptureWorker::~CaptureWorker() { Stop(); }

bool CaptureWorker::Enqueue(std::unique_ptr<PageCapture> capture) {
  if (!capture) return false;
  {
    std::lock_guard lock(mutex_);
    if (!stopped_ && queue_.size() < kCaptureQueueCapacity) {
      queue_.push_back(std::move(capture));
      wake_.notify_one();
      return true;
    }
  }
  ReportItemWarning(ctx_, kCategoryTracer, kEventCaptureDataFailed, capture->url(),
                    HresultFromWin32(win32::ERROR_BUSY));
  return false;  // `capture` goes here, and its file with it
}

bool CaptureWorker::WaitIdle(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, limit, [&] { return queue_.empty() && !busy_; });
}

void CaptureWorker::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
}

void CaptureWorker::Run(std::stop_token stop) {
  while (true) {
    std::unique_ptr<PageCapture> capture;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, stop, [&] { return !queue_.empty(); });
      if (queue_.empty()) return;  // stop requested and nothing left to store
      capture = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
    }
    StoreCapture(ctx_, cache_, *capture);
    capture.reset();
    std::lock_guard lock(mutex_);
    busy_ = false;
    if (queue_.empty()) idle_.notify_all();
  }
}

}  // namespace qv::browser
