#pragma once
// QvTracer's runtime: start-up behind its marker and single-instance gate, the two windows,
// the workers behind the start gate, the inactivity check, power and lock states, and
// shutdown in order. In threaded mode Run() is the program's life; in manual mode the caller
// starts the tracer, then advances a ManualClock and runs every worker to idle on its own
// thread (tests, script replay).
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "context/context.h"
#include "hooks/QvHooks/input_hooks.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/input_source.h"
#include "platform/desktop/session_signals.h"
#include "platform/messaging/window_station.h"
#include "platform/process/named_event.h"
#include "tracer/accounting.h"
#include "tracer/input_buckets.h"
#include "tracer/item_detector.h"
#include "tracer/loop_worker.h"
#include "tracer/recorders.h"
#include "tracer/session_lock.h"
#include "tracer/tracer_flags.h"
#include "tracer/visit_table.h"
#include "tracer/worker.h"

namespace qv::tracer {

struct TracerPorts {
  const Context& ctx;
  platform::Desktop& desktop;
  platform::InputSource& input;
  platform::SessionSignals& session;
  platform::WindowStation& station;
};

// The three recorders' writers (they must outlive the tracer), and how a visit's ranking
// snapshot is taken when it opens.
struct TracerWriters {
  VisitWriter& file;
  VisitWriter& web;
  VisitWriter& mail;
  std::function<void(Visit&)> takeSnapshot;
  // Cancels what the writers wait for (page downloads) once the drain bound has passed.
  std::function<void()> cancel = nullptr;
};

struct TracerOptions {
  std::vector<std::string> args;        // the command line, without the program name
  std::filesystem::path sessionFolder;  // holds the start gate: the session's runtime folder
  bool manual = false;                  // stepped by the caller instead of threads
  // Threaded shutdown: how long recorders go on recording what is queued, and how much longer
  // everything gets to end before the rest is given up.
  std::chrono::milliseconds drainBound = kRecorderDrainBound;
  std::chrono::milliseconds stopWait = kWorkerStopWait;
};

// Exit codes: 0 after a clean run; kExitFailed (-1, 255 to the shell) when start-up fails,
// when the main window cannot be created, or after an internal fatal stop.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = -1;

class TracerRuntime final {
 public:
  TracerRuntime(TracerPorts ports, TracerOptions options, TracerWriters writers,
                std::unique_ptr<ItemDetector> detector);
  ~TracerRuntime();
  TracerRuntime(const TracerRuntime&) = delete;
  TracerRuntime& operator=(const TracerRuntime&) = delete;

  // Threaded mode: the whole life; returns the exit code.
  int Run();

  // Manual mode. Start runs start-up up to the open gate: S_OK, or the failure (the exit
  // code is then set and the tracer has ended).
  HRESULT Start();
  // Steps every worker until none has anything ready, and carries shutdown through once the
  // main window's loop has quit.
  void RunUntilIdle();
  // RunUntilIdle after every message that other threads or processes sent before has arrived:
  // a message sent to both windows from another thread is answered first.
  void Settle();
  // Runs `action` on another thread while the workers run here, for actions that wait for
  // the tracer (sends to its windows).
  void RunWhile(const std::function<void()>& action);
  // Moves `clock` forward in steps of at most 100 ms, running to idle after each.
  void Advance(ManualClock& clock, std::chrono::milliseconds d);
  bool Ended() const { return ended_; }
  int ExitCode() const { return exitCode_; }

  // From any thread: the orderly shutdown that the shutdown message starts, open visits
  // recorded (unless the manager asked to drop them), for a stop that comes from outside the
  // windows: a signal, the display or the session gone. `why` goes to the event log. A request
  // made before the main window exists takes effect as soon as it does.
  void RequestShutdown(const std::string& why);
  // Threaded mode: the shutdown gave up on a worker that did not end within its bounds (what
  // it held is logged). The worker still runs, so the process should end without waiting for it.
  bool Abandoned() const { return abandoned_; }

