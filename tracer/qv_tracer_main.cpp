// QvTracer: the per-user activity tracer. The runtime manager starts it with its start marker;
// it runs until KIVM_SHUTDOWN, SIGTERM, SIGHUP or SIGINT, or until its display or session goes
// away, and every one of those ends it in order with the open visits recorded. It follows the
// X11 desktop named by DISPLAY, or, with a session script, a simulated desktop the script
// drives (for tests and the demo). Finished visits are journaled and ranked, or written as
// lines. `QvTracer --stop` stops the session's tracer.
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "context/context.h"
#include "context/event_report.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "hooks/QvWLNP/session_relay.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/messaging/runtime_folder.h"
#include "platform/messaging/socket_transport.h"
#include "platform/browser/url_history.h"
#include "platform/desktop/logind_session.h"
#include "platform/desktop/sim_desktop.h"
#include "platform/desktop/sim_input.h"
#include "platform/desktop/sim_session_signals.h"
#ifdef QV_HAVE_X11
#include "platform/desktop/desktop_session.h"
#include "platform/desktop/x11_desktop.h"
#include "platform/desktop/x11_input.h"
#endif
#include "provider/journal/journal.h"
#include "provider/journal/window_notifier.h"
#include "provider/ranking/file_ranking.h"
#include "service/QvRankingSvc/service_client.h"
#include "provider/urlmon/kiv_urlmon.h"
#include "tracer/detection/desktop_item_detector.h"
#include "tracer/line_writer.h"
#include "tracer/recording/visit_writers.h"
#include "tracer/session_script.h"
#include "tracer/stop_command.h"
#include "tracer/stop_requests.h"
#include "tracer/tracer_constants.h"
#include "tracer/tracer_runtime.h"

