#include "platform/process/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qv::platform {
namespace {

using namespace std::chrono_literals;

int RunToEnd(std::vector<std::string> argv, SpawnOptions options = {}) {
  pid_t pid = -1;
  if (SpawnProcess(argv, options, pid) != S_OK) return -1;
  auto done = WaitChild(pid, 30s);
  if (!done || !done->exited) return -2;
  return done->status;
}

TEST(SpawnTest, ArgumentsArriveVerbatimWithoutAShell) {
  // test(1) compares its arguments: a shell would split the blanks or expand the rest.
  EXPECT_EQ(RunToEnd({"/usr/bin/test", "a b \"c\"", "=", "a b \"c\""}), 0);
  EXPECT_EQ(RunToEnd({"/usr/bin/test", "$(false);*", "=", "$(false);*"}), 0);
  EXPECT_EQ(RunToEnd({"/usr/bin/test", "x", "=", "y"}), 1);
}

TEST(SpawnTest, RefusesWhatItCannotStartSafely) {
  pid_t pid = -1;
  EXPECT_EQ(SpawnProcess({}, {}, pid), E_INVALIDARG);
  EXPECT_EQ(SpawnProcess(std::vector<std::string>{"true"}, {}, pid), E_INVALIDARG);
  EXPECT_EQ(SpawnProcess(std::vector<std::string>{"/usr/bin/test", std::string("a\0b", 3)}, {},
                         pid),
            E_INVALIDARG);
  EXPECT_TRUE(Failed(
      SpawnProcess(std::vector<std::string>{"/nonexistent/program-of-nobody"}, {}, pid)));
}

TEST(SpawnTest, AHandedDescriptorBecomesStandardInput) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  ASSERT_EQ(::write(fds[1], "hello\n", 6), 6);
  ::close(fds[1]);
  const int code = RunToEnd({"/bin/sh", "-c", "read x && test \"$x\" = hello"},
                            {.stdinFd = fds[0]});
  ::close(fds[0]);
  EXPECT_EQ(code, 0);
  // Without one, standard input is empty.
  EXPECT_EQ(RunToEnd({"/bin/sh", "-c", "read x"}), 1);
}

int NiceOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  // Fields after the command name in parentheses; the nice value is field 19.
  std::istringstream rest(text.substr(text.rfind(')') + 2));
  std::string field;
  for (int i = 3; i <= 19 && rest >> field; ++i) {
  }
  return std::stoi(field);
}

TEST(SpawnTest, ChildRunsWithTheNiceValueAndIsReapedAfterASignal) {
  pid_t pid = -1;
  ASSERT_EQ(SpawnProcess(std::vector<std::string>{"/bin/sleep", "60"}, {.niceIncrement = 19},
                         pid),
            S_OK);
  EXPECT_EQ(NiceOf(pid), 19);
  EXPECT_FALSE(TryReapChild(pid).has_value());
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  auto done = WaitChild(pid, 30s);
  ASSERT_TRUE(done.has_value());
  EXPECT_FALSE(done->exited);
  EXPECT_EQ(done->status, SIGKILL);
}

}  // namespace
}  // namespace qv::platform
