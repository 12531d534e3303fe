// The built QvTracer in a process of its own, over the real sockets of a private runtime
// folder: a scripted session, a running tracer that another process talks to, and every way
// of stopping it (signals, --stop) ending with the visit in hand journaled and ranked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "context/context.h"
#include "common/temp_dir.h"
#include "common/utf.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "hooks/QvHooks/visit_client.h"
#include "platform/messaging/socket_transport.h"
#include "platform/messaging/window_station.h"
#include "provider/ranking/file_ranking.h"
#include "tracer/tracer_constants.h"

namespace qv::tracer {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::vector<std::string>> Lines(const std::string& text) {
  std::vector<std::vector<std::string>> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
      fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    out.push_back(fields);
  }
  return out;
}

class QvTracerProgramTest : public ::testing::Test {
 protected:
  QvTracerProgramTest() {
    runtime_ = dir_.path() / "run";
    fs::create_directories(runtime_);
    fs::permissions(runtime_, fs::perms::owner_all);
  }

  pid_t Spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    std::string prog = QVTRACER_PATH;
    argv.push_back(prog.data());
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string env1 = "XDG_RUNTIME_DIR=" + runtime_.string();
    const std::string env2 = "QV_ROOT=" + (dir_.path() / "root").string();
    const fs::path err = dir_.path() / ("stderr" + std::to_string(++runs_));
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int in = ::open("/dev/null", O_RDONLY);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || e < 0) ::_exit(127);
      ::dup2(in, 0), ::dup2(e, 1), ::dup2(e, 2);
      ::putenv(const_cast<char*>(env1.c_str()));
      ::putenv(const_cast<char*>(env2.c_str()));
      // The real desktop only where a test asks for it.
      if (display_.empty()) {
        ::unsetenv("DISPLAY");
      } else {
        ::setenv("DISPLAY", display_.c_str(), 1);
      }
      ::execv(prog.c_str(), argv.data());
      ::_exit(127);
    }
    return pid;
  }
  int Wait(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }
  int Run(std::vector<std::string> args) { return Wait(Spawn(std::move(args))); }

  std::unique_ptr<platform::WindowStation> Station() {
    platform::SocketTransportOptions options;
    options.folder = runtime_ / "quillon-vesper";
    options.uid = ::getuid();
    std::shared_ptr<platform::SocketTransport> transport;
    if (Failed(platform::SocketTransport::Open(std::move(options), clock_, transport))) return nullptr;
    return std::make_unique<platform::WindowStation>(std::move(transport), clock_);
  }

  // A session on the simulated desktop that lasts until the tracer is told to shut down.
  std::vector<std::string> Idle(std::vector<std::string> rest) {
    const fs::path empty = dir_.path() / "idle.txt";
    if (!fs::exists(empty)) std::ofstream{empty};
    std::vector<std::string> args{"--script", empty.string(), "--realtime"};
    args.insert(args.end(), rest.begin(), rest.end());
    return args;
  }

  platform::Hwnd WaitForTracer(platform::WindowStation& station) {
    platform::Hwnd main = 0;
    for (int i = 0; i < 3000 && main == 0; ++i) {  // generous: a loaded machine starts slowly
      std::this_thread::sleep_for(10ms);
      main = station.FindWindow(hooks::kTracerWindowClass);
    }
    return main;
  }

  // Output of a tool run with this test's QV_ROOT.
  std::string Tool(const std::string& command) {
    const std::string line =
        "QV_ROOT='" + (dir_.path() / "root").string() + "' " + command + " 2>&1";
    std::string out;
    if (FILE* p = ::popen(line.c_str(), "r")) {
      char buf[4096];
      for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
      ::pclose(p);
    }
    return out;
  }

  SystemClock clock_;
  TempDir dir_;
  fs::path runtime_;
  std::string display_;  // DISPLAY for the tracer; empty: unset
  int runs_ = 0;
};

