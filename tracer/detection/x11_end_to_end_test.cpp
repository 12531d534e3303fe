// The tracer on a real X server: an xterm whose title names a file that its child process
// holds open becomes a document visit with the file's path, typing into it (xdotool) credits
// working and active time, and shutdown records the visit. A file edited in a terminal
// editor, named only on its command line, becomes a visit too.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "context/context.h"
#include "common/temp_dir.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "platform/desktop/sim_session_signals.h"
#include "platform/desktop/x11_desktop.h"
#include "platform/desktop/x11_input.h"
#include "platform/desktop/xvfb_server.h"
#include "platform/messaging/inproc_transport.h"
#include "tracer/detection/desktop_item_detector.h"
#include "tracer/item_string.h"
#include "tracer/tracer_constants.h"
#include "tracer/tracer_runtime.h"

namespace qv::tracer {
namespace {

using namespace qv::platform;
using namespace std::chrono_literals;

class KeptVisits final : public VisitWriter {
 public:
  void Record(const Visit& v) override {
    std::lock_guard lock(mutex_);
    visits_.push_back(v);
  }
  std::vector<Visit> visits() const {
    std::lock_guard lock(mutex_);
    return visits_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Visit> visits_;
};

// A program started with DISPLAY set, ended with the object.
class Client {
 public:
  Client(const std::string& display, std::vector<std::string> args, const std::string& cwd = {}) {
    std::vector<std::string> env{"DISPLAY=" + display, "PATH=/usr/bin:/bin", "TERM=xterm"};
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
    if (::posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~Client() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool Started() const { return pid_ > 0; }

 private:
  pid_t pid_ = 0;
};

template <typename F>
bool Eventually(F&& f, std::chrono::milliseconds limit) {
  for (auto t = 0ms; t < limit; t += 50ms) {
    if (f()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return f();
}

TEST(X11EndToEndTest, XtermHoldingAFileBecomesADocumentVisitThatGainsWorkingTime) {
  if (!XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb)";
  for (const char* tool : {"/usr/bin/xterm", "/usr/bin/xdotool", "/usr/bin/tail"}) {
    if (::access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
  }
  XvfbServer server;
  if (!server.Ready()) GTEST_SKIP() << "Xvfb did not start";

  TempDir root, session, docs;
  const std::string path = (docs.path() / "report.txt").string();
  std::ofstream(path) << "quarterly figures\n";
  Installation install(root.path());
  const Context& ctx = install.context();
  HRESULT hr = E_FAIL;
  auto desktop = X11Desktop::Connect(server.display().c_str(), hr);
  ASSERT_TRUE(desktop) << FormatHresult(hr);
  auto input = X11Input::Connect(server.display().c_str(), ctx.clock, hr);
  ASSERT_TRUE(input) << FormatHresult(hr);
  SimSessionSignals signals;
  auto transport = std::make_shared<InProcessTransport>(ctx.clock);
  WindowStation station(transport, ctx.clock);
  KeptVisits file, web, mail;
  TracerRuntime tracer(TracerPorts{ctx, *desktop, *input, signals, station},
                       TracerOptions{{std::string(kStartMarker)}, session.path(), false},
                       TracerWriters{file, web, mail, nullptr},
                       MakeLinuxItemDetector(ctx, *desktop, docs.path()));
  int exitCode = -2;
  std::thread run([&] { exitCode = tracer.Run(); });
  ASSERT_TRUE(Eventually([&] { return station.FindWindow(hooks::kTracerWindowClass) != 0; }, 10s));

  // The editor: a terminal titled after the file, whose child holds the file open.
  Client xterm(server.display(), {"/usr/bin/xterm", "-T", "report.txt - Editor", "-geometry",
                                  "80x24+0+0", "-e", "/usr/bin/tail", "-f", path});
  ASSERT_TRUE(xterm.Started());
  DesktopWindow editor = 0;
  ASSERT_TRUE(Eventually([&] {
    for (DesktopWindow w : desktop->TopLevelWindows()) {
      WindowState s;
      if (desktop->GetWindow(w, s) && s.title == "report.txt - Editor" && s.visible) editor = w;
    }
    return editor != 0;
  }, 10s));

  const std::string url = FileUrlFromPath(path);
  auto openVisit = [&]() -> std::optional<Visit> {
    for (const Visit& v : tracer.table().Snapshot()) {
      if (v.identifier == url) return v;
    }
    return std::nullopt;
  };
  // The command line (tail's argument) may name the file first; the running-documents
  // watcher then gives the visit its document key.
  ASSERT_TRUE(Eventually([&] {
    const auto v = openVisit();
    return v && v->documentKey != 0;
  }, 15s)) << "no document visit for " << url;
  const Visit opened = *openVisit();
  EXPECT_EQ(opened.window, editor);
  EXPECT_EQ(opened.kind, kKindDocument);
  EXPECT_EQ(opened.documentKey, DocumentKey(path));
  EXPECT_EQ(opened.source, path);

  // Typing into the editor: the input is credited to its visit.
  ASSERT_EQ(RunWithDisplay(server.display(),
                           {"xdotool", "windowfocus", "--sync", std::to_string(editor)}), 0);
  ASSERT_EQ(RunWithDisplay(server.display(),
                           {"xdotool", "type", "--delay", "150", "working hard"}), 0);
  EXPECT_TRUE(Eventually([&] {
    const auto v = openVisit();
    return v && v->activeTime >= 10'000'000;  // a second of typing at least
  }, 10s));
  const auto typed = openVisit();
  ASSERT_TRUE(typed);
  EXPECT_GE(typed->workingTime, typed->activeTime);

  station.PostMessage(tracer.mainWindow(), hooks::KIVM_SHUTDOWN, 0, 0);
  run.join();
  EXPECT_EQ(exitCode, 0);
  const auto recorded = file.visits();
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].identifier, url);
  EXPECT_EQ(recorded[0].kind, kKindDocument);
  EXPECT_GE(recorded[0].activeTime, 10'000'000u);
  EXPECT_GE(recorded[0].workingTime, 4'000'000u);
}

TEST(X11EndToEndTest, FileEditedInATerminalEditorBecomesADocumentVisit) {
  if (!XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb)";
  for (const char* tool : {"/usr/bin/xterm", "/usr/bin/xdotool"}) {
    if (::access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
  }
  std::string editor;
  for (const char* vim : {"/usr/bin/vim.tiny", "/usr/bin/vim.basic", "/usr/bin/vim"}) {
    if (editor.empty() && ::access(vim, X_OK) == 0) editor = vim;
  }
  if (editor.empty()) GTEST_SKIP() << "no terminal editor (apt-get install vim-tiny)";
  XvfbServer server;
  if (!server.Ready()) GTEST_SKIP() << "Xvfb did not start";

  TempDir root, session, docs;
  const std::string path = (docs.path() / "notes.txt").string();
  std::ofstream(path) << "first draft\n";
  Installation install(root.path());
  const Context& ctx = install.context();
  HRESULT hr = E_FAIL;
  auto desktop = X11Desktop::Connect(server.display().c_str(), hr);
  ASSERT_TRUE(desktop) << FormatHresult(hr);
  auto input = X11Input::Connect(server.display().c_str(), ctx.clock, hr);
  ASSERT_TRUE(input) << FormatHresult(hr);
  SimSessionSignals signals;
  auto transport = std::make_shared<InProcessTransport>(ctx.clock);
  WindowStation station(transport, ctx.clock);
  KeptVisits file, web, mail;
  TracerRuntime tracer(TracerPorts{ctx, *desktop, *input, signals, station},
                       TracerOptions{{std::string(kStartMarker)}, session.path(), false},
                       TracerWriters{file, web, mail, nullptr},
                       MakeLinuxItemDetector(ctx, *desktop, docs.path()));
  int exitCode = -2;
  std::thread run([&] { exitCode = tracer.Run(); });
  ASSERT_TRUE(Eventually([&] { return station.FindWindow(hooks::kTracerWindowClass) != 0; }, 10s));

  // vim in an xterm, started in the file's folder with a relative name and without a swap
  // file: it reads the file and closes it, so only its command line names the file. Like
  // many users' vimrc, it puts the file's name into the terminal's title.
  Client xterm(server.display(),
               {"/usr/bin/xterm", "-geometry", "80x24+0+0", "-e", editor, "-n", "-u", "NONE",
                "-c", "set title", "notes.txt"},
               docs.path().string());
  ASSERT_TRUE(xterm.Started());
  const std::string url = FileUrlFromPath(path);
  auto openVisit = [&]() -> std::optional<Visit> {
    for (const Visit& v : tracer.table().Snapshot()) {
      if (v.identifier == url) return v;
    }
    return std::nullopt;
  };
  ASSERT_TRUE(Eventually([&] { return openVisit().has_value(); }, 20s))
      << "no document visit for " << url;
  const Visit opened = *openVisit();
  EXPECT_EQ(opened.kind, kKindDocument);
  EXPECT_EQ(opened.source, path);
  WindowState shown;
  ASSERT_TRUE(desktop->GetWindow(opened.window, shown));
  EXPECT_NE(shown.title.find("notes.txt"), std::string::npos) << shown.title;

  // Editing: the typing is credited to the visit, which is recorded at shutdown (it lasts
  // more than the second a visit needs: xdotool returns once it has typed).
  ASSERT_EQ(RunWithDisplay(server.display(), {"xdotool", "windowfocus", "--sync",
                                              std::to_string(opened.window)}),
            0);
  ASSERT_EQ(RunWithDisplay(server.display(), {"xdotool", "type", "--delay", "300", "Aand more"}),
            0);
  EXPECT_TRUE(Eventually([&] {
    const auto v = openVisit();
    return v && v->activeTime >= 10'000'000;
  }, 10s));
  station.PostMessage(tracer.mainWindow(), hooks::KIVM_SHUTDOWN, 0, 0);
  run.join();
  EXPECT_EQ(exitCode, 0);
  const auto recorded = file.visits();
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].identifier, url);
  EXPECT_GE(recorded[0].workingTime, 4'000'000u);
}

}  // namespace
}  // namespace qv::tracer
