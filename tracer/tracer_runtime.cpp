#include "tracer/tracer_runtime.h"


#include <malloc.h>

#include <algorithm>
#include <thread>

#include "context/event_report.h"
#include "context/registry_values.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "tracer/detection/desktop_item_detector.h"
#include "tracer/item_string.h"
#include "tracer/tracer_constants.h"

namespace qv::tracer {

using namespace qv::platform;
using hooks::KIVM_END_MAIL_VISITS;
using hooks::KIVM_INPUT;
using hooks::KIVM_LOCK_STATE;
using hooks::KIVM_SHUTDOWN;
using hooks::KIVM_TRACER_BUSY;

namespace {
constexpr std::string_view kBrowserKey = "Software\\Microsoft\\Internet Explorer";
constexpr std::size_t kMaxStepRounds = 1'000'000;
}  // namespace

// The runtime as the detector sees it: detections, and the document watchers' closes and
// failures. A separate object so that the detector can find DocumentSink by dynamic_cast.
class TracerRuntime::Sink final : public DetectionSink, public DocumentSink {
 public:
  explicit Sink(TracerRuntime& runtime) : runtime_(runtime) {}
  void ItemDetected(DesktopWindow window, std::int32_t kind, std::uint32_t documentKey,
                    std::string item) override {
    runtime_.ItemDetected(window, kind, documentKey, std::move(item));
  }
  void DocumentClosed(std::uint32_t key, std::uint32_t remaining) override {
    runtime_.OnDocumentClosed(key, remaining);
  }
  // A watcher that failed for good stops the tracer as any other internal fault does.
  void DetectorFailed() override { runtime_.PostToMain(KIVM_STOP, 0, 0); }

