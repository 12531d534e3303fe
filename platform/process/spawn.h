#pragma once
// Starting another program without a shell: posix_spawn with the argument vector as given,
// standard input from /dev/null (or a descriptor the caller hands over), descriptors above stderr closed, default signal handling,
// and a nice value. The parent reaps the child with WaitChild or TryReapChild.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <span>
#include <string>

#include "common/hresult.h"

namespace qv::platform {

struct SpawnOptions {
  // Added to the child's nice value (0 to 19); the child never runs above its parent.
  int niceIncrement = 0;
  // The child's environment; null keeps this process's.
  char* const* envp = nullptr;
  // The child's standard input: this descriptor of ours (a pipe or socket to talk over), or
  // /dev/null when negative.
  int stdinFd = -1;
};

// Starts argv[0] (an absolute path; no search of PATH) with argv as its arguments. Fails with
// E_INVALIDARG for an empty vector, a relative program or an argument holding a NUL, else with
// the spawn's errno as HRESULT.
HRESULT SpawnProcess(std::span<const std::string> argv, const SpawnOptions& options, pid_t& pid);

// How a child ended: its exit status, or the signal that ended it.
struct ChildExit {
  bool exited = false;
  int status = 0;  // exit status when exited, else the signal number
};

// Waits for the child to end, at most `limit`; nullopt when it is still running then (it is
// left running and can be waited for again).
std::optional<ChildExit> WaitChild(pid_t pid, std::chrono::milliseconds limit);
// Reaps the child if it has ended, without waiting.
std::optional<ChildExit> TryReapChild(pid_t pid);

}  // namespace qv::platform
