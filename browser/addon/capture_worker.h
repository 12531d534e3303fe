#pragma once
// The add-on's single writer of the URL cache: a queue of up to kCaptureQueueCapacity
// finished captures and one thread that stores them in arrival order. Stopping is
// cooperative: the thread stores what is queued, then ends and is joined.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "browser/addon/page_capture.h"
#include "context/context.h"
#include "platform/urlcache/url_cache.h"

namespace qv::browser {

class CaptureWorker {
 public:
  CaptureWorker(const Context& ctx, platform::UrlCache& cache);
  ~CaptureWorker();
  CaptureWorker(const CaptureWorker&) = delete;
  CaptureWorker& operator=(const CaptureWorker&) = delete;

  // False when the queue is full or the worker stopped: the capture is then dropped, and its
  // file with it, and a warning event says so.
  bool Enqueue(std::unique_ptr<PageCapture> capture);
  // True once every capture queued so far has been stored, within `limit`.
  bool WaitIdle(std::chrono::milliseconds limit);
  // Stores what is queued, then ends the thread. Called by the destructor.
  void Stop();

 private:
  void Run(std::stop_token stop);

  const Context& ctx_;
  platform::UrlCache& cache_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::condition_variable idle_;
  std::deque<std::unique_ptr<PageCapture>> queue_;
  bool busy_ = false;
  bool stopped_ = false;
  std::jthread thread_;  // last, so it starts after everything it uses exists
};

}  // namespace qv::browser
