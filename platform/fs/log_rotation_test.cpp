// Logs rotate at their size limit, keeping exactly one previous file, and lose no line.
#include "platform/fs/log_rotation.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "platform/fs/umask_guard.h"

namespace qv::platform {
namespace {

namespace fs = std::filesystem;

void Append(const fs::path& log, const std::string& line, std::uint64_t limit) {
  const int fd = OpenRotatedLog(log, limit);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  ::close(fd);
}

std::vector<std::string> Lines(const fs::path& file) {
  std::vector<std::string> out;
  std::ifstream in(file);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

TEST(LogRotation, AFullLogMovesAsideReplacingThePreviousOne) {
  TempDir dir;
  UmaskGuard guard(022);
  const fs::path log = dir.path() / "app.log";
  constexpr std::uint64_t kLimit = 20;
  Append(log, "first line 123456\n", kLimit);   // 18 bytes: below the limit
  Append(log, "second line 12345\n", kLimit);   // 36 bytes: full from now on
  EXPECT_FALSE(fs::exists(PreviousLogPath(log)));
  EXPECT_EQ(ModeOf(log.c_str()), 0600);

  Append(log, "third\n", kLimit);
  EXPECT_EQ(Lines(PreviousLogPath(log)),
            (std::vector<std::string>{"first line 123456", "second line 12345"}));
  EXPECT_EQ(Lines(log), std::vector<std::string>{"third"});

  Append(log, "fourth line 123456\n", kLimit);
  Append(log, "fifth\n", kLimit);
  EXPECT_EQ(Lines(PreviousLogPath(log)), (std::vector<std::string>{"third", "fourth line 123456"}));
  EXPECT_EQ(Lines(log), std::vector<std::string>{"fifth"});
  EXPECT_EQ(PreviousLogPath(log).filename(), "app.log.1");
}

TEST(LogRotation, ConcurrentWritersRotateOnceAndTearNoLine) {
  TempDir dir;
  const fs::path log = dir.path() / "app.log";
  constexpr int kProcs = 4, kEach = 200;
  // 800 lines of 44 bytes fill the log past the limit once, and the new one not again, so
  // every line must be found in the two files.
  constexpr std::uint64_t kLimit = 20000;
  const std::string pad(40, 'x');
  std::vector<pid_t> kids;
  for (int p = 0; p < kProcs; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0; i < kEach; ++i) {
        const std::string line = "p" + std::to_string(p) + " " + pad + "\n";
        const int fd = OpenRotatedLog(log, kLimit);
        if (fd < 0 || ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
          ::_exit(1);
        }
        ::close(fd);
      }
      ::_exit(0);
    }
    kids.push_back(pid);
  }
  for (const pid_t pid : kids) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // Each file holds whole lines, and neither grew far past the limit: a writer that found the
  // log full appended to the fresh one instead of rotating that again (which would lose lines).
  std::size_t total = 0;
  for (const auto& file : {log, PreviousLogPath(log)}) {
    SCOPED_TRACE(file.string());
    const auto lines = Lines(file);
    total += lines.size();
    for (const auto& l : lines) EXPECT_EQ(l.size(), 3 + pad.size()) << l;
    EXPECT_LT(fs::file_size(file), kLimit + 2 * kProcs * (pad.size() + 4));
  }
  EXPECT_EQ(total, static_cast<std::size_t>(kProcs * kEach));
}

// True once `pid` waits for a flock (a "->" line of /proc/locks); bounded.
bool WaitsForLock(pid_t pid) {
  for (int i = 0; i < 2000; ++i) {
    std::ifstream locks("/proc/locks");
    for (std::string l; std::getline(locks, l);) {
      if (l.find("-> FLOCK") != std::string::npos &&
          l.find(" " + std::to_string(pid) + " ") != std::string::npos) {
        return true;
      }
    }
    ::usleep(5000);
  }
  return false;
}

TEST(LogRotation, AWriterThatWaitedForTheRotationAppendsToTheNewLog) {
  TempDir dir;
  const fs::path log = dir.path() / "app.log";
  constexpr std::uint64_t kLimit = 10;
  std::ofstream(log) << "old full log\n";  // 13 bytes
  // This process plays a writer in the middle of rotating: it holds the full log's lock.
  const int held = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(held);  // the inherited descriptor would keep the lock alive
    const int fd = OpenRotatedLog(log, kLimit);
    const std::string line = "late\n";
    ::_exit(fd >= 0 && ::write(fd, line.data(), line.size()) == 5 ? 0 : 1);
  }
  const bool waited = WaitsForLock(pid);
  fs::rename(log, PreviousLogPath(log));
  std::ofstream(log) << "new\n";
  ::close(held);
  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 2000 && (done = ::waitpid(pid, &status, WNOHANG)) == 0; ++i) ::usleep(5000);
  if (done == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    FAIL() << "the writer never got the lock";
  }
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  if (!waited) GTEST_SKIP() << "/proc/locks does not show the waiting writer";
  // The writer found the old log full, but that one is gone: the new one is not rotated.
  EXPECT_EQ(Lines(PreviousLogPath(log)), std::vector<std::string>{"old full log"});
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"new", "late"}));
}

}  // namespace
}  // namespace qv::platform
