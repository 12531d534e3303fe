#pragma once
// A worker that owns a message loop: its windows' procedures run on it. Stepping pumps what is
// ready; the worker knows whether anything was dispatched because its procedures are counted.
#include <atomic>
#include <functional>

#include "platform/messaging/message_loop.h"
#include "tracer/worker.h"

namespace qv::tracer {

class LoopWorker final : public Worker {
 public:
  LoopWorker(const char* name, const Clock& clock, std::function<HRESULT()> prepare = nullptr)
      : name_(name), loop_(clock), prepare_(std::move(prepare)) {}

  const char* Name() const override { return name_; }
  HRESULT Prepare() override { return prepare_ ? prepare_() : S_OK; }
  Step RunReady() override {
    const auto before = dispatched_.load();
    if (!loop_.Pump(std::chrono::milliseconds(0))) return Step::Finished;
    return dispatched_.load() != before ? Step::Worked : Step::Idle;
  }
  void WaitForWork() override {}
  void Run() override { loop_.Run(); }

  platform::MessageLoop& loop() { return loop_; }
  // The procedure, counting each message it handles.
  platform::WindowProc Counted(platform::WindowProc proc) {
    return [this, proc = std::move(proc)](const platform::Message& m) {
      ++dispatched_;
      return proc(m);
    };
  }

 private:
  const char* name_;
  platform::MessageLoop loop_;
  std::function<HRESULT()> prepare_;
  std::atomic<std::uint64_t> dispatched_{0};
};

}  // namespace qv::tracer
