// QvRankingSvc as a program: its command line, and the service its clients start on demand.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/held_in_child.h"
#include "common/program_args.h"
#include "common/temp_dir.h"
#include "platform/messaging/unique_fd.h"
#include "service/QvRankingSvc/service_client.h"
#include "service/QvRankingSvc/service_host.h"

namespace qv::service {
namespace {

using std::chrono::seconds;

struct Outcome {
  int exit = -1;
  std::string out, err;
};

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ServiceProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(Xdg()); }
  void TearDown() override {
    // Whatever service a case started goes again; one that will not is ended by its id.
    std::ostringstream ignored;
    if (StopService(Client(), seconds(30), ignored, ignored) == kSvcExitStopTimedOut &&
        started_ != 0) {
      ::kill(static_cast<pid_t>(started_.load()), SIGKILL);
    }
  }

  std::filesystem::path Xdg() const { return dir_.path() / "xdg"; }
  std::filesystem::path Folder() const { return Xdg() / "quillon-vesper"; }
  std::vector<std::string> Env() const { return {"XDG_RUNTIME_DIR=" + Xdg().string()}; }

  ServiceClientOptions Client() const {
    ServiceClientOptions o;
    o.folder = Folder();
    o.program = QV_RANKING_SVC_PATH;
    o.root = dir_.path() / "root";
    o.environment = Env();
    o.startTimeout = seconds(60);
    return o;
  }

  // Runs the program to its end (bounded), its output in files of the case.
  Outcome Run(std::vector<std::string> args) {
    args.insert(args.begin(), QV_RANKING_SVC_PATH);
    return RunProgram(std::move(args));
  }
  Outcome RunProgram(std::vector<std::string> args, std::vector<std::string> extra = {}) {
    std::vector<std::string> env = Env();
    env.insert(env.end(), extra.begin(), extra.end());
    ProgramArgs program(std::move(args), dir_.path() / "root", env);
    const auto out = dir_.path() / "out.txt", err = dir_.path() / "err.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int rc =
        posix_spawn(&pid, program.program(), &actions, nullptr, program.argv(), program.envp());
    posix_spawn_file_actions_destroy(&actions);
    Outcome o;
    if (rc != 0) return o;
    int status = 0;
    for (int i = 0; i < 6000 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (i == 5999) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
      }
    }
    o.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = Slurp(out);
    o.err = Slurp(err);
    return o;
  }

  // Calls the service through a proxy of its own, starting it if needed; the answering pid.
  HRESULT CallService(std::uint32_t& pid) {
    KivListenerProxy proxy(Client());
    const std::string dir = "/home/u/mail";
    const HRESULT hr = proxy.OtlStopScope(&dir);
    pid = proxy.servicePid();
    if (pid != 0) started_ = pid;
    return hr;
  }

  TempDir dir_;
  std::atomic<std::uint32_t> started_ = 0;  // written by clients on several threads
};

TEST_F(ServiceProgramTest, TheCommandLineDecidesAndSaysWhatToDo) {
  const Outcome none = Run({});
  EXPECT_EQ(none.exit, 255);
  EXPECT_NE(none.err.find("--run"), std::string::npos) << none.err;
  const Outcome help = Run({"--help"});
  EXPECT_EQ(help.exit, 0);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
  const Outcome bad = Run({"-RegServerX"});
  EXPECT_EQ(bad.exit, kSvcExitUsage);
  EXPECT_NE(bad.err.find("--help"), std::string::npos);
  const Outcome stop = Run({"--stop"});
  EXPECT_EQ(stop.exit, kSvcExitNoneRunning);
}

