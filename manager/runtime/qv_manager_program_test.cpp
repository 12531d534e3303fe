// The built QvManager over the real sockets of a private runtime folder, with the built
// QvTracer beside it replaying a session: the manager starts the tracer, visits are
// recorded, commands from another process disable and enable tracing, a second manager ends
// at once, and SIGTERM stops everything in order with the visit in hand ranked (a user's
// disable drops it instead).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "common/program_args.h"
#include "common/temp_dir.h"
#include "common/utf.h"
#include "context/context.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "hooks/QvHooks/visit_client.h"
#include "manager/runtime/manager_config.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/messaging/socket_transport.h"
#include "platform/messaging/unique_fd.h"
#include "platform/messaging/window_station.h"
#include "provider/ranking/file_ranking.h"
#ifdef QV_HAVE_XVFB
#include "platform/desktop/xvfb_server.h"
#endif
#include "service/QvRankingSvc/service_registration.h"

namespace qv::manager {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class QvManagerProgramTest : public ::testing::Test {
 protected:
  QvManagerProgramTest() {
    runtime_ = dir_.path() / "run";
    fs::create_directories(runtime_);
    fs::permissions(runtime_, fs::perms::owner_all);
  }
  ~QvManagerProgramTest() override {
    // A manager left by a failed assertion is stopped (it stops its tracer) and reaped.
    for (pid_t pid : children_) {
      ::kill(pid, SIGTERM);
      Wait(pid);
    }
  }

