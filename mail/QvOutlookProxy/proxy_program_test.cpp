// QvOutlookProxy as a user's session runs it: started without arguments it serves its class
// object in the session's table, takes scopes from another process, and goes on SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "common/program_args.h"
#include "common/temp_dir.h"
#include "context/test_context.h"
#include "mail/QvOutlookProxy/outlook_proxy.h"
#include "mail/QvOutlookProxy/proxy_registration.h"

namespace qv::mail {
namespace {

using namespace std::chrono_literals;

class ProxyProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(Xdg(), ec_); }
  void TearDown() override {
    if (pid_ > 0) {  // a case that failed half-way still ends its program
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  std::filesystem::path Xdg() const { return dir_.path() / "xdg"; }

  pid_t Start(std::vector<std::string> args) {
    args.insert(args.begin(), QVOUTLOOKPROXY_PATH);
    ProgramArgs program(std::move(args), dir_.path() / "root",
                        {"XDG_RUNTIME_DIR=" + Xdg().string()});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc =
        posix_spawn(&pid, program.program(), &actions, nullptr, program.argv(), program.envp());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
  }

  // The exit code, or -1 when the program did not end within a generous bound.
  int WaitExit(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 3000; ++i) {
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        if (pid == pid_) pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

  std::error_code ec_;
  TempDir dir_;
  pid_t pid_ = 0;
};

TEST_F(ProxyProgramTest, ItServesScopesForAnotherProcessAndStopsOnRequest) {
  EXPECT_EQ(WaitExit(Start({"--help"})), 0);
  EXPECT_EQ(WaitExit(Start({"-NoSuchSwitch"})), 2);

  pid_ = Start({});
  ASSERT_GT(pid_, 0);
  TestContext tc;
  auto table = std::make_shared<platform::RunningObjects>(platform::RunningObjectsOptions{
      Xdg() / "quillon-vesper" / "rot", ::getuid(), {}});
  bool up = false;
  for (int i = 0; i < 3000 && !up; ++i) {
    up = table->IsRunning(kProxyClassObjectName);
    if (!up) std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(up);

  RegisterProxyClass(tc.classes(), table, tc.clock());
  std::shared_ptr<IKivCIProxy> proxy;
  ASSERT_EQ(tc.classes().CreateInstance(CLSID_CIProxy, proxy), S_OK);
  std::uint32_t cookie = 0;
  ASSERT_EQ(proxy->AddScope("/home/u/mail/store", &cookie), S_OK);
  EXPECT_TRUE(table->IsRunning("!Qv.OtlIndexing./home/u/mail/store"));
  filters::OtlItemData d;
  // No mail client in this session: not available.
  EXPECT_EQ(proxy->GetItemData("outlook:00AB", d), platform::MK_E_UNAVAILABLE);

  ASSERT_EQ(::kill(pid_, SIGTERM), 0);
  EXPECT_EQ(WaitExit(pid_), 0);
  EXPECT_FALSE(table->IsRunning(kProxyClassObjectName));
  EXPECT_FALSE(table->IsRunning("!Qv.OtlIndexing./home/u/mail/store"));
}

}  // namespace
}  // namespace qv::mail
