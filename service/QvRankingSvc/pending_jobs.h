#pragma once
// Runs the jobs of the job table when they are due. Each due job is taken out of the table
// before it starts, so a job that crashes the service, or a service killed while it starts
// one, never runs the same job again at every start: at most one attempt of a deferred
// update is lost that way, and an update that meets the lock again is scheduled anew by the
// utility itself. Jobs run without a shell, at a low priority, and only for this process's
// own user; the children are reaped on later calls, never waited for, since a job may call
// back into the service that started it.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <vector>

#include "context/context.h"
#include "platform/process/spawn.h"
// ULONG, which the listener's request types use.
#include "interfaces/ibase_activation.h"
#include "service/QvRankingSvc/listener_requests.h"

namespace qv::service {

// Jobs run niced, like the idle-priority work they stand for.
inline constexpr int kJobNiceIncrement = 19;
// While jobs run, the caller is asked back this soon to reap them.
inline constexpr std::chrono::seconds kReapInterval{5};

// Warning: a job of another user was dropped unrun. Strings: its uid, its program.
inline constexpr std::uint32_t kEventJobOfOtherUser = 0xC0000442;
// Error: a job could not be started. Strings: its program, "0x%X" of the error.
inline constexpr std::uint32_t kEventJobStartFailed = 0xC0000443;
// Error: the job table could not be read. Strings: the table, "0x%X" of the error.
inline constexpr std::uint32_t kEventJobTableUnreadable = 0xC0000444;

class PendingJobRunner {
 public:
  explicit PendingJobRunner(const Context& ctx);
  ~PendingJobRunner();
  PendingJobRunner(const PendingJobRunner&) = delete;
  PendingJobRunner& operator=(const PendingJobRunner&) = delete;

  // Starts every due job and reaps those that ended; returns when to call again: the next
  // job's time, or sooner while jobs still run; nullopt when nothing is left to do.
  std::optional<SystemTime> RunDueJobs();
  // Waits up to `limit` for the started jobs to end; true when none is left running.
  bool WaitForJobs(std::chrono::milliseconds limit);
  std::size_t running() const { return children_.size(); }

 private:
  void Reap();

  const Context& ctx_;
  std::vector<pid_t> children_;
  std::vector<std::string> env_;  // this process's environment, QV_ROOT set to ours
  std::vector<char*> envp_;
};

}  // namespace qv::service
