#include "tracer/worker.h"

namespace qv::tracer {

void Worker::Run() {
  for (;;) {
    const Step s = RunReady();
    if (s == Step::Finished) return;
    if (s == Step::Idle) WaitForWork();
  }
}

void StartGate::Open() {
  {
    std::lock_guard lock(mutex_);
    open_ = true;
  }
  cv_.notify_all();
}

bool StartGate::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

void StartGate::Wait() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return open_; });
}

WorkerHost::~WorkerHost() { Join(); }

HRESULT WorkerHost::Start(StartGate& gate) {
  if (!threaded_) {
    const HRESULT hr = worker_.Prepare();
    std::lock_guard lock(mutex_);
    prepared_ = hr;
    if (Failed(hr)) ended_ = true;
    return hr;
  }
  thread_ = std::thread([this, &gate] {
    const HRESULT hr = worker_.Prepare();
    {
      // Signalling "started" and beginning to wait on the gate are one step for the starter.
      std::lock_guard lock(mutex_);
      prepared_ = hr;
    }
    cv_.notify_all();
    if (Succeeded(hr)) {
      gate.Wait();
      if (!gate.Stopped()) worker_.Run();
    }
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
    }
    cv_.notify_all();
  });
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return prepared_.has_value(); });
  return Failed(*prepared_) ? E_FAIL : S_OK;
}

Step WorkerHost::RunStep() {
  {
    std::lock_guard lock(mutex_);
    if (ended_ || !prepared_) return Step::Finished;
  }
  const Step s = worker_.RunReady();
  if (s == Step::Finished) {
    std::lock_guard lock(mutex_);
    ended_ = true;
  }
  return s;
}

bool WorkerHost::Finished() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

bool WorkerHost::WaitEnded(std::chrono::milliseconds bound) {
  if (!threaded_) return Finished();
  std::unique_lock lock(mutex_);
  if (!prepared_) return true;
  // The bound is real time: it limits how long a shutdown waits before it says so.
  return cv_.wait_for(lock, bound, [this] { return ended_; });
}

void WorkerHost::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace qv::tracer