 private:
  TracerRuntime& runtime_;
};

bool BrowserVersionSupported(std::string_view version) {
  // Major and minor are numbers, not characters at fixed places: "10.0" is later than "5.5".
  auto number = [&](std::size_t& i, std::uint32_t& out) {
    const std::size_t start = i;
    out = 0;
    while (i < version.size() && version[i] >= '0' && version[i] <= '9' && i - start < 6) {
      out = out * 10 + static_cast<std::uint32_t>(version[i] - '0');
      ++i;
    }
    return i > start;
  };
  std::size_t i = 0;
  std::uint32_t major = 0, minor = 0;
  if (!number(i, major)) return false;
  if (i < version.size() && version[i] == '.') {
    ++i;
    if (!number(i, minor)) return false;
  }
  return major > 5 || (major == 5 && minor >= 5);
}

std::chrono::milliseconds ReadInactivityTimeout(const Context& ctx) {
  const std::uint32_t seconds =
      ReadDword(ctx.registry, Hive::CurrentUser, kVesperKey, kInactivityTimeoutValue,
                kDefaultInactivitySeconds, kMinInactivitySeconds, kMaxInactivitySeconds);
  return std::chrono::milliseconds(std::uint64_t{seconds} * 1000);
}

TracerRuntime::TracerRuntime(TracerPorts ports, TracerOptions options, TracerWriters writers,
                             std::unique_ptr<ItemDetector> detector)
    : ports_(ports),
      options_(std::move(options)),
      writers_(std::move(writers)),
      detector_(std::move(detector)),
      sink_(std::make_unique<Sink>(*this)),
      recorderHost_{ports.ctx} {
  recorderHost_.drainBound = options_.drainBound;
  const Clock& clock = ports_.ctx.clock;
  recorderHost_.criticalResume = [this] { return flags_.criticalResume.load(); };
  recorderHost_.busy = [this](std::uint64_t state) {
    Hwnd host = hostWindow_.load();
    if (host == 0) host = ports_.station.FindWindow(hooks::kHostWindowClass);
    if (host == 0) return;
    if (Failed(ports_.station.PostMessage(host, KIVM_TRACER_BUSY, state, 0))) host = 0;
    hostWindow_ = host;
  };
  recorderHost_.fatal = [this] { PostToMain(KIVM_STOP, 0, 0); };
  recorders_ = std::make_unique<RecorderSet>(recorderHost_, writers_.file, writers_.web,
                                             writers_.mail, writers_.takeSnapshot);
  table_ = std::make_unique<VisitTable>(VisitTableDeps{
      ports_.ctx, ports_.desktop, *recorders_,
      [this](std::string_view title, std::string_view path) {
        return detector_->ScoreTitle(title, path);
      },
      // Without a pass after the open, a window that nothing moves would never have its
      // visible share measured, and a visit read without input would gain no working time.
      [this] { accountingWorker_->Wake(); },
      // The input in the current bucket would otherwise be lost when a visit ends between
      // passes; passes run only when something wakes them, so that may be many seconds.
      [this](const Visit& v) {
        return buckets_.Take([&](DesktopWindow w) {
          // The window itself may be gone already (it was one when the input came).
          return w == v.window || ports_.desktop.IsDescendant(v.window, w);
        });
      }});
  pass_ = std::make_unique<AccountingPass>(
      *table_, buckets_, ports_.desktop, flags_, clock,
      [this](DesktopWindow w) { PostToEvents(KIVM_WINDOW_GONE, w, 0); });
  accountingWorker_ = std::make_unique<AccountingWorker>(*pass_, clock);
  mainWorker_ = std::make_unique<LoopWorker>("main", clock);
  eventWorker_ = std::make_unique<LoopWorker>("EventWindowWorker", clock, [this]() -> HRESULT {
    std::unique_ptr<Window> window;
    const HRESULT hr = ports_.station.CreateWindow(
        eventWorker_->loop(), {std::string(hooks::kTracerEventWindowClass), "", true},
        eventWorker_->Counted([this](const Message& m) { return EventProc(m); }), window);
    if (Failed(hr)) {
      ReportWarning(kEvEventWindow, hr);
      return hr;
    }
    std::lock_guard lock(windowsMutex_);
    eventWindow_ = std::move(window);
    return S_OK;
  });
}

TracerRuntime::~TracerRuntime() {
  // A tracer given up half-way still ends its threads cooperatively.
  if (!ended_ && !options_.manual) {
    gate_.SetStop(true);
    gate_.Open();
    accountingWorker_->RequestStop();
    StopRecorders();
    eventWorker_->loop().PostQuit(0);
    if (detector_) detector_->RequestStop();
  }
  for (auto& h : hosts_) h->Join();
}

void TracerRuntime::StopRecorders() { recorders_->RequestStop(); }

void TracerRuntime::RequestShutdown(const std::string& why) {
  ReportEvent(ports_.ctx, EventType::Information, kCategoryTracer, kEvStopRequested, {why});
  shutdownRequested_ = true;
  // What KIVM_SHUTDOWN does, keeping whether the manager asked to drop the open visits.
  PostToMain(WM_CLOSE, 0, 0);
}

Hwnd TracerRuntime::mainWindow() const {
  std::lock_guard lock(windowsMutex_);
  return mainWindow_ ? mainWindow_->handle() : 0;
}

Hwnd TracerRuntime::eventWindow() const {
  std::lock_guard lock(windowsMutex_);
  return eventWindow_ ? eventWindow_->handle() : 0;
}

void TracerRuntime::ReportError(std::uint32_t eventId, HRESULT hr) const {
  ReportEvent(ports_.ctx, EventType::Error, kCategoryTracer, eventId,
              {FormatLowWord(hr), SystemMessage(hr)});
}

void TracerRuntime::ReportWarning(std::uint32_t eventId, HRESULT hr) const {
  ReportEvent(ports_.ctx, EventType::Warning, kCategoryTracer, eventId,
              {FormatLowWord(hr), SystemMessage(hr)});
}

void TracerRuntime::PostToMain(std::uint32_t message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard lock(windowsMutex_);
  if (mainWindow_) mainWindow_->Post(message, wParam, lParam);
}

void TracerRuntime::PostToEvents(std::uint32_t message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard lock(windowsMutex_);
  if (eventWindow_) eventWindow_->Post(message, wParam, lParam);
}

std::vector<WorkerHost*> TracerRuntime::Hosts() {
  std::vector<WorkerHost*> out;
  for (auto& h : hosts_) out.push_back(h.get());
  return out;
}

// ---- start-up ---------------------------------------------------------------------------

HRESULT TracerRuntime::StartUp() {
  // 1. The marker, anywhere on the command line.
  bool marked = false;
  for (const auto& a : options_.args) {
    if (a.find(kStartMarker) != std::string::npos) marked = true;
  }
  if (!marked) return E_INVALIDARG;

  // 2. The start gate: one tracer per session.
  const HRESULT gate = SessionLock::Acquire(options_.sessionFolder, kStartGateName, sessionLock_);
  if (gate == S_FALSE) return HresultFromWin32(win32::ERROR_ALREADY_EXISTS);
  if (Failed(gate)) {
    ReportError(kEvSetupFailed, gate);
    return gate;
  }

  // The mail recorder's named event, signalled while no mail visit waits: the mail add-in
  // waits on it when the mail client quits. Without it the add-in does not wait, so a failure
  // costs only that wait and is logged.
  {
    std::unique_ptr<platform::NamedEvent> event;
    const HRESULT hr = platform::NamedEvent::Create(options_.sessionFolder,
                                                    hooks::kMailVisitsEventName, true, event);
    if (Failed(hr)) {
      ReportWarning(kEvSetupFailed, hr);
    } else {
      mailEvent_ = std::move(event);
      recorderHost_.mailIdle = [event = mailEvent_.get()](bool idle) {
        (void)(idle ? event->Set() : event->Reset());
      };
    }
  }

  // 3. Platform check: the browser, where one is registered, must be 5.5 or later.
  RegValue version;
  const std::int32_t rc =
      ports_.ctx.registry.GetValue(Hive::LocalMachine, kBrowserKey, "Version", version);
  if (rc != win32::ERROR_FILE_NOT_FOUND) {
    HRESULT hr = S_OK;
    if (rc != 0) {
      hr = HresultFromWin32(rc);
    } else if (version.type != RegType::Sz || !BrowserVersionSupported(version.text)) {
      hr = HresultFromWin32(win32::ERROR_NOT_SUPPORTED);
    }
    if (Failed(hr)) {
      ReportError(kEvPlatformCheck, hr);
      return hr;
    }
  }

  // 4. Configuration.
  timeout_ = ReadInactivityTimeout(ports_.ctx);

  // 5. The workers, in order, each prepared and waiting on the gate.
  std::vector<std::pair<Worker*, std::uint32_t>> order{
      {accountingWorker_.get(), kEvAccountingStart},
      {eventWorker_.get(), 0},
      {&recorders_->queue(RecorderKind::File), 0},
      {&recorders_->queue(RecorderKind::Web), 0},
      {&recorders_->queue(RecorderKind::Mail), 0}};
  if (detector_) {
    for (Worker* w : detector_->Workers()) order.emplace_back(w, 0);
  }
  for (auto [worker, eventId] : order) {
    auto host = std::make_unique<WorkerHost>(*worker, !options_.manual);
    const HRESULT hr = host->Start(gate_);
    hosts_.push_back(std::move(host));
    if (Failed(hr)) {
      if (eventId != 0) ReportError(eventId, hr);
      gate_.SetStop(true);
      gate_.Open();
      for (auto& h : hosts_) h->Join();
      return hr;
    }
  }
  return S_OK;
}

bool TracerRuntime::CreateMainWindow() {
  std::unique_ptr<Window> window;
  HRESULT hr = ports_.station.CreateWindow(
      mainWorker_->loop(),
      {std::string(hooks::kTracerWindowClass), std::string(hooks::kTracerWindowTitle), false},
      mainWorker_->Counted([this](const Message& m) { return MainProc(m); }), window);
  if (Failed(hr)) {
    ReportError(kEvSetupFailed, hr);
    return false;
  }
  {
    std::lock_guard lock(windowsMutex_);
    mainWindow_ = std::move(window);
  }
  // What the window's creation does: the WinEvent hook, the input hooks, the first check.
  std::int32_t error = 0;
  winEventHook_ = ports_.desktop.AddWinEventHook(
      [this](const WinEvent& e) {
        bool first = false;
        {
          std::lock_guard lock(pendingMutex_);
          first = winEvents_.empty();
          winEvents_.push_back(e);
        }
        if (first) PostToMain(KIVM_WINEVENTS, 0, 0);
      },
      error);
  if (winEventHook_ == 0) {
    hr = HresultFromWin32(error != 0 ? error : win32::ERROR_INVALID_PARAMETER);
  } else {
    inputHooks_ = std::make_unique<hooks::InputHooks>(ports_.input, ports_.station);
    hr = inputHooks_->Install();
  }
  if (Failed(hr)) {
    ReportError(kEvSetupFailed, hr);
    if (winEventHook_ != 0) ports_.desktop.RemoveWinEventHook(winEventHook_, error);
    winEventHook_ = 0;
    inputHooks_.reset();
    std::lock_guard lock(windowsMutex_);
    mainWindow_.reset();
    return false;
  }
  sessionListener_ = ports_.session.Subscribe([this](SessionEvent e) {
    if (e == SessionEvent::Suspend) PostToMain(WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    if (e == SessionEvent::Resume) PostToMain(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    // The user's session or the machine going away ends the tracer as the manager would.
    if (e == SessionEvent::SessionEnd) RequestShutdown("the login session ended");
    if (e == SessionEvent::SystemShutdown) RequestShutdown("the system is shutting down");
  });
  flags_.screenSaver = ports_.session.ScreenSaverRunning();
  flags_.locked = false;
  std::uint32_t tick = 0;
  if (!ports_.input.LastInputTick(tick)) {
    ReportWarning(kEvNoLastInput, HresultFromWin32(win32::ERROR_NOT_SUPPORTED));
    std::lock_guard lock(windowsMutex_);
    mainWindow_->SetTimer(kInactivityTimerId, timeout_);
    timerArmed_ = true;
  } else {
    InactivityCheck(true);
  }
  return true;
}

int TracerRuntime::Run() {
  if (Failed(StartUp())) {
    exitCode_ = kExitFailed;
    ended_ = true;
    return exitCode_;
  }
  bool windowMade = CreateMainWindow();
  if (windowMade) {
    gatePassed_ = true;
    gate_.SetStop(false);
    gate_.Open();
    if (shutdownRequested_) PostToMain(WM_CLOSE, 0, 0);  // asked for before the window was up
    quitCode_ = mainWorker_->loop().Run();
  }
  exitCode_ = windowMade && quitCode_ == 0 ? kExitOk : kExitFailed;
  Shutdown();
  return exitCode_;
}

HRESULT TracerRuntime::Start() {
  const HRESULT hr = StartUp();
  if (Failed(hr)) {
    exitCode_ = kExitFailed;
    ended_ = true;
    return hr;
  }
  if (!CreateMainWindow()) {
    exitCode_ = kExitFailed;
    BeginShutdown();
    EndShutdown();
    return E_FAIL;
  }
  gatePassed_ = true;
  gate_.SetStop(false);
  gate_.Open();
  if (shutdownRequested_) PostToMain(WM_CLOSE, 0, 0);
  return S_OK;
}

// ---- shutdown ---------------------------------------------------------------------------

void TracerRuntime::BeginShutdown() {
  shuttingDown_ = true;
  {
    std::lock_guard lock(windowsMutex_);
    mainWindow_.reset();
  }
  gate_.SetStop(true);
  gate_.Open();
  accountingWorker_->RequestStop();
  if (detector_) detector_->RequestStop();
  if (gatePassed_) {
    // The event window records or drops the open visits, then stops the recorders.
    PostToEvents(WM_CLOSE, 0, 0);
  } else {
    StopRecorders();
    eventWorker_->loop().PostQuit(0);
  }
}

bool TracerRuntime::WaitHosts(std::chrono::steady_clock::time_point deadline) {
  bool ended = true;
  for (auto& h : hosts_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!h->WaitEnded(std::max(left, std::chrono::milliseconds(0)))) ended = false;
  }
  return ended;
}

void TracerRuntime::Shutdown() {
  BeginShutdown();
  // Workers stop cooperatively. Recorders go on recording what is queued for the drain bound;
  // past it their downloads are cancelled and each queue logs and drops what is left. A
  // writer that still has not returned after the stop wait is given up rather than waited for
  // without end: the visits it held are logged, and the caller ends the process (the stores
  // survive an interrupted write as they survive a killed process).
  bool ended = WaitHosts(std::chrono::steady_clock::now() + options_.drainBound);
  if (!ended) {
    if (writers_.cancel) writers_.cancel();
    ended = WaitHosts(std::chrono::steady_clock::now() + options_.stopWait);
  }
  if (ended) {
    for (auto& h : hosts_) h->Join();
  } else {
    ReportError(kEvThreadsTerminated, HresultFromWin32(win32::ERROR_TIMEOUT));
    recorders_->ReportLeft();
    abandoned_ = true;
  }
  EndShutdown();
}

void TracerRuntime::EndShutdown() {
  {
    std::lock_guard lock(windowsMutex_);
    mainWindow_.reset();
    eventWindow_.reset();
  }
  sessionLock_.reset();
  ended_ = true;
}

void TracerRuntime::RunUntilIdle() {
  if (ended_) return;
  for (std::size_t round = 0; round < kMaxStepRounds; ++round) {
    bool worked = false;
    if (!shuttingDown_) {
      const Step s = mainWorker_->RunReady();
      if (s == Step::Finished) {
        quitCode_ = mainWorker_->loop().quitCode().value_or(0);
        exitCode_ = quitCode_ == 0 ? exitCode_ : kExitFailed;
        BeginShutdown();
      }
      worked = worked || s != Step::Idle;
    }
    for (auto& h : hosts_) {
      if (!h->Finished() && h->RunStep() != Step::Idle) worked = true;
    }
    if (!worked) break;
  }
  if (shuttingDown_ &&
      std::all_of(hosts_.begin(), hosts_.end(), [](const auto& h) { return h->Finished(); })) {
    EndShutdown();
  }
}

void TracerRuntime::RunWhile(const std::function<void()>& action) {
  std::atomic<bool> done{false};
  std::thread helper([&] {
    action();
    done = true;
  });
  while (!done) {
    RunUntilIdle();
    std::this_thread::yield();
  }
  helper.join();
  RunUntilIdle();
}

void TracerRuntime::Settle() {
  const Hwnd targets[] = {mainWindow(), eventWindow()};
  RunWhile([&] {
    for (Hwnd h : targets) {
      if (h != 0) {
        ports_.station.SendMessageTimeout(h, WM_NULL, 0, 0, SMTO_NORMAL,
                                          std::chrono::milliseconds(5000));
      }
    }
  });
}

void TracerRuntime::Advance(ManualClock& clock, std::chrono::milliseconds d) {
  constexpr std::chrono::milliseconds kStep{100};
  RunUntilIdle();
  while (d > std::chrono::milliseconds(0) && !ended_) {
    const auto step = std::min(d, kStep);
    clock.Advance(step);
    d -= step;
    RunUntilIdle();
  }
}

// ---- the main window --------------------------------------------------------------------

LRESULT TracerRuntime::MainProc(const Message& m) {
  switch (m.message) {
    case WM_TIMER:
      if (m.wParam == kInactivityTimerId) InactivityCheck(false);
      return 0;
    case WM_POWERBROADCAST:
      switch (m.wParam) {
        case PBT_APMSUSPEND: flags_.suspended = true; break;
        case PBT_APMRESUMECRITICAL:
          flags_.criticalResume = true;
          flags_.suspended = false;
          break;
        case PBT_APMRESUMESUSPEND:
          flags_.suspended = false;
          flags_.criticalResume = false;
          break;
        default: return 0;
      }
      accountingWorker_->Wake();
      return 0;
    case KIVM_STOP:
      ReportEvent(ports_.ctx, EventType::Error, kCategoryTracer, kEvFatalStop, {});
      quitCode_ = kExitFailed;
      PostToMain(WM_CLOSE, 0, 0);
      return 0;
    case KIVM_LOCK_STATE:
      switch (m.wParam) {
        case hooks::kLockStateLocked: flags_.locked = true; break;
        case hooks::kLockStateUnlocked: flags_.locked = false; break;
        case hooks::kLockStateScreenSaverStarted: flags_.screenSaver = true; break;
        case hooks::kLockStateScreenSaverStopped: flags_.screenSaver = false; break;
        default: break;
      }
      accountingWorker_->Wake();
      return 0;
    case KIVM_SHUTDOWN:
      flags_.discardOpenVisits = m.wParam != 0;
      PostToMain(WM_CLOSE, 0, 0);
      return 0;
    case KIVM_INPUT:
      OnInput(static_cast<DesktopWindow>(m.lParam));
      return 0;
    case KIVM_WINEVENTS:
      OnWinEvents();
      return 0;
    case WM_CLOSE:
      OnDestroyMain();
      return 0;
    default:
      return 0;
  }
}

void TracerRuntime::OnDestroyMain() {
  std::int32_t error = 0;
  {
    std::lock_guard lock(windowsMutex_);
    if (!mainWindow_) return;
    mainWindow_->KillTimer(kInactivityTimerId);
    timerArmed_ = false;
  }
  if (winEventHook_ != 0) ports_.desktop.RemoveWinEventHook(winEventHook_, error);
  winEventHook_ = 0;
  if (inputHooks_) {
    const HRESULT hr = inputHooks_->Remove();
    if (Failed(hr)) ReportError(kEvRemoveHooks, hr);
  }
  if (sessionListener_ != 0) ports_.session.Unsubscribe(sessionListener_);
  sessionListener_ = 0;
  mainWorker_->loop().PostQuit(quitCode_);
  std::lock_guard lock(windowsMutex_);
  mainWindow_.reset();
}

void TracerRuntime::InactivityCheck(bool force) {
  std::uint32_t last = 0;
  if (!ports_.input.LastInputTick(last)) {
    ReportWarning(kEvNoLastInput, HresultFromWin32(win32::ERROR_NOT_SUPPORTED));
    return;
  }
  // Unsigned 32-bit difference: right across the tick count's wrap.
  const std::uint32_t idle = ports_.ctx.clock.Tick() - last;
  const auto timeout = static_cast<std::uint32_t>(timeout_.count());
  const bool was = flags_.userActive;
  const bool active = idle < timeout;
  {
    std::lock_guard lock(windowsMutex_);
    if (!mainWindow_) return;
    if (active) {
      mainWindow_->SetTimer(kInactivityTimerId, std::chrono::milliseconds(timeout - idle));
    } else {
      mainWindow_->KillTimer(kInactivityTimerId);
    }
    timerArmed_ = active;
  }
  if (active != was || force) {
    flags_.userActive = active;
    accountingWorker_->Wake();
  }
  if (was && !active) ::malloc_trim(0);  // the working-set trim of an idle session
}

void TracerRuntime::OnWinEvents() {
  std::deque<WinEvent> events;
  {
    std::lock_guard lock(pendingMutex_);
    events.swap(winEvents_);
  }
  for (const WinEvent& e : events) {
    // Hide events of recent pop-ups (menus, tool tips) are not the user's work.
    if (detector_ && !detector_->PassEvent(e)) continue;
    if (!flags_.userActive) {
      const bool qualifies =
          (e.event >= EVENT_SYSTEM_FOREGROUND && e.event <= EVENT_SYSTEM_MINIMIZEEND) ||
          e.objectId == OBJID_CURSOR ||
          (e.thread != 0 && e.thread == ports_.desktop.WindowThread(ports_.desktop.Foreground()));
      if (qualifies) InactivityCheck(false);
    }
    if (e.objectId == OBJID_WINDOW) {
      if (detector_) detector_->OnWindowEvent(e, *sink_);
      if (e.event == EVENT_OBJECT_DESTROY) {
        if (const auto info = table_->Find(e.window)) {
          // Reported visits end through their reporter (or the missing-window rule); running
          // documents through their watcher.
          const bool watched = info->kind == kKindDocument && info->documentKey != 0;
          if (info->kind != kKindReported && !watched) {
            PostToEvents(KIVM_WINDOW_GONE, e.window, info->kind);
          }
        }
      } else if (e.event == EVENT_OBJECT_NAMECHANGE && e.childId == CHILDID_SELF) {
        if (const auto info = table_->Find(e.window); info && info->kind >= kKindDocument) {
          PostToEvents(KIVM_TITLE_CHANGED, 0, static_cast<LPARAM>(e.window));
        }
      }
    }
    const bool accountingEvent =
        e.event == EVENT_SYSTEM_FOREGROUND ||
        (e.event >= EVENT_OBJECT_CREATE && e.event <= EVENT_OBJECT_HIDE) ||
        e.event == EVENT_OBJECT_LOCATIONCHANGE;
    if (accountingEvent && e.objectId == OBJID_WINDOW && e.childId == CHILDID_SELF &&
        table_->Size() != 0) {
      accountingWorker_->Wake();
    }
  }
}

void TracerRuntime::OnInput(DesktopWindow window) {
  if (!flags_.userActive) InactivityCheck(false);
  if (table_->Size() == 0) return;
  const std::int64_t now = ports_.ctx.clock.Monotonic().count() / 100;
  if (buckets_.Credit(window, now, [this](DesktopWindow w) { return ports_.desktop.IsWindow(w); })) {
    accountingWorker_->Wake();
  }
}

void TracerRuntime::ItemDetected(DesktopWindow window, std::int32_t kind,
                                 std::uint32_t documentKey, std::string item) {
  std::int64_t id = 0;
  {
    std::lock_guard lock(pendingMutex_);
    id = nextDetected_++;
    detected_[id] = Detected{kind, documentKey, std::move(item)};
  }
  PostToEvents(KIVM_ITEM_DETECTED, window, id);
}

void TracerRuntime::OnDocumentClosed(std::uint32_t key, std::uint32_t remaining) {
  PostToEvents(KIVM_DOCUMENT_CLOSED, key, static_cast<LPARAM>(remaining));
}

// ---- the event window -------------------------------------------------------------------

LRESULT TracerRuntime::EventProc(const Message& m) {
  switch (m.message) {
    case WM_COPYDATA:
      OnCopyData(m);
      return 1;  // always TRUE
    case KIVM_END_MAIL_VISITS:
      table_->CloseMailVisits();
      return 0;
    case KIVM_WINDOW_GONE:
      table_->Close(static_cast<DesktopWindow>(m.wParam), static_cast<std::int32_t>(m.lParam));
      return 0;
    case KIVM_TITLE_CHANGED:
      OnTitleChanged(static_cast<DesktopWindow>(m.lParam));
      return 0;
    case KIVM_DOCUMENT_CLOSED:
      CloseDocument(static_cast<std::uint32_t>(m.wParam), static_cast<std::uint32_t>(m.lParam));
      return 0;
    case KIVM_ITEM_DETECTED: {
      Detected d;
      {
        std::lock_guard lock(pendingMutex_);
        auto it = detected_.find(m.lParam);
        if (it == detected_.end()) return 0;
        d = std::move(it->second);
        detected_.erase(it);
      }
      table_->Open(static_cast<DesktopWindow>(m.wParam), d.kind, d.documentKey, d.item,
                   hooks::KIV_VF_TRACK, "");
      return 0;
    }
    case WM_CLOSE: {
      table_->CloseAll(flags_.discardOpenVisits);
      StopRecorders();
      eventWorker_->loop().PostQuit(0);
      std::lock_guard lock(windowsMutex_);
      eventWindow_.reset();
      return 0;
    }
    default:
      return 0;
  }
}

void TracerRuntime::OnCopyData(const Message& m) {
  if (!m.copyData) return;
  VisitMessage msg;
  if (Failed(ParseVisitMessage(*m.copyData, msg))) {
    ReportItemWarning(ports_.ctx, kCategoryTracer, kEvVisitCopy, "Unknown", E_INVALIDARG);
  }
  const auto window = static_cast<DesktopWindow>(m.wParam);
  switch (msg.operation) {
    case hooks::KIV_VISIT_START:
      table_->Open(window, kKindReported, 0, msg.identifier, msg.flags, msg.frameData);
      break;
    case hooks::KIV_VISIT_END:
      table_->Close(window, kKindReported, VisitChange{msg.identifier, msg.flags, msg.frameData});
      break;
    case hooks::KIV_VISIT_UPDATE:
      table_->Change(window, VisitChange{msg.identifier, msg.flags, msg.frameData});
      break;
    default:
      ReportWarning(kEvUnknownOperation, E_INVALIDARG);
      break;
  }
}

void TracerRuntime::OnTitleChanged(DesktopWindow window) {
  const auto info = table_->Find(window);
  if (!info || info->kind != kKindDocument || info->documentKey != 0) return;
  WindowState state;
  const std::string title = ports_.desktop.GetWindow(window, state) ? state.title : "";
  if (detector_ && detector_->ScoreTitle(title, info->source) == 0) {
    table_->Close(window, kKindDocument);
  }
}

void TracerRuntime::CloseDocument(std::uint32_t key, std::uint32_t remaining) {
  if (key == 0) return;  // documents from the Recent folder end with their windows
  struct Candidate {
    DesktopWindow window;
    std::string source;
  };
  std::vector<Candidate> candidates;
  table_->ForEachShared([&](const Visit& v) {
    if (v.kind == kKindDocument && v.documentKey == key) candidates.push_back({v.window, v.source});
  });
  for (const auto& c : candidates) {
    // Another instance may still be open, but the window no longer shows this document
    // when its title stopped naming the path (or the window is gone).
    bool shown = false;
    if (remaining != 0) {
      WindowState state;
      shown = ports_.desktop.GetWindow(c.window, state) && detector_ &&
              detector_->ScoreTitle(state.title, c.source) != 0;
    }
    if (!shown) table_->Close(c.window, kKindDocument);
  }
}

}  // namespace qv::tracer
