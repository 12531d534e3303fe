#pragma once
// QvManager's program, shared by the build without an icon and the one with: its options,
// the stop signals, and the run itself (session gate, host window, loop). The icon, where
// there is one, runs on the program's main thread and meets the manager through the hooks.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "manager/runtime/manager_host.h"

namespace qv::manager {

inline constexpr int kExitUsage = 2;
inline constexpr int kExitPrerequisite = 3;
inline constexpr int kExitSetup = 255;

struct ManagerArgs {
  bool noIcon = false;
  std::string tracerScript;  // absolute; empty: the tracer follows the X display
};

// -1 to go on; otherwise the exit code (after --help, or a bad option reported on `err`).
int ParseManagerArgs(int argc, char** argv, ManagerArgs& out, std::ostream& help,
                     std::ostream& err);

// SIGTERM, SIGINT and SIGHUP are blocked for every thread, so that only the manager's own
// signal thread takes them: call first in main, before any thread exists.
void BlockStopSignals();

struct ManagerHooks {
  // On the manager's thread whenever the icon should change.
  std::function<void(const IconUpdate&)> onIcon;
  // On the manager's thread once the host window runs: a poster of host commands, callable
  // from any thread until onExit.
  std::function<void(std::function<void(std::uint64_t)>)> onReady;
  // On the manager's thread when the manager has ended (tracer stopped).
  std::function<void()> onExit;
  std::function<void()> showStatus;
};

// Runs the manager until it is closed or signalled; returns the exit code.
int RunManager(const ManagerArgs& args, const ManagerHooks& hooks);

}  // namespace qv::manager
