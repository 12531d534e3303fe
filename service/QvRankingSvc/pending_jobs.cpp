#include "service/QvRankingSvc/pending_jobs.h"

#include <unistd.h>

#include <algorithm>
#include <string_view>

#include "context/event_report.h"
#include "platform/scheduler/job_table.h"
#include "service/QvRankingSvc/pending_update.h"

extern char** environ;

namespace qv::service {

PendingJobRunner::PendingJobRunner(const Context& ctx) : ctx_(ctx) {
  // The job works on the same installation as the service, whatever the environment says.
  constexpr std::string_view kRootVar = "QV_ROOT=";
  env_.push_back(std::string(kRootVar) + ctx.root.string());
  for (char** e = environ; e && *e; ++e) {
    if (std::string_view(*e).substr(0, kRootVar.size()) != kRootVar) env_.emplace_back(*e);
  }
  for (auto& e : env_) envp_.push_back(e.data());
  envp_.push_back(nullptr);
}

PendingJobRunner::~PendingJobRunner() {
  // Jobs still running finish on their own; once this process ends, init reaps them.
  Reap();
}

void PendingJobRunner::Reap() {
  std::erase_if(children_, [](pid_t pid) { return platform::TryReapChild(pid).has_value(); });
}

bool PendingJobRunner::WaitForJobs(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  std::erase_if(children_, [&](pid_t pid) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    return platform::WaitChild(pid, std::max(left, std::chrono::milliseconds(0))).has_value();
  });
  return children_.empty();
}

std::optional<SystemTime> PendingJobRunner::RunDueJobs() {
  Reap();
  const SystemTime now = ToSystemTime(ctx_.clock.Now());
  platform::JobTable table(platform::JobTable::FolderUnder(ctx_.root));
  std::vector<platform::ScheduledJob> due;
  std::optional<SystemTime> next;
  platform::JobTableDamage damage;
  const HRESULT hr = table.TakeDue(now, due, next, &damage);
  ReportJobTableDamage(ctx_, table, damage);
  if (Failed(hr)) {
    ReportEvent(ctx_, platform::EventType::Error, kCategoryProvider, kEventJobTableUnreadable,
                {table.path().string(), FormatHresult(hr)});
    next = now + kReapInterval;  // try again later rather than never
  }

  const uid_t self = ::geteuid();
  for (const auto& job : due) {
    if (job.uid != self) {
      // Never run anything with more rights than its owner had.
      ReportEvent(ctx_, platform::EventType::Warning, kCategoryProvider, kEventJobOfOtherUser,
                  {std::to_string(job.uid), job.argv.front()});
      continue;
    }
    pid_t pid = -1;
    const HRESULT started = platform::SpawnProcess(
        job.argv, {.niceIncrement = kJobNiceIncrement, .envp = envp_.data()}, pid);
    if (Failed(started)) {
      ReportEvent(ctx_, platform::EventType::Error, kCategoryProvider, kEventJobStartFailed,
                  {job.argv.front(), FormatHresult(started)});
      continue;
    }
    children_.push_back(pid);
  }

  if (!children_.empty()) {
    const SystemTime reap = now + kReapInterval;
    if (!next || reap < *next) next = reap;
  }
  return next;
}

}  // namespace qv::service