TEST_F(ServiceProgramTest, TwoClientsStartingTheServiceAtOnceShareOne) {
  std::uint32_t pids[2] = {0, 0};
  HRESULT results[2] = {E_FAIL, E_FAIL};
  std::thread first([&] { results[0] = CallService(pids[0]); });
  std::thread second([&] { results[1] = CallService(pids[1]); });
  first.join();
  second.join();
  // Taking mail catalogs out of service answers S_OK whatever single catalogs did.
  EXPECT_EQ(results[0], S_OK);
  EXPECT_EQ(results[1], S_OK);
  ASSERT_NE(pids[0], 0u);
  EXPECT_EQ(pids[0], pids[1]);
  std::uint32_t again = 0;
  EXPECT_EQ(CallService(again), S_OK);
  EXPECT_EQ(again, pids[0]);

  // --stop stops it in order and waits; a second --stop finds none.
  const Outcome stop = Run({"--stop"});
  EXPECT_EQ(stop.exit, kSvcExitOk) << stop.err;
  EXPECT_FALSE(std::filesystem::exists(ServiceSocketPath(Folder())));
  EXPECT_EQ(Run({"--stop"}).exit, kSvcExitNoneRunning);
  const Outcome run = Run({"--run", "--detach"});
  EXPECT_EQ(run.exit, kSvcExitOk) << run.err;
  EXPECT_EQ(Run({"--run"}).exit, kSvcExitAlreadyRunning);
}

TEST_F(ServiceProgramTest, AKilledServiceIsReplacedByTheNextClient) {
  std::uint32_t pid = 0;
  ASSERT_EQ(CallService(pid), S_OK);
  ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
  // It is gone once its lock is free; its socket file stays behind.
  platform::UniqueFd lock(::open(ServiceLockPath(Folder()).c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_TRUE(lock);
  bool freed = false;
  for (int i = 0; i < 6000 && !freed; ++i) {
    freed = ::flock(lock.get(), LOCK_EX | LOCK_NB) == 0;
    if (!freed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(freed);
  lock.Reset();
  EXPECT_TRUE(std::filesystem::exists(ServiceSocketPath(Folder())));
  std::uint32_t next = 0;
  EXPECT_EQ(CallService(next), S_OK);
  EXPECT_NE(next, 0u);
  EXPECT_NE(next, pid);
}

TEST_F(ServiceProgramTest, SigtermStopsTheServiceInOrder) {
  std::uint32_t pid = 0;
  ASSERT_EQ(CallService(pid), S_OK);
  ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGTERM), 0);
  // An orderly stop removes the socket before the process ends.
  bool gone = false;
  for (int i = 0; i < 6000 && !gone; ++i) {
    gone = !std::filesystem::exists(ServiceSocketPath(Folder()));
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(gone);
}

// qvrank visit on a file another process holds under a POSIX lock: the visit goes to the
// service, which qvrank starts since none runs.
TEST_F(ServiceProgramTest, AVisitToALockedFileStartsTheServiceAndIsHandedToIt) {
  const auto file = dir_.path() / "report.odt";
  std::ofstream(file) << "quarterly report";
  HeldInChild locker([&] { return HeldInChild::PosixWriteLock(file.c_str()); });
  const Outcome visit =
      locker.taken()
          ? RunProgram({QVRANK_PATH, "visit", file.string(), "--start", "2026-12-07T10:00:00Z",
                        "--end", "2026-12-07T10:05:00Z"},
                       {std::string("QV_RANKING_SVC=") + QV_RANKING_SVC_PATH})
          : Outcome{};
  locker.Release();
  ASSERT_TRUE(locker.taken()) << "the child could not lock the file";

  EXPECT_TRUE(std::filesystem::exists(ServiceSocketPath(Folder())));
  EXPECT_EQ(visit.exit, 0) << visit.err;
  EXPECT_NE(visit.out.find("deferred: "), std::string::npos) << visit.out;
  // The service qvrank started is this case's to stop.
  std::ostringstream out, err;
  EXPECT_EQ(StopService(Client(), seconds(30), out, err), kSvcExitOk) << err.str();
}

TEST_F(ServiceProgramTest, AClientThatCannotStartTheServiceGetsAnErrorNotAHang) {
  ServiceClientOptions options = Client();
  options.program = dir_.path() / "missing" / "QvRankingSvc";
  KivListenerProxy proxy(options);
  const std::string dir = "/d";
  EXPECT_EQ(proxy.OtlStopScope(&dir), CO_E_SERVER_EXEC_FAILURE);
}

}  // namespace
}  // namespace qv::service
