// QvTracer on a private X server: with DISPLAY and no script it follows the real desktop. An
// xterm titled after a file its child holds open is worked in; however the tracer is stopped
// (the shutdown message, SIGTERM, the X server going away) it ends with code 0, and the file
// carries a ranking record of that one visit and a journal entry.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "common/clock.h"
#include "context/context.h"
#include "common/temp_dir.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "platform/desktop/xvfb_server.h"
#include "platform/messaging/socket_transport.h"
#include "platform/messaging/window_station.h"
#include "provider/ranking/file_ranking.h"
#include "tracer/tracer_constants.h"

namespace qv::tracer {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A program started with the given environment, ended (SIGTERM) with the object unless waited for.
class Process {
 public:
  Process(std::vector<std::string> args, std::vector<std::string> env,
          const fs::path& output = "/dev/null") {
    // The sanitizers' settings reach the programs the test starts, so they are checked alike.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
    }
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    if (::posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~Process() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool Started() const { return pid_ > 0; }
  void Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }
  // The exit code, or -1 when it did not end by itself within `limit`.
  int Wait(std::chrono::milliseconds limit) {
    for (auto t = 0ms; t < limit; t += 50ms) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(50ms);
    }
    return -1;
  }

 private:
  pid_t pid_ = 0;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

template <typename F>
bool Eventually(F&& f, std::chrono::milliseconds limit) {
  for (auto t = 0ms; t < limit; t += 50ms) {
    if (f()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return f();
}

enum class X11Stop { Message, Term, DisplayLost };

class QvTracerX11Test : public ::testing::TestWithParam<X11Stop> {};

TEST_P(QvTracerX11Test, WorkInAnEditorWindowRanksItsFile) {
  if (!platform::XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb)";
  for (const char* tool : {"/usr/bin/xterm", "/usr/bin/xdotool", "/usr/bin/tail"}) {
    if (::access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
  }
  std::optional<platform::XvfbServer> xvfb;
  xvfb.emplace();
  platform::XvfbServer& server = *xvfb;
  if (!server.Ready()) GTEST_SKIP() << "Xvfb did not start";

  TempDir dir;
  const fs::path runtime = dir.path() / "run", root = dir.path() / "root";
  fs::create_directories(runtime);
  fs::create_directories(root);
  fs::permissions(runtime, fs::perms::owner_all);
  const fs::path docs = dir.path() / "docs";
  fs::create_directories(docs);
  const std::string path = (docs / "notes.txt").string();
  std::ofstream(path) << "meeting notes\n";

  const fs::path log = dir.path() / "tracer.log";
  Process tracer({QVTRACER_PATH, std::string(kStartMarker)},
                 {"DISPLAY=" + server.display(), "XDG_RUNTIME_DIR=" + runtime.string(),
                  "QV_ROOT=" + root.string(), "PATH=/usr/bin:/bin"},
                 log);
  ASSERT_TRUE(tracer.Started());

  SystemClock clock;
  platform::SocketTransportOptions options;
  options.folder = runtime / "quillon-vesper";
  options.uid = ::getuid();
  std::shared_ptr<platform::SocketTransport> transport;
  platform::Hwnd main = 0;
  ASSERT_TRUE(Eventually([&] {
    if (!transport && Failed(platform::SocketTransport::Open(options, clock, transport))) {
      transport = nullptr;
      return false;
    }
    main = platform::WindowStation(transport, clock).FindWindow(hooks::kTracerWindowClass);
    return main != 0;
  }, 10s)) << Slurp(log);
  platform::WindowStation station(transport, clock);

  // The editor: a terminal titled after the file, whose child holds the file open.
  const std::string title = path + " - Editor";
  Process xterm({"/usr/bin/xterm", "-T", title, "-geometry", "80x24+0+0", "-e", "/usr/bin/tail",
                 "-f", path},
                {"DISPLAY=" + server.display(), "PATH=/usr/bin:/bin", "TERM=xterm"});
  ASSERT_TRUE(xterm.Started());
  const fs::path found = dir.path() / "window";
  ASSERT_TRUE(Eventually([&] {
    std::ofstream(found).close();
    return platform::RunWithDisplay(server.display(),
                                    {"/bin/sh", "-c", "exec xdotool search --name '" + title +
                                                          "' > '" + found.string() + "'"}) == 0 &&
           !Slurp(found).empty();
  }, 10s));
  std::string window = Slurp(found);
  window = window.substr(0, window.find('\n'));
  // The tracer finds the document from /proc once the window's events wake its watcher.
  std::this_thread::sleep_for(2s);
  ASSERT_EQ(platform::RunWithDisplay(server.display(), {"xdotool", "windowfocus", "--sync", window}), 0);
  ASSERT_EQ(platform::RunWithDisplay(server.display(),
                                     {"xdotool", "type", "--delay", "150", "working on the notes"}),
            0);
  std::this_thread::sleep_for(1s);

  switch (GetParam()) {
    case X11Stop::Message:
      ASSERT_EQ(station.PostMessage(main, hooks::KIVM_SHUTDOWN, 0, 0), S_OK);
      break;
    case X11Stop::Term:
      tracer.Signal(SIGTERM);
      break;
    case X11Stop::DisplayLost:
      xvfb.reset();  // the X server ends under the tracer, as at logout
      break;
  }
  EXPECT_EQ(tracer.Wait(30s), 0) << Slurp(log);

  Installation install(root);
  FileRanking ranking(install.context());
  VARIANT_BOOL valid = VARIANT_FALSE;
  ULONG visits = 0, active = 0;
  ASSERT_EQ(ranking.GetRankingSet(&path, &valid, nullptr, nullptr, nullptr, &active, &visits,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            S_OK)
      << Slurp(log);
  EXPECT_EQ(valid, VARIANT_TRUE) << Slurp(log);
  EXPECT_EQ(visits, 1u);
  EXPECT_GT(active, 0u);

  std::string journal;
  const std::string list = "QV_ROOT='" + root.string() + "' " QVJOURNAL_PATH " list 2>&1";
  if (FILE* p = ::popen(list.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) journal.append(buf, n);
    ::pclose(p);
  }
  EXPECT_NE(journal.find("notes"), std::string::npos) << journal;
  const std::string events = Slurp(root / "eventlog" / "Application.log");
  if (GetParam() == X11Stop::DisplayLost) {
    EXPECT_NE(events.find("X display was lost"), std::string::npos) << events;
  }
  if (GetParam() == X11Stop::Term) {
    EXPECT_NE(events.find("SIGTERM"), std::string::npos) << events;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryStop, QvTracerX11Test,
                         ::testing::Values(X11Stop::Message, X11Stop::Term, X11Stop::DisplayLost),
                         [](const auto& info) {
                           switch (info.param) {
                             case X11Stop::Message: return "ShutdownMessage";
                             case X11Stop::Term: return "SIGTERM";
                             case X11Stop::DisplayLost: return "DisplayLost";
                           }
                           return "Unknown";
                         });

}  // namespace
}  // namespace qv::tracer
