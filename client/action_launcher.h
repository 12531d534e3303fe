#pragma once
// Runs the commands of item actions: the program is found in the search path and started
// without a shell; the launcher waits a bounded time for its verdict (the desktop's open
// helper exits once it has handed the item over) and turns its exit status into an HRESULT.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "client/item_actions.h"
#include "common/clock.h"
#include "common/hresult.h"

namespace qv::client {

// How long an action waits for its helper's exit before taking "still running" as success.
inline constexpr std::chrono::milliseconds kActionWait{10000};

// The open helper's exit status: 0 success; 1 a bad argument (E_INVALIDARG); 2 the item is
// missing (ERROR_FILE_NOT_FOUND); 3 no program for it (ERROR_NO_ASSOCIATION); anything else,
// or a signal, E_FAIL.
HRESULT HresultFromExitStatus(int waitStatus);

// The first executable file called `program` in the colon-separated `searchPath` (a name
// with a '/' is taken as it is). HRESULT of ERROR_FILE_NOT_FOUND when there is none.
HRESULT FindProgram(std::string_view program, std::string_view searchPath,
                    std::filesystem::path& out);

class ActionLauncher {
 public:
  // `searchPath` is where programs are looked for (PATH).
  ActionLauncher(const Clock& clock, std::string searchPath,
                 std::chrono::milliseconds wait = kActionWait);
  // Reaps helpers that finished; those still running are left to run.
  ~ActionLauncher();
  ActionLauncher(const ActionLauncher&) = delete;
  ActionLauncher& operator=(const ActionLauncher&) = delete;

  // Starts the command and waits for its verdict: its exit status as an HRESULT, or S_OK
  // when it is still running after the wait.
  HRESULT Run(const ActionCommand& command);
  // Runs the plan's command; when that finds no program for the item, the fallback once.
  HRESULT Run(const ActionPlan& plan);

  // Collects the helpers that finished since; those still running stay.
  void ReapFinished();
  // Helpers started and not yet reaped.
  std::size_t running() const { return running_.size(); }

 private:
  const Clock& clock_;
  std::string searchPath_;
  std::chrono::milliseconds wait_;
  std::vector<pid_t> running_;
};

}  // namespace qv::client
