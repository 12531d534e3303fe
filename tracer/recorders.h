#pragma once
// Where finished visits go: three recorders (files, web pages, mail items), each with its own
// queue and thread. What a recorder does with a visit (journal it, rank it) is a VisitWriter;
// the queue, the busy notices to the manager and the bounded drain at shutdown are here.
#include <array>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "context/context.h"
#include "tracer/tracer_constants.h"
#include "tracer/visit.h"
#include "tracer/worker.h"

namespace qv::tracer {

enum class RecorderKind { File = 0, Web = 1, Mail = 2 };
const char* RecorderName(RecorderKind kind);

// Kind 2 and file URLs go to the file recorder; "outlook" URLs (any case) to the mail
// recorder; any other scheme to the web recorder. No identifier or no scheme: dropped.
std::optional<RecorderKind> ChooseRecorder(const Visit& visit);

// Records one finished visit. Runs on its recorder's thread; Begin before the first visit.
class VisitWriter {
 public:
  virtual ~VisitWriter() = default;
  virtual HRESULT Begin() { return S_OK; }
  virtual void Record(const Visit& visit) = 0;
};

// The recorders as the visit table sees them.
class VisitRecorders {
 public:
  virtual ~VisitRecorders() = default;
  // When a tracked visit opens: keep the item's stored ranking set with the visit.
  virtual void TakeSnapshot(Visit& visit) { (void)visit; }
  // Takes the visit or fails (queue full, recorder not running); the caller logs a failure.
  virtual HRESULT Queue(RecorderKind kind, VisitPtr visit) = 0;
};

// What the recorders need from the runtime.
struct RecorderHost {
  const Context& ctx;
  // Critical resume is set: visits are dropped, not recorded.
  std::function<bool()> criticalResume = [] { return false; };
  // KIVM_TRACER_BUSY to the manager's window: 1 when recording begins, 2 when it ends.
  std::function<void(std::uint64_t)> busy = [](std::uint64_t) {};
  // A recorder that cannot run asks the tracer to stop (KIVM_STOP).
  std::function<void()> fatal = [] {};
  // The mail recorder's named event: told false when a mail visit is queued and true when no
  // queued or unfinished mail visit is left.
  std::function<void(bool)> mailIdle = [](bool) {};
  // How long a stopping recorder goes on recording what is queued.
  std::chrono::milliseconds drainBound = kRecorderDrainBound;
};

class RecorderQueue final : public Worker {
 public:
  RecorderQueue(RecorderKind kind, VisitWriter& writer, RecorderHost& host)
      : kind_(kind), writer_(writer), host_(host) {}

  const char* Name() const override { return RecorderName(kind_); }
  HRESULT Prepare() override;
  Step RunReady() override;
  void WaitForWork() override;

  // E_FAIL if the writer did not begin; kRecorderQueueFull with 64 visits waiting.
  HRESULT Queue(VisitPtr visit);
  // From now on the queue is recorded for at most the host's drain bound, then the rest is
  // logged and dropped, and the worker ends.
  void RequestStop();
  std::size_t Pending() const;
  // Mail recorder: visits queued and not yet finished, the one being recorded included.
  std::size_t Unfinished() const;
  // For a shutdown that cannot wait any longer for a writer that does not return: logs the
  // visit being recorded and every queued one as not recorded, and drops the queued ones.
  // True if anything was left.
  bool ReportLeft();

 private:
  RecorderKind kind_;
  VisitWriter& writer_;
  RecorderHost& host_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<VisitPtr> queue_;
  std::optional<std::string> inHand_;  // the identifier of the visit being recorded
  std::size_t unfinished_ = 0;         // mail only: queued plus in hand
  bool began_ = false;
  bool stop_ = false;
  std::chrono::nanoseconds stopAt_{0};

  // Under mutex_: `count` mail visits are done with, recorded or dropped.
  void FinishedLocked(std::size_t count);
};

// The three recorders with their writers; writers must outlive it.
class RecorderSet final : public VisitRecorders {
 public:
  RecorderSet(RecorderHost& host, VisitWriter& file, VisitWriter& web, VisitWriter& mail,
              std::function<void(Visit&)> takeSnapshot = nullptr);
  void TakeSnapshot(Visit& visit) override {
    if (takeSnapshot_) takeSnapshot_(visit);
  }
  HRESULT Queue(RecorderKind kind, VisitPtr visit) override;
  RecorderQueue& queue(RecorderKind kind) { return *queues_[static_cast<int>(kind)]; }
  void RequestStop();
  // ReportLeft on every queue.
  bool ReportLeft();

 private:
  std::array<std::unique_ptr<RecorderQueue>, 3> queues_;
  std::function<void(Visit&)> takeSnapshot_;
};

}  // namespace qv::tracer