namespace {

using namespace qv;
using namespace qv::tracer;
using namespace std::chrono_literals;

constexpr std::uintmax_t kMaxScriptBytes = 16 * 1024 * 1024;
// How long --stop waits for the tracer to end: its whole bounded shutdown, and some more.
constexpr std::chrono::milliseconds kStopCommandWait =
    kRecorderDrainBound + kWorkerStopWait + std::chrono::seconds(5);

void Usage(std::ostream& out) {
  out << "Usage: QvTracer [--script FILE [--realtime]] [--visits-out FILE] START-MARKER\n"
         "       QvTracer --stop\n"
         "Follows the user's work on the desktop and turns it into visits. The runtime manager\n"
         "starts it with its start marker, which must appear on the command line:\n"
         "  QvTracer " << kStartMarker << "\n"
         "One tracer runs per session. Without --script it follows the X11 display named by\n"
         "DISPLAY. It runs until it is told to shut down: by the runtime manager, by\n"
         "QvTracer --stop, by SIGTERM, SIGHUP or SIGINT (Ctrl-C), or when the X display or the\n"
         "login session goes away. Each of these records the visits in progress before it ends.\n"
         "  --stop             tell the session's tracer to shut down and wait until it has\n"
         "                     ended (at most " << kStopCommandWait.count() / 1000 << " s); exit 0 when one was stopped, 1 when\n"
         "                     none ran, 3 when it still runs after the wait\n"
         "  --script FILE      replay a session script on the simulated desktop, on a clock of\n"
         "                     its own, then shut down recording the open visits\n"
         "  --realtime         play the script at its real pace and keep running afterwards\n"
         "  --visits-out FILE  append each finished visit as one line to FILE (- for stdout)\n"
         "                     instead of recording it; without it every finished visit is\n"
         "                     journaled and ranked\n"
         "Exit codes: 0 after an orderly shutdown; 255 when start-up fails (no marker, another\n"
         "tracer in this session, a failed check), the main window cannot be created, or the\n"
         "tracer stopped on an internal error (see the Application event log); 2 for bad\n"
         "options.\n";
}

std::unique_ptr<platform::WindowStation> Station(const std::filesystem::path& folder,
                                                 const platform::EventLog& log,
                                                 const Clock& clock) {
  platform::SocketTransportOptions options;
  options.folder = folder;
  options.eventLog = &log;
  options.uid = ::getuid();
  std::shared_ptr<platform::SocketTransport> transport;
  if (Failed(platform::SocketTransport::Open(std::move(options), clock, transport))) return nullptr;
  return std::make_unique<platform::WindowStation>(std::move(transport), clock);
}

// --stop: the session's tracer is told to shut down; 0 stopped, 1 none ran, 2 no usable
// session folder, 3 still running after the wait.
int StopCommand() {
  std::filesystem::path folder;
  const HRESULT hr = platform::OpenRuntimeFolder(folder);
  SystemClock clock;
  const platform::EventLog eventLog(platform::DefaultRoot(), clock);
  auto station = Succeeded(hr) ? Station(folder, eventLog, clock) : nullptr;
  if (!station) {
    std::cerr << "QvTracer: the session's runtime folder cannot be used (" << FormatHresult(hr)
              << "); check XDG_RUNTIME_DIR\n";
    return 2;
  }
  return StopSessionTracer(folder, *station, kStopCommandWait, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  std::vector<std::string> args;
  std::string scriptPath, visitsOut;
  bool realtime = false, stop = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      Usage(std::cout);
      return 0;
    }
    if (a == "--script" || a == "--visits-out") {
      if (i + 1 >= argc || *argv[i + 1] == '\0') {
        std::cerr << "QvTracer: " << a << " needs a FILE; try --help\n";
        return 2;
      }
      (a == "--script" ? scriptPath : visitsOut) = argv[++i];
    } else if (a == "--realtime") {
      realtime = true;
    } else if (a == "--stop") {
      stop = true;
    } else if (a.rfind("--", 0) == 0) {
      std::cerr << "QvTracer: unknown option '" << a << "'; try --help\n";
      return 2;
    } else {
      args.push_back(a);
    }
  }
  if (stop) {
    if (!args.empty() || !scriptPath.empty() || !visitsOut.empty() || realtime) {
      std::cerr << "QvTracer: --stop takes no other arguments; try --help\n";
      return 2;
    }
    return StopCommand();
  }
  if (realtime && scriptPath.empty()) {
    std::cerr << "QvTracer: --realtime needs --script FILE; try --help\n";
    return 2;
  }
  // Stop signals are read from a signalfd by a thread of their own: blocked here, before any
  // thread exists, so that every thread started later has them blocked too.
  StopRequests::BlockSignals();
  StopRequests stops;
  // Without a script the tracer follows the real desktop, which needs an X display.
  const bool realDesktop = scriptPath.empty();
  const char* display = std::getenv("DISPLAY");
  if (realDesktop && (display == nullptr || *display == '\0')) {
    std::cerr << "QvTracer: no X display to follow (DISPLAY is not set); set DISPLAY to the "
                 "user's display, or use --script FILE to replay a session on the simulated "
                 "desktop\n";
    return 2;
  }
#ifndef QV_HAVE_X11
  if (realDesktop) {
    std::cerr << "QvTracer: this build has no X11 support (the X11, XInput and XScreenSaver "
                 "development files were missing); rebuild with them, or use --script FILE\n";
    return 2;
  }
#endif

  SessionScript script;
  if (!scriptPath.empty()) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(scriptPath, ec);
    std::ifstream in(scriptPath, std::ios::binary);
    if (ec || !in || size > kMaxScriptBytes) {
      std::cerr << "QvTracer: cannot read the script '" << scriptPath
                << "' (missing, unreadable or over 16 MB); check the path\n";
      return 2;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    if (Failed(ParseSessionScript(text.str(), script, error))) {
      std::cerr << "QvTracer: " << scriptPath << " " << error << "; fix the script\n";
      return 2;
    }
  }

  SystemClock systemClock;
  const bool manual = !scriptPath.empty() && !realtime;
  std::unique_ptr<ManualClock> manualClock;
  if (manual) {
    manualClock = std::make_unique<ManualClock>(script.start.value_or(systemClock.Now()),
                                                systemClock.Tick());
  }
  const Clock& clock = manual ? static_cast<const Clock&>(*manualClock) : systemClock;

  const std::filesystem::path root = platform::DefaultRoot();
  platform::Registry registry(root);
  platform::EventLog eventLog(root, clock);
  (void)PreparePrivateRoot(root, eventLog);  // a failure shows when the stores are used
  platform::ClassRegistry classes;
  Context ctx{root, registry, eventLog, clock, classes, SystemUserName};

