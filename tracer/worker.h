#pragma once
// The tracer's background work as steps: each worker does whatever is ready without waiting.
// In threaded mode every worker runs on its own thread behind the start gate; in manual mode
// (tests, script replay) nothing runs by itself, and the test thread steps every worker until
// all are idle, so a test decides exactly when time passes.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/hresult.h"

namespace qv::tracer {

enum class Step { Idle, Worked, Finished };

class Worker {
 public:
  virtual ~Worker() = default;
  virtual const char* Name() const = 0;
  // The worker's own preparation, on its thread before the start gate.
  virtual HRESULT Prepare() { return S_OK; }
  virtual Step RunReady() = 0;
  // Threaded mode: blocks until work may be ready, or a stop was asked for.
  virtual void WaitForWork() = 0;
  // The thread's body once the gate is open; the default alternates steps and waits.
  virtual void Run();
};

// A manual-reset event with the stop flag beside it: workers wait on it once prepared.
class StartGate {
 public:
  void Open();
  bool IsOpen() const;
  void Wait();
  void SetStop(bool stop) { stop_ = stop; }
  bool Stopped() const { return stop_; }

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
  std::atomic<bool> stop_{false};
};

// Hosts one worker: on a thread of its own, or stepped by the caller.
class WorkerHost {
 public:
  WorkerHost(Worker& worker, bool threaded) : worker_(worker), threaded_(threaded) {}
  ~WorkerHost();
  WorkerHost(const WorkerHost&) = delete;
  WorkerHost& operator=(const WorkerHost&) = delete;

  // Prepares the worker (on its thread when threaded) and waits until it is ready to pass the
  // gate: the preparation's result, or E_FAIL if the thread ended first.
  HRESULT Start(StartGate& gate);
  // Manual mode: one step; Finished once the worker has ended.
  Step RunStep();
  bool Finished() const;
  // Waits up to `bound` for the thread to end; false if it still runs (it is then joined
  // later, never killed).
  bool WaitEnded(std::chrono::milliseconds bound);
  void Join();
  Worker& worker() { return worker_; }

 private:
  Worker& worker_;
  bool threaded_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::optional<HRESULT> prepared_;
  bool ended_ = false;
};

}  // namespace qv::tracer