  // QvManager with `args`, or, with `program`, that program with `programArgs`.
  pid_t Spawn(std::vector<std::string> args, const char* other = nullptr,
              std::vector<std::string> otherArgs = {}) {
    if (other != nullptr) {
      args = std::move(otherArgs);
      args.insert(args.begin(), other);
    } else {
      args.insert(args.begin(), QVMANAGER_PATH);
    }
    const std::string err = (dir_.path() / ("stderr" + std::to_string(++runs_))).string();
    ProgramArgs program(std::move(args), dir_.path() / "root",
                        {"XDG_RUNTIME_DIR=" + runtime_.string(), "DISPLAY=" + display_,
                         "WAYLAND_DISPLAY=", std::string("QV_RANKING_SVC=") + QVRANKINGSVC_PATH,
                         "LSAN_OPTIONS=suppressions=" + Suppressions().string()});
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int in = ::open("/dev/null", O_RDONLY);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || e < 0) ::_exit(127);
      ::dup2(in, 0), ::dup2(e, 1), ::dup2(e, 2);
      ::execve(program.program(), program.argv(), program.envp());
      ::_exit(127);
    }
    if (pid > 0) children_.push_back(pid);
    return pid;
  }
  int Wait(pid_t pid) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, 0);
    std::erase(children_, pid);
    if (r != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  std::unique_ptr<platform::WindowStation> Station() {
    platform::SocketTransportOptions options;
    options.folder = runtime_ / "quillon-vesper";
    options.uid = ::getuid();
    std::shared_ptr<platform::SocketTransport> transport;
    if (Failed(platform::SocketTransport::Open(std::move(options), clock_, transport))) return nullptr;
    return std::make_unique<platform::WindowStation>(std::move(transport), clock_);
  }

  // Qt's look for a notification area over D-Bus leaves a block of libdbus behind; the
  // sanitizer builds are told so, and only of that library.
  fs::path Suppressions() {
    const fs::path file = dir_.path() / "lsan.supp";
    if (!fs::exists(file)) std::ofstream(file) << "leak:libdbus-1.so\n";
    return file;
  }

  // Bounded wait (generous: a loaded machine starts programs slowly) for a window to come or go.
  bool WaitFor(platform::WindowStation& station, std::string_view cls, bool present) {
    for (int i = 0; i < 3000; ++i) {
      if ((station.FindWindow(cls) != 0) == present) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // A desktop with one window, lasting until the tracer is told to shut down.
  fs::path Script() {
    const fs::path script = dir_.path() / "desk.txt";
    std::ofstream(script) << "at 0 window 7 title=\"Editor\" rect=0,0,1920,1080\n";
    return script;
  }

  // A file visit worked in for longer than a second.
  void Visit(platform::WindowStation& station, const std::string& path) {
    std::ofstream(path) << "notes\n";
    std::this_thread::sleep_for(200ms);  // the script's window is made
    hooks::VisitClient client(&station);
    const std::u16string item = Utf8ToUtf16("file://" + path);
    ASSERT_EQ(client.Start(7, item.c_str(), hooks::KIV_VF_TRACK), S_OK);
    ASSERT_EQ(station.PostMessage(station.FindWindow(hooks::kTracerWindowClass), hooks::KIVM_INPUT,
                                  hooks::kInputKeyboard, 7),
              S_OK);
    std::this_thread::sleep_for(1200ms);
  }

  ULONG Visits(const std::string& path) {
    Installation install(dir_.path() / "root");
    FileRanking ranking(install.context());
    VARIANT_BOOL valid = VARIANT_FALSE;
    ULONG visits = 0;
    if (ranking.GetRankingSet(&path, &valid, nullptr, nullptr, nullptr, nullptr, &visits, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != S_OK ||
        valid != VARIANT_TRUE) {
      return 0;
    }
    return visits;
  }

  SystemClock clock_;
  TempDir dir_;
  fs::path runtime_;
  int runs_ = 0;
  std::vector<pid_t> children_;
  std::string display_;  // empty: no display
};

TEST_F(QvManagerProgramTest, StartsTheTracerAndStopsItInOrderWithNothingLost) {
  const pid_t manager = Spawn({"--no-icon", "--tracer-script", Script().string()});
  auto station = Station();
  ASSERT_NE(station, nullptr);
  ASSERT_TRUE(WaitFor(*station, hooks::kHostWindowClass, true)) << Slurp(dir_.path() / "stderr1");
  ASSERT_TRUE(WaitFor(*station, hooks::kTracerWindowClass, true)) << Slurp(dir_.path() / "stderr1");

  // One manager per session: a second one ends at once with 0 and leaves the first alone.
  EXPECT_EQ(Wait(Spawn({"--no-icon"})), 0);
  EXPECT_NE(station->FindWindow(hooks::kHostWindowClass), 0u);

  const std::string first = (dir_.path() / "first.txt").string();
  Visit(*station, first);
  // Disabling stops the tracer; the user switched tracing off, so the visit in hand is
  // dropped rather than recorded.
  const auto host = station->FindWindow(hooks::kHostWindowClass);
  ASSERT_EQ(station->PostMessage(host, platform::WM_COMMAND, kCmdDisable, 0), S_OK);
  ASSERT_TRUE(WaitFor(*station, hooks::kTracerWindowClass, false));
  platform::RegValue disabled;
  {
    platform::Registry reg(dir_.path() / "root");
    ASSERT_EQ(reg.GetValue(platform::Hive::CurrentUser, kVesperKey, kDisabledValue, disabled), 0);
    EXPECT_EQ(disabled.dword, 1u);
  }
  // Enabling starts a new tracer.
  ASSERT_EQ(station->PostMessage(host, platform::WM_COMMAND, kCmdEnable, 0), S_OK);
  ASSERT_TRUE(WaitFor(*station, hooks::kTracerWindowClass, true));

  const std::string second = (dir_.path() / "second.txt").string();
  Visit(*station, second);
  ASSERT_EQ(::kill(manager, SIGTERM), 0);
  EXPECT_EQ(Wait(manager), 0) << Slurp(dir_.path() / "stderr1");
  // The manager ended only after its tracer: nothing is left, the visit in hand is ranked.
  EXPECT_EQ(station->FindWindow(hooks::kTracerWindowClass), 0u);
  EXPECT_EQ(station->FindWindow(hooks::kHostWindowClass), 0u);
  EXPECT_EQ(Visits(second), 1u);
  EXPECT_EQ(Visits(first), 0u);
}

// A display nobody answers on (the icon cannot be shown) and a tracer that cannot start: the
// manager still runs, suspended, and ends in order.
TEST_F(QvManagerProgramTest, WithoutADisplayOrATracerItStillRunsAndEndsInOrder) {
  display_ = ":987";
  const pid_t manager = Spawn({"--tracer-script", (dir_.path() / "missing.txt").string()});
  auto station = Station();
  ASSERT_NE(station, nullptr);
  ASSERT_TRUE(WaitFor(*station, hooks::kHostWindowClass, true)) << Slurp(dir_.path() / "stderr1");
  EXPECT_EQ(station->FindWindow(hooks::kTracerWindowClass), 0u);
  ASSERT_EQ(::kill(manager, SIGINT), 0);
  EXPECT_EQ(Wait(manager), 0) << Slurp(dir_.path() / "stderr1");
  EXPECT_EQ(station->FindWindow(hooks::kHostWindowClass), 0u);
}

// With the ranking service installed and nothing wrong, the first tick asks the service to
// verify the user's catalogs with a rescan (starting the service, as a client does), and
// remembers when it asked for the rescan.
TEST_F(QvManagerProgramTest, FirstTickAsksTheServiceForAVerificationWithARescan) {
  const fs::path root = dir_.path() / "root";
  {
    platform::Registry reg(root);
    ASSERT_EQ(reg.SetValue(platform::Hive::LocalMachine, service::kServiceKey, "Start",
                           platform::RegValue::Dword(3)), 0);
  }
  // The indexer runs (its lock is held here); a stopped one would be a problem at the tick.
  const fs::path lock = platform::indexing::ServiceLockPath(root);
  fs::create_directories(lock.parent_path());
  platform::UniqueFd indexer(::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_EQ(::flock(indexer.get(), LOCK_EX | LOCK_NB), 0);
  // The service the request starts is stopped in order however the case ends.
  const struct StopService {
    std::function<void()> stop;
    ~StopService() { stop(); }
  } stopService{[this] { Wait(Spawn({}, QVRANKINGSVC_PATH, {"--stop"})); }};
  const pid_t manager = Spawn({"--no-icon", "--tracer-script", Script().string()});
  auto station = Station();
  ASSERT_NE(station, nullptr);
  ASSERT_TRUE(WaitFor(*station, hooks::kTracerWindowClass, true)) << Slurp(dir_.path() / "stderr1");
  platform::RegValue last;
  bool asked = false;
  for (int i = 0; i < 600 && !asked; ++i) {  // the first tick comes after 5 s
    std::this_thread::sleep_for(100ms);
    platform::Registry reg(root);
    asked = reg.GetValue(platform::Hive::CurrentUser, kVesperKey, kLastRescanValue, last) == 0;
  }
  ASSERT_TRUE(asked) << Slurp(dir_.path() / "stderr1");
  EXPECT_EQ(last.type, platform::RegType::Binary);
  EXPECT_EQ(last.binary.size(), 8u);
  ASSERT_EQ(::kill(manager, SIGTERM), 0);
  EXPECT_EQ(Wait(manager), 0) << Slurp(dir_.path() / "stderr1");
  // A service runs: the request started it.
  EXPECT_EQ(Wait(Spawn({}, QVRANKINGSVC_PATH, {"--stop"})), 0)
      << Slurp(dir_.path() / ("stderr" + std::to_string(runs_)));
}

#ifdef QV_HAVE_XVFB
// A display without a notification area: the icon build says so and runs without an icon,
// still managing the tracer.
TEST_F(QvManagerProgramTest, DesktopWithoutATrayRunsWithoutAnIcon) {
  if (!platform::XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb)";
  platform::XvfbServer xvfb;
  if (!xvfb.Ready()) GTEST_SKIP() << "Xvfb did not start";
  display_ = xvfb.display();
  const pid_t manager = Spawn({"--tracer-script", Script().string()});
  auto station = Station();
  ASSERT_NE(station, nullptr);
  ASSERT_TRUE(WaitFor(*station, hooks::kTracerWindowClass, true)) << Slurp(dir_.path() / "stderr1");
  ASSERT_EQ(::kill(manager, SIGTERM), 0);
  EXPECT_EQ(Wait(manager), 0) << Slurp(dir_.path() / "stderr1");
  EXPECT_EQ(station->FindWindow(hooks::kTracerWindowClass), 0u);
#ifdef QV_ICON_BUILD
  EXPECT_NE(Slurp(dir_.path() / "stderr1").find("no notification area"), std::string::npos)
      << Slurp(dir_.path() / "stderr1");
#endif
}
#endif

TEST_F(QvManagerProgramTest, HelpAndBadOptions) {
  EXPECT_EQ(Wait(Spawn({"--help"})), 0);
  EXPECT_NE(Slurp(dir_.path() / "stderr1").find("Usage: QvManager"), std::string::npos);
  EXPECT_EQ(Wait(Spawn({"--bogus"})), 2);
  EXPECT_NE(Slurp(dir_.path() / "stderr2").find("try --help"), std::string::npos);
  EXPECT_EQ(Wait(Spawn({"--tracer-script"})), 2);
}

}  // namespace
}  // namespace qv::manager