  // The session's runtime folder holds the windows and the start gate. Sockets and their
  // time-outs run on real time even when the tracer's clock is a script's.
  std::filesystem::path folder;
  HRESULT hr = platform::OpenRuntimeFolder(folder);
  auto station = Succeeded(hr) ? Station(folder, eventLog, systemClock) : nullptr;
  auto client = Succeeded(hr) ? Station(folder, eventLog, systemClock) : nullptr;
  if (!station || !client) {
    ReportEvent(ctx, platform::EventType::Error, kCategoryTracer, kEvSetupFailed,
                {FormatLowWord(hr), SystemMessage(hr)});
    std::cerr << "QvTracer: the session's runtime folder cannot be used ("
              << FormatHresult(hr) << "); check XDG_RUNTIME_DIR\n";
    return 255;
  }

  // The simulated desktop is what a script drives; the real one is X11 with logind's lock
  // and sleep notices and the X server's screen saver (a missing source is logged once).
  platform::SimDesktop simDesktop;
  platform::SimInput simInput(clock);
  platform::SimSessionSignals simSession;
  platform::Desktop* desktopPort = &simDesktop;
  platform::InputSource* inputPort = &simInput;
  platform::SessionSignals* sessionPort = &simSession;
#ifdef QV_HAVE_X11
  std::unique_ptr<platform::X11Desktop> x11Desktop;
  std::unique_ptr<platform::X11Input> x11Input;
  std::unique_ptr<platform::SessionSignals> desktopSession;
  if (realDesktop) {
    HRESULT xhr = S_OK;
    // A lost display (logout, the X server gone) is a shutdown, not a crash.
    auto lost = [&stops] { stops.Request(StopCause::DisplayLost); };
    x11Desktop = platform::X11Desktop::Connect(display, xhr, lost);
    if (x11Desktop) x11Input = platform::X11Input::Connect(display, clock, xhr, lost);
    if (!x11Desktop || !x11Input) {
      ReportEvent(ctx, platform::EventType::Error, kCategoryTracer, kEvSetupFailed,
                  {FormatLowWord(xhr), SystemMessage(xhr)});
      std::cerr << "QvTracer: cannot follow the X display '" << display << "' ("
                << FormatHresult(xhr) << "); check DISPLAY and that the server has the "
                << "XInput 2 extension, or use --script FILE\n";
      return 255;
    }
    desktopPort = x11Desktop.get();
    inputPort = x11Input.get();
    desktopSession = platform::ConnectDesktopSession(display, &eventLog);
    sessionPort = desktopSession.get();
  }
#endif
  platform::Desktop& desktop = *desktopPort;
  platform::InputSource& input = *inputPort;
  platform::SessionSignals& session = *sessionPort;
  hooks::SessionRelay relay(session, folder, systemClock);
  // Finished visits are either written as lines (--visits-out) or journaled and ranked.
  LineSink sink;
  std::unique_ptr<VisitWriter> fileWriter, webWriter, mailWriter;
  std::function<void(Visit&)> takeSnapshot;
  std::stop_source recordersStop;
  if (!visitsOut.empty()) {
    if (!sink.Open(visitsOut)) {
      std::cerr << "QvTracer: cannot open '" << visitsOut << "' for the visits; check the path\n";
      return 2;
    }
    fileWriter = std::make_unique<LineVisitWriter>(RecorderKind::File, sink);
    webWriter = std::make_unique<LineVisitWriter>(RecorderKind::Web, sink);
    mailWriter = std::make_unique<LineVisitWriter>(RecorderKind::Mail, sink);
  } else {
    RegisterRankingClasses(ctx);
    // A visit to a file another program holds locked goes to the ranking service.
    service::ServiceClientOptions rankingService;
    rankingService.root = ctx.root;
    service::RegisterKivListenerProxy(ctx.classes, std::move(rankingService));
    std::shared_ptr<journal::JournalNotifier> notifier;
    if (Failed(journal::OpenWindowJournalNotifier(ctx, notifier))) notifier = nullptr;
    journal::RegisterJournalClass(ctx.classes, ctx, notifier);
    urlmon::RegisterWebHistoryClasses(ctx);
    std::unique_ptr<platform::UrlHistory> history;
    std::shared_ptr<platform::UrlHistory> shared;
    if (platform::UrlHistory::Open(root, history) == 0) shared = std::move(history);
    const WriterHost host{ctx, recordersStop.get_token()};
    fileWriter = std::make_unique<FileWriter>(host);
    webWriter = std::make_unique<WebWriter>(host, shared);
    // The mail add-in's ranking object is served from the mail client's process through the
    // session's running object table; without the table, no mail visit finds it.
    std::shared_ptr<RunningObjectTable> rot = std::make_shared<RunningObjectTable>();
    if (std::filesystem::path rotFolder;
        Succeeded(platform::SessionRunningObjectsFolder(rotFolder))) {
      rot = std::make_shared<RunningObjectTable>(
          std::make_shared<platform::RunningObjects>(
              platform::RunningObjectsOptions{rotFolder, ::getuid(), {}}),
          systemClock);
    }
    mailWriter = std::make_unique<MailWriter>(host, std::move(rot), LogonSessionId());
    takeSnapshot = [&ctx](Visit& v) { TakeRankingSnapshot(ctx, v); };
  }
  TracerRuntime tracer(TracerPorts{ctx, desktop, input, session, *station},
                       TracerOptions{args, folder, manual},
                       TracerWriters{*fileWriter, *webWriter, *mailWriter, takeSnapshot,
                                     [&recordersStop] { recordersStop.request_stop(); }},
                       realDesktop
                           ? MakeLinuxItemDetector(
                                 ctx, desktop,
                                 platform::KnownFolderPath(root, platform::KnownFolder::Recent))
                           : std::make_unique<TitlePathDetector>(desktop));
  const ScriptTargets targets{simDesktop, simInput, simSession, *client};
  // Signals and the display or session going away shut the tracer down in order.
  stops.Start([&tracer](const std::string& why) { tracer.RequestShutdown(why); });
  // Its thread calls the tracer: it ends before the tracer does, on every way out of main.
  const struct StopFirst {
    StopRequests& stops;
    ~StopFirst() { stops.Stop(); }
  } stopFirst{stops};
  auto report = [](const std::vector<std::string>& failures) {
    for (const auto& f : failures) std::cerr << "QvTracer: script " << f << "\n";
  };