TEST_F(QvTracerProgramTest, ScriptedSessionEndsWithTheRecordedVisits) {
  const fs::path script = dir_.path() / "session.txt";
  const fs::path out = dir_.path() / "visits.txt";
  std::ofstream(script) << R"(start 2026-01-05T09:00:00Z
at 0    window 1 title="/home/me/report.odt - Writer" rect=0,0,1280,1080 thread=10
at 0    window 2 title="Browser" rect=1280,0,1920,1080 thread=20
at 0.5  focus 1
at 1    key 1 20 0.25
at 8    visit-start 2 "http://example.com/news\nframe one" track
at 9    click 2
at 20   lock
at 50   unlock
at 52   key 1 4
at 60   visit-end 2 "http://example.com/renamed" norank
at 61   visit-start 2 "https://short.example/" track
at 61.5 visit-end 2
at 62   visit-start 2 "outlook:00000000ABCDEF" track
at 62.5 click 2
at 65   end-mail-visits
at 70   title 1 "/home/me/notes.txt - Writer"
at 72   key 1 2
at 80   close 1
at 90   shutdown
)";
  ASSERT_EQ(Run({"--script", script.string(), "--visits-out", out.string(),
                 std::string(kStartMarker)}),
            0)
      << Slurp(dir_.path() / "stderr1");
  const auto lines = Lines(Slurp(out));
  ASSERT_EQ(lines.size(), 4u) << Slurp(out);
  EXPECT_EQ(lines[0][0], "WebRecorder");
  EXPECT_EQ(lines[0][1], "http://example.com/renamed");
  EXPECT_EQ(lines[0][2], "2026-01-05T09:00:08Z");
  EXPECT_EQ(lines[0][3], "2026-01-05T09:01:00Z");
  EXPECT_EQ(lines[0][5], "15000000");  // the click: one capped input
  EXPECT_EQ(lines[0][6], "16");        // no ranking
  EXPECT_EQ(lines[0][8], "http://example.com/news\\nframe one");
  EXPECT_EQ(lines[1][0], "MailRecorder");
  EXPECT_EQ(lines[1][1], "outlook:00000000ABCDEF");
  EXPECT_EQ(lines[2][0], "FileRecorder");
  EXPECT_EQ(lines[2][1], "file:///home/me/report.odt");
  EXPECT_EQ(lines[2][5], "83500000");  // 1.5 s + 19 x 0.25 s, then 1.5 s + 3 x 0.2 s
  EXPECT_EQ(lines[3][5], "17000000");
  EXPECT_EQ(lines[3][1], "file:///home/me/notes.txt");
  // The script's clock, not the real one: the whole session took far less than 90 s.
}

