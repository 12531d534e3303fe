#include "service/QvRankingSvc/catalog_worker.h"

#include <exception>
#include <system_error>

#include "context/event_report.h"

namespace qv::service {
namespace {

void ReportWorkerFailure(const Context& ctx, HRESULT hr) {
  ReportEvent(ctx, platform::EventType::Error, kCategoryProvider, kEventWorkerFailed,
              {FormatLowWord(hr), SystemMessage(hr)});
}

}  // namespace

CatalogWorker::CatalogWorker(const Context& ctx, Process process,
                             std::chrono::milliseconds stopWait)
    : ctx_(ctx), process_(std::move(process)), stopWait_(stopWait) {}

CatalogWorker::~CatalogWorker() {
  {
    std::lock_guard lock(mutex_);
    running_ = false;
    stop_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

HRESULT CatalogWorker::Start() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) return E_UNEXPECTED;
  stop_ = false;
  finished_ = false;
  running_ = true;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error& e) {
    running_ = false;
    finished_ = true;
    const HRESULT hr = HresultFromErrno(e.code().value());
    ReportWorkerFailure(ctx_, hr);
    return hr;
  }
  return S_OK;
}

HRESULT CatalogWorker::Enqueue(CatalogRequest request) {
  {
    std::lock_guard lock(mutex_);
    if (!running_) return kWorkerNotRunning;
    if (queue_.size() >= kCatalogQueueLimit) return E_PENDING;
    queue_.push_back(std::move(request));
  }
  wake_.notify_one();
  return S_OK;
}

std::size_t CatalogWorker::Queued() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

void CatalogWorker::Run() {
  for (;;) {
    CatalogRequest request;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_) break;
      request = std::move(queue_.front());
      queue_.pop_front();
    }
    try {
      if (process_) process_(request);
    } catch (const std::exception&) {
      // A request that throws leaves the worker in a state nobody knows: it ends, and
      // queueing fails from now on instead of promising work that will not be done.
      ReportWorkerFailure(ctx_, E_UNEXPECTED);
      break;
    }
  }
  {
    std::lock_guard lock(mutex_);
    running_ = false;
    finished_ = true;
    queue_.clear();
  }
  ended_.notify_all();
}

bool CatalogWorker::Stop() {
  std::unique_lock lock(mutex_);
  running_ = false;
  stop_ = true;
  queue_.clear();
  wake_.notify_all();
  if (ended_.wait_for(lock, stopWait_, [this] { return finished_; })) return true;
  lock.unlock();
  ReportEvent(ctx_, platform::EventType::Warning, kCategoryProvider, kEventWorkerAbandoned, {});
  return false;
}

}  // namespace qv::service
