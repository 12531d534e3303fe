#pragma once
// The catalog worker: one thread that carries out the slow catalog requests in the order they
// were queued, at most 64 waiting. A stop waits a bounded time for the request in hand; a
// thread cannot be killed, so when the wait runs out the worker is left inside its request,
// the warning event is written, and the service's main ends the process without waiting
// (the request in hand is lost, as a terminated thread's would be).
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "context/context.h"
#include "interfaces/ibase_activation.h"
#include "service/QvRankingSvc/listener_requests.h"
#include "service/QvRankingSvc/service_constants.h"

namespace qv::service {

class CatalogWorker {
 public:
  using Process = std::function<void(const CatalogRequest&)>;

  CatalogWorker(const Context& ctx, Process process,
                std::chrono::milliseconds stopWait = kWorkerStopWait);
  // Stops the worker if it still runs, then waits for its thread, however long.
  ~CatalogWorker();
  CatalogWorker(const CatalogWorker&) = delete;
  CatalogWorker& operator=(const CatalogWorker&) = delete;

  // Starts the thread; a failure is logged (0xC0000012) and returned.
  HRESULT Start();
  // S_OK once queued; E_PENDING when 64 wait already; kWorkerNotRunning when the worker was
  // never started, is stopping, or has died, so that no caller is told a request is in hand
  // that nobody will carry out.
  HRESULT Enqueue(CatalogRequest request);
  // Asks the worker to end and waits up to the stop wait. Requests still queued are dropped.
  // False when the worker is still inside a request (0xC0000013 logged).
  bool Stop();
  std::size_t Queued() const;

 private:
  void Run();

  const Context& ctx_;
  Process process_;
  std::chrono::milliseconds stopWait_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable ended_;
  std::deque<CatalogRequest> queue_;
  bool running_ = false;   // accepting requests
  bool stop_ = false;
  bool finished_ = true;   // the thread has left its loop (or never ran)
  std::thread thread_;
};

}  // namespace qv::service
