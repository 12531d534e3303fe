#pragma once
// For tests that run a program of the build to its end: without a shell (test paths hold
// apostrophes and blanks), with its own QV_ROOT, no input, and its output captured.
#include <fcntl.h>
#include <errno.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/program_args.h"
#include "common/temp_dir.h"

namespace qv {

struct ProgramOutput {
  int status = -1;  // the exit code; -1 when it did not start or ended by a signal
  std::string out, err;
};

// `extra` holds NAME=VALUE settings for the program, as ProgramArgs takes them.
inline ProgramOutput RunProgramToEnd(std::vector<std::string> args,
                                     const std::filesystem::path& root,
                                     std::vector<std::string> extra = {}) {
  ProgramOutput o;
  TempDir capture;
  const std::filesystem::path outFile = capture.path() / "out", errFile = capture.path() / "err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  const ProgramArgs run(std::move(args), root, std::move(extra));
  pid_t pid = 0;
  if (posix_spawn(&pid, run.program(), &actions, nullptr, run.argv(), run.envp()) == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  std::stringstream a, b;
  a << std::ifstream(outFile).rdbuf();
  b << std::ifstream(errFile).rdbuf();
  o.out = a.str();
  o.err = b.str();
  return o;
}

}  // namespace qv
