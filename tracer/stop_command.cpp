#include "tracer/stop_command.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

#include "hooks/QvHooks/tracer_messages.h"
#include "platform/messaging/unique_fd.h"
#include "tracer/session_lock.h"
#include "tracer/tracer_constants.h"

namespace qv::tracer {

namespace {

using namespace std::chrono_literals;

// A descriptor that becomes readable when process `pid` ends; -1 where the kernel has none.
int WatchProcess(pid_t pid) {
#ifdef SYS_pidfd_open
  if (pid > 0) return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#endif
  (void)pid;
  return -1;
}

}  // namespace

int StopSessionTracer(const std::filesystem::path& folder, platform::WindowStation& station,
                      std::chrono::milliseconds wait, std::ostream& out, std::ostream& err) {
  const platform::Hwnd main = station.FindWindow(hooks::kTracerWindowClass);
  pid_t pid = 0;
  const bool held = SessionLock::Holder(folder, kStartGateName, pid) == S_OK;
  if (main == 0 || !held) {
    err << "QvTracer: no tracer runs in this session (nothing to stop)\n";
    return kStopNoneRan;
  }
  // Watched before it is told, so its end cannot be missed; the gate is still held then, so
  // the id is the tracer's and not a recycled one.
  platform::UniqueFd process(WatchProcess(pid));
  if (Failed(station.PostMessage(main, hooks::KIVM_SHUTDOWN, 0, 0))) {
    err << "QvTracer: no tracer runs in this session (it ended just now)\n";
    return kStopNoneRan;
  }
  const auto deadline = std::chrono::steady_clock::now() + wait;
  bool ended = false;
  if (process.get() >= 0) {
    pollfd p{process.get(), POLLIN, 0};
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      const int r = ::poll(&p, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
      if (r > 0) ended = true;
      if (r >= 0 || errno != EINTR) break;
    }
  } else {
    // Without a process descriptor: the gate is given up only after the last visit is recorded.
    pid_t now = 0;
    while (!(ended = SessionLock::Holder(folder, kStartGateName, now) != S_OK) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(50ms);
    }
  }
  const std::string who = pid > 0 ? "the tracer (process " + std::to_string(pid) + ")" : "the tracer";
  if (!ended) {
    err << "QvTracer: " << who << " was told to stop but still runs after "
        << std::chrono::duration_cast<std::chrono::seconds>(wait).count()
        << " s; see the Application event log under QV_ROOT/eventlog, or end it with kill -TERM\n";
    return kStopTimedOut;
  }
  out << "QvTracer: " << who << " stopped; its open visits were recorded\n";
  return kStopStopped;
}

}  // namespace qv::tracer