TEST_F(QvTracerProgramTest, RunningTracerTakesVisitsFromAnotherProcessAndIsAlone) {
  const fs::path script = dir_.path() / "desk.txt";
  const fs::path out = dir_.path() / "visits.txt";
  std::ofstream(script) << "at 0 window 7 title=\"Browser\" rect=0,0,1920,1080\n";
  const pid_t tracer = Spawn({"--script", script.string(), "--realtime", "--visits-out",
                              out.string(), std::string(kStartMarker)});
  auto station = Station();
  ASSERT_NE(station, nullptr);
  platform::Hwnd main = 0;
  for (int i = 0; i < 500 && main == 0; ++i) {
    std::this_thread::sleep_for(10ms);
    main = station->FindWindow(hooks::kTracerWindowClass);
  }
  ASSERT_NE(main, 0u) << Slurp(dir_.path() / "stderr1");
  std::this_thread::sleep_for(200ms);  // the script's window is made

  // A second tracer in the same session leaves at once, without touching the first.
  EXPECT_EQ(Run(Idle({std::string(kStartMarker)})), 255);
  EXPECT_EQ(station->FindWindow(hooks::kTracerWindowClass), main);
  // Without the marker it does not even try.
  EXPECT_EQ(Run(Idle({"--visits-out", out.string()})), 255);

  hooks::VisitClient client(station.get());
  EXPECT_EQ(client.IsRunning(), S_OK);
  const std::u16string item = u"http://example.org/page";
  ASSERT_EQ(client.Start(7, item.c_str(), hooks::KIV_VF_TRACK), S_OK);
  ASSERT_EQ(station->PostMessage(main, hooks::KIVM_INPUT, hooks::kInputKeyboard, 7), S_OK);
  std::this_thread::sleep_for(1200ms);
  ASSERT_EQ(client.End(7, nullptr, 0), S_OK);
  ASSERT_EQ(station->PostMessage(main, hooks::KIVM_SHUTDOWN, 0, 0), S_OK);
  EXPECT_EQ(Wait(tracer), 0);
  EXPECT_EQ(station->FindWindow(hooks::kTracerWindowClass), 0u);
  const auto lines = Lines(Slurp(out));
  ASSERT_EQ(lines.size(), 1u) << Slurp(out);
  EXPECT_EQ(lines[0][0], "WebRecorder");
  EXPECT_EQ(lines[0][1], "http://example.org/page");
  EXPECT_GE(std::stoull(lines[0][5]), 15'000'000u);
  // Stopped and gone: a new tracer may start in the session again.
  const pid_t again = Spawn(Idle({std::string(kStartMarker)}));
  for (int i = 0; i < 500 && station->FindWindow(hooks::kTracerWindowClass) == 0; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  main = station->FindWindow(hooks::kTracerWindowClass);
  ASSERT_NE(main, 0u);
  ASSERT_EQ(station->PostMessage(main, hooks::KIVM_SHUTDOWN, 1, 0), S_OK);
  EXPECT_EQ(Wait(again), 0);
}

TEST_F(QvTracerProgramTest, StoppedTracerGivesTheTimeOutResultWithinTheLimit) {
  const pid_t tracer = Spawn(Idle({std::string(kStartMarker)}));
  auto station = Station();
  ASSERT_NE(station, nullptr);
  hooks::VisitClient client(station.get());
  for (int i = 0; i < 500 && client.IsRunning() != S_OK; ++i) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(client.IsRunning(), S_OK) << Slurp(dir_.path() / "stderr1");
  const std::u16string item = u"http://example.org/page";
  ASSERT_EQ(client.Start(7, item.c_str(), hooks::KIV_VF_TRACK), S_OK);

  // Stopped, not dead: a hung tracer, not a missing one.
  ASSERT_EQ(::kill(tracer, SIGSTOP), 0);
  // The state letter after "(comm) " is T once the stop has taken hold.
  auto stopped = [&] {
    const std::string stat = Slurp("/proc/" + std::to_string(tracer) + "/stat");
    const auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'T';
  };
  for (int i = 0; i < 500 && !stopped(); ++i) std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(stopped());
  for (const char16_t* text : {item.c_str(), static_cast<const char16_t*>(nullptr)}) {
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(text ? client.Update(7, text, 0) : client.End(7, nullptr, 0),
              static_cast<HRESULT>(0x800705B4));
    // Bounded by the limit, not waiting for ever; the margin is for a loaded machine's
    // scheduling (the sanitizer builds run several times slower).
    EXPECT_LE(std::chrono::steady_clock::now() - before,
              std::chrono::milliseconds(hooks::kVisitSendTimeoutMs + 3000));
  }
  EXPECT_EQ(client.IsRunning(), S_OK);

  ASSERT_EQ(::kill(tracer, SIGCONT), 0);
  EXPECT_EQ(client.End(7, nullptr, 0), S_OK);
  ASSERT_EQ(station->PostMessage(station->FindWindow(hooks::kTracerWindowClass),
                                 hooks::KIVM_SHUTDOWN, 1, 0),
            S_OK);
  EXPECT_EQ(Wait(tracer), 0);
}

TEST_F(QvTracerProgramTest, HelpAndBadOptions) {
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(Slurp(dir_.path() / "stderr1").find("Usage: QvTracer"), std::string::npos);
  EXPECT_EQ(Run({"--bogus", std::string(kStartMarker)}), 2);
  const fs::path bad = dir_.path() / "bad.txt";
  std::ofstream(bad) << "at 1 focus 1\nat 0 focus 1\n";
  EXPECT_EQ(Run({"--script", bad.string(), std::string(kStartMarker)}), 2);
  EXPECT_NE(Slurp(dir_.path() / "stderr3").find("line 2: time goes backwards"), std::string::npos);
  // Neither a display to follow nor a script: the error says what to do.
  EXPECT_EQ(Run({std::string(kStartMarker)}), 2);
  const std::string err = Slurp(dir_.path() / "stderr4");
  EXPECT_NE(err.find("DISPLAY"), std::string::npos) << err;
  EXPECT_NE(err.find("--script"), std::string::npos) << err;
}

// How a running tracer is told to stop.
enum class StopBy { Term, Hup, Int, StopCommand, Message };

class QvTracerStopTest : public QvTracerProgramTest,
                         public ::testing::WithParamInterface<StopBy> {};

// A tracer that records for real, with a file visit in progress (worked in, longer than a
// second), is stopped; it ends with code 0 and the visit is journaled and ranked.
TEST_P(QvTracerStopTest, VisitInHandIsJournaledAndRanked) {
  const fs::path docs = dir_.path() / "docs";
  fs::create_directories(docs);
  const std::string path = (docs / "stopnotes.txt").string();
  std::ofstream(path) << "notes\n";
  const fs::path script = dir_.path() / "desk.txt";
  std::ofstream(script) << "at 0 window 7 title=\"Editor\" rect=0,0,1920,1080\n";
  const pid_t tracer =
      Spawn({"--script", script.string(), "--realtime", std::string(kStartMarker)});
  auto station = Station();
  ASSERT_NE(station, nullptr);
  platform::Hwnd main = WaitForTracer(*station);
  ASSERT_NE(main, 0u) << Slurp(dir_.path() / "stderr1");
  std::this_thread::sleep_for(200ms);  // the script's window is made

  hooks::VisitClient client(station.get());
  const std::u16string item = Utf8ToUtf16("file://" + path);
  ASSERT_EQ(client.Start(7, item.c_str(), hooks::KIV_VF_TRACK), S_OK);
  ASSERT_EQ(station->PostMessage(main, hooks::KIVM_INPUT, hooks::kInputKeyboard, 7), S_OK);
  std::this_thread::sleep_for(1200ms);

  switch (GetParam()) {
    case StopBy::Term: ::kill(tracer, SIGTERM); break;
    case StopBy::Hup: ::kill(tracer, SIGHUP); break;
    case StopBy::Int: ::kill(tracer, SIGINT); break;
    case StopBy::StopCommand: {
      EXPECT_EQ(Run({"--stop"}), 0) << Slurp(dir_.path() / "stderr2");
      // Once --stop returns the tracer has ended: the session is free and nothing is left.
      EXPECT_EQ(station->FindWindow(hooks::kTracerWindowClass), 0u);
      EXPECT_EQ(Run({"--stop"}), 1);
      EXPECT_NE(Slurp(dir_.path() / "stderr3").find("no tracer runs"), std::string::npos);
      break;
    }
    case StopBy::Message:
      ASSERT_EQ(station->PostMessage(main, hooks::KIVM_SHUTDOWN, 0, 0), S_OK);
      break;
  }
  EXPECT_EQ(Wait(tracer), 0) << Slurp(dir_.path() / "stderr1");
  EXPECT_EQ(station->FindWindow(hooks::kTracerWindowClass), 0u);
  EXPECT_EQ(station->FindMessageWindow(hooks::kTracerEventWindowClass), 0u);

  Installation install(dir_.path() / "root");
  FileRanking ranking(install.context());
  VARIANT_BOOL valid = VARIANT_FALSE;
  ULONG visits = 0;
  ASSERT_EQ(ranking.GetRankingSet(&path, &valid, nullptr, nullptr, nullptr, nullptr, &visits,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(valid, VARIANT_TRUE);
  EXPECT_EQ(visits, 1u);
  const std::string journal = Tool(QVJOURNAL_PATH " list");
  EXPECT_NE(journal.find("stopnotes"), std::string::npos) << journal;
  // A stop from outside the windows says why in the event log.
  const std::string events = Slurp(dir_.path() / "root" / "eventlog" / "Application.log");
  if (GetParam() == StopBy::Term) {
    EXPECT_NE(events.find("SIGTERM"), std::string::npos) << events;
  }
  if (GetParam() == StopBy::Hup) {
    EXPECT_NE(events.find("SIGHUP"), std::string::npos) << events;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryWay, QvTracerStopTest,
                         ::testing::Values(StopBy::Term, StopBy::Hup, StopBy::Int,
                                           StopBy::StopCommand, StopBy::Message),
                         [](const auto& info) {
                           switch (info.param) {
                             case StopBy::Term: return "SIGTERM";
                             case StopBy::Hup: return "SIGHUP";
                             case StopBy::Int: return "SIGINT";
                             case StopBy::StopCommand: return "StopCommand";
                             case StopBy::Message: return "ShutdownMessage";
                           }
                           return "Unknown";
                         });

TEST_F(QvTracerProgramTest, StopWithoutATracerSaysSo) {
  EXPECT_EQ(Run({"--stop"}), 1);
  EXPECT_NE(Slurp(dir_.path() / "stderr1").find("no tracer runs"), std::string::npos);
  EXPECT_EQ(Run({"--stop", "extra"}), 2);
}

}  // namespace
}  // namespace qv::tracer