  if (manual) {
    if (Failed(tracer.Start())) return tracer.ExitCode();
    std::int64_t elapsed = 0;
    report(PlaySessionScript(
        script, targets,
        [&](std::int64_t ms) {
          if (ms > elapsed) tracer.Advance(*manualClock, std::chrono::milliseconds(ms - elapsed));
          elapsed = std::max(elapsed, ms);
        },
        [&](const std::function<void()>& action) {
          tracer.RunWhile(action);
          tracer.Settle();
        }));
    if (!tracer.Ended()) {
      // The script is over: shut down as the manager would, recording what is open.
      tracer.RunWhile([&] {
        client->PostMessage(client->FindWindow(hooks::kTracerWindowClass), hooks::KIVM_SHUTDOWN,
                            0, 0);
      });
      tracer.Settle();
    }
    while (!tracer.Ended()) tracer.Advance(*manualClock, 100ms);
    return tracer.ExitCode();
  }

  std::atomic<bool> over{false};
  std::thread player;
  if (!scriptPath.empty()) {
    player = std::thread([&] {
      // The script starts once the tracer's window is up.
      const auto giveUp = std::chrono::steady_clock::now() + 10s;
      while (!over && client->FindWindow(hooks::kTracerWindowClass) == 0 &&
             std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(10ms);
      }
      const auto t0 = std::chrono::steady_clock::now();
      report(PlaySessionScript(
          script, targets,
          [&](std::int64_t ms) {
            const auto due = t0 + std::chrono::milliseconds(ms);
            while (!over && std::chrono::steady_clock::now() < due) {
              std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                  due - std::chrono::steady_clock::now(), 50ms));
            }
          },
          [&](const std::function<void()>& action) {
            if (!over) action();
          }));
    });
  }
  const int code = tracer.Run();
  over = true;
  if (player.joinable()) player.join();
  stops.Stop();
  if (tracer.Abandoned()) {
    // A writer did not return within the shutdown's bounds (what it held is in the event log):
    // end now instead of waiting for it without end. Its windows and gate are gone already.
    std::cout.flush();
    std::_Exit(code & 0xFF);
  }
  return code;
}
