// The files a window's processes name on their command lines: which arguments may be paths,
// and a real child process whose arguments name a file relative to its working folder.
#include "platform/desktop/proc_command_lines.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "common/temp_dir.h"

extern char** environ;

namespace qv::platform {
namespace {

using namespace std::chrono_literals;

std::string Cmdline(std::initializer_list<std::string_view> args) {
  std::string s;
  for (auto a : args) {
    s += a;
    s += '\0';
  }
  return s;
}

TEST(PathsInCommandLineTest, ArgumentsAfterTheProgramResolvedAgainstTheWorkingFolder) {
  EXPECT_EQ(PathsInCommandLine(Cmdline({"vim", "-n", "notes.txt", "../b/./c.txt", "--file=/x/y",
                                        "--", "", "/abs/d", "notes.txt", "dir/"}),
                               "/home/u/w"),
            (std::vector<std::string>{"/home/u/w/notes.txt", "/home/u/b/c.txt", "/x/y",
                                      "/abs/d"}));
  // Without a working folder only absolute paths count; a missing final NUL is no matter.
  EXPECT_EQ(PathsInCommandLine(std::string("nano\0a.txt\0/b.txt", 17), ""),
            std::vector<std::string>{"/b.txt"});
  EXPECT_TRUE(PathsInCommandLine("", "/").empty());
  EXPECT_TRUE(PathsInCommandLine(Cmdline({"/usr/bin/emacs"}), "/").empty());
  // Only so many arguments are looked at.
  std::string many = Cmdline({"cc"});
  for (std::size_t i = 0; i < kMaxCommandLineArguments + 10; ++i) {
    many += "f" + std::to_string(i) + ".c";
    many += '\0';
  }
  EXPECT_EQ(PathsInCommandLine(many, "/src").size(), kMaxCommandLineArguments);
}

TEST(ProcCommandLinesTest, FilesNamedByAChildProcessCount) {
  TempDir dir;
  const std::string notes = (dir.path() / "notes.txt").string();
  std::ofstream(notes) << "draft";
  std::filesystem::create_directory(dir.path() / "folder");
  // A shell that waits, started in the temporary folder, named "notes.txt" (relative), a
  // folder, a system file and a file that does not exist.
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addchdir_np(&fa, dir.path().c_str());
  const char* argv[] = {"/bin/sh", "-c", "sleep 30", "sh", "notes.txt", "folder",
                        "/etc/hostname", "missing.txt", nullptr};
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, "/bin/sh", &fa, nullptr, const_cast<char**>(argv), environ), 0);
  posix_spawn_file_actions_destroy(&fa);

  ProcCommandLines source;
  std::vector<std::string> out;
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i) {
    ASSERT_EQ(source.FilesNamedBy(::getpid(), out), S_OK);  // the child is under this process
    seen = std::find(out.begin(), out.end(), notes) != out.end();
    if (!seen) std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(seen);
  for (const auto& p : out) {
    EXPECT_EQ(p.find("/etc/"), std::string::npos) << p;
    EXPECT_EQ(p.find("folder"), std::string::npos) << p;
    EXPECT_EQ(p.find("missing"), std::string::npos) << p;
  }
  ASSERT_EQ(source.FilesNamedBy(child, out), S_OK);
  EXPECT_EQ(out, std::vector<std::string>{notes});

  ::kill(child, SIGTERM);
  ::waitpid(child, nullptr, 0);
  ASSERT_EQ(source.FilesNamedBy(child, out), S_OK);
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(Failed(ProcCommandLines("/nonexistent-proc").FilesNamedBy(child, out)));
}

}  // namespace
}  // namespace qv::platform