  // For tests and diagnostics.
  const TracerFlags& flags() const { return flags_; }
  VisitTable& table() { return *table_; }
  std::chrono::milliseconds inactivityTimeout() const { return timeout_; }
  bool inactivityTimerArmed() const { return timerArmed_; }
  std::size_t accountingPasses() const { return accountingWorker_ ? accountingWorker_->passes() : 0; }
  platform::Hwnd mainWindow() const;
  platform::Hwnd eventWindow() const;

 private:
  HRESULT StartUp();
  bool CreateMainWindow();
  void Shutdown();       // threaded: everything after the main loop
  bool WaitHosts(std::chrono::steady_clock::time_point deadline);
  void StopRecorders();
  void BeginShutdown();  // steps 2 and 3
  void EndShutdown();    // step 5

  platform::LRESULT MainProc(const platform::Message& m);
  platform::LRESULT EventProc(const platform::Message& m);
  void OnDestroyMain();
  void InactivityCheck(bool force);
  void OnWinEvents();
  void OnInput(platform::DesktopWindow window);
  void OnCopyData(const platform::Message& m);
  void OnTitleChanged(platform::DesktopWindow window);
  // A running document's instance went away: its visit ends unless its window still shows it.
  void CloseDocument(std::uint32_t key, std::uint32_t remaining);
  void PostToMain(std::uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam);
  void PostToEvents(std::uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam);
  void ReportError(std::uint32_t eventId, HRESULT hr) const;
  void ReportWarning(std::uint32_t eventId, HRESULT hr) const;
  // What the detector and its watchers call, from any thread; each only posts.
  class Sink;
  void ItemDetected(platform::DesktopWindow window, std::int32_t kind, std::uint32_t documentKey,
                    std::string item);
  void OnDocumentClosed(std::uint32_t key, std::uint32_t remaining);
  std::vector<WorkerHost*> Hosts();

  TracerPorts ports_;
  TracerOptions options_;
  TracerWriters writers_;
  std::unique_ptr<ItemDetector> detector_;
  std::unique_ptr<Sink> sink_;

  TracerFlags flags_;
  std::chrono::milliseconds timeout_{20000};
  int quitCode_ = 0;
  int exitCode_ = kExitOk;
  bool ended_ = false;
  bool shuttingDown_ = false;
  bool timerArmed_ = false;
  bool abandoned_ = false;
  std::atomic<bool> shutdownRequested_{false};

  std::unique_ptr<SessionLock> sessionLock_;
  // Declared before the recorders, so it outlives every call of recorderHost_.mailIdle.
  std::unique_ptr<platform::NamedEvent> mailEvent_;
  StartGate gate_;
  RecorderHost recorderHost_;
  std::unique_ptr<RecorderSet> recorders_;
  std::unique_ptr<VisitTable> table_;
  InputBuckets buckets_;
  std::unique_ptr<AccountingPass> pass_;
  std::unique_ptr<AccountingWorker> accountingWorker_;
  std::unique_ptr<LoopWorker> eventWorker_;
  std::unique_ptr<LoopWorker> mainWorker_;
  std::vector<std::unique_ptr<WorkerHost>> hosts_;  // in start order

  mutable std::mutex windowsMutex_;
  std::unique_ptr<platform::Window> mainWindow_;
  std::unique_ptr<platform::Window> eventWindow_;
  std::atomic<platform::Hwnd> hostWindow_{0};  // the manager's window, looked up again when gone
  bool gatePassed_ = false;

  platform::Desktop::HookId winEventHook_ = 0;
  std::unique_ptr<hooks::InputHooks> inputHooks_;
  platform::SessionSignals::ListenerId sessionListener_ = 0;

  std::mutex pendingMutex_;
  std::deque<platform::WinEvent> winEvents_;
  struct Detected {
    std::int32_t kind;
    std::uint32_t documentKey;
    std::string item;
  };
  std::map<std::int64_t, Detected> detected_;
  std::int64_t nextDetected_ = 1;
};

// "5.5" or later, read as numbers ("10.0" passes, "5.0" and "5" fail).
bool BrowserVersionSupported(std::string_view version);
// The inactivity time-out from the user's InactivityTimeout value (10..300 s, else 20 s).
std::chrono::milliseconds ReadInactivityTimeout(const Context& ctx);

}  // namespace qv::tracer
