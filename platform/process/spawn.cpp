#include "platform/process/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <vector>

extern char** environ;

namespace qv::platform {
namespace {

// Owns the spawn attribute and file-action objects for the duration of one spawn.
class SpawnSetup {
 public:
  SpawnSetup() {
    attrOk_ = ::posix_spawnattr_init(&attr_) == 0;
    actionsOk_ = ::posix_spawn_file_actions_init(&actions_) == 0;
  }
  ~SpawnSetup() {
    if (attrOk_) ::posix_spawnattr_destroy(&attr_);
    if (actionsOk_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // Empty signal mask and default dispositions, so that what the service blocks or ignores
  // does not leak into the job; stdin from /dev/null; nothing but stdout and stderr inherited.
  int Prepare(int stdinFd) {
    if (!attrOk_ || !actionsOk_) return ENOMEM;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    if (int e = ::posix_spawnattr_setsigmask(&attr_, &none)) return e;
    if (int e = ::posix_spawnattr_setsigdefault(&attr_, &all)) return e;
    if (int e = ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF))
      return e;
    const int e = stdinFd >= 0
                      ? ::posix_spawn_file_actions_adddup2(&actions_, stdinFd, STDIN_FILENO)
                      : ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null",
                                                           O_RDONLY, 0);
    if (e) return e;
    return ::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
  }
  const posix_spawnattr_t* attr() const { return &attr_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attr_{};
  posix_spawn_file_actions_t actions_{};
  bool attrOk_ = false;
  bool actionsOk_ = false;
};

ChildExit Decode(int status) {
  if (WIFEXITED(status)) return {true, WEXITSTATUS(status)};
  return {false, WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}

}  // namespace

HRESULT SpawnProcess(std::span<const std::string> argv, const SpawnOptions& options, pid_t& pid) {
  if (argv.empty() || argv[0].empty() || argv[0].front() != '/') return E_INVALIDARG;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) {
    if (a.find('\0') != std::string::npos) return E_INVALIDARG;
    args.push_back(const_cast<char*>(a.c_str()));
  }
  args.push_back(nullptr);

  SpawnSetup setup;
  if (const int e = setup.Prepare(options.stdinFd)) return HresultFromErrno(e);
  pid_t child = -1;
  const int e = ::posix_spawn(&child, args[0], setup.actions(), setup.attr(), args.data(),
                              options.envp ? options.envp : environ);
  if (e != 0) return HresultFromErrno(e);
  // posix_spawn has no attribute for the nice value; the child is ours, so lowering its
  // priority right after the start is allowed. It runs at ours for that moment only.
  if (options.niceIncrement > 0) {
    errno = 0;
    const int base = ::getpriority(PRIO_PROCESS, 0);
    if (errno == 0) {
      const int target = std::min(base + options.niceIncrement, 19);
      (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(child), target);
    }
  }
  pid = child;
  return S_OK;
}

std::optional<ChildExit> TryReapChild(pid_t pid) {
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid, &status, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == pid) return Decode(status);
  if (r < 0) return ChildExit{false, 0};  // not our child any more (or already reaped)
  return std::nullopt;
}

std::optional<ChildExit> WaitChild(pid_t pid, std::chrono::milliseconds limit) {
  // Polls with a growing pause: no signal handler of ours is needed, and the wait is bounded.
  const auto end = std::chrono::steady_clock::now() + limit;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (auto done = TryReapChild(pid)) return done;
    if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

}  // namespace qv::platform
