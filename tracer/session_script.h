#pragma once
// Session scripts: what happens on a simulated desktop, step by step, for tests and the demo.
// One step per line, "at SECONDS COMMAND ARGS...", times from the start of the session and
// never decreasing; '#' starts a comment. An optional first step "start ISO-TIME" sets the
// wall clock. Commands:
//
//   window ID [title="..."] [class=NAME] [rect=L,T,R,B] [thread=N] [parent=ID] [hidden] [popup]
//   focus ID | close ID | show ID | hide ID | minimize ID | restore ID
//   title ID "TEXT"           move ID L,T,R,B
//   key ID [COUNT [INTERVAL]] key presses (down and up) into ID, INTERVAL seconds apart (0.2)
//   click ID                  a left click into ID
//   lock | unlock | screensaver-start | screensaver-stop | suspend | resume
//   visit-start ID "ITEM" FLAG...     visit-update ID ["ITEM"] FLAG...
//   visit-end ID ["ITEM"] FLAG...     (FLAG: track, notrack, norank, nojournal)
//   end-mail-visits
//   shutdown [discard]
//
// Example:
//   at 0   window 1 title="/home/me/report.odt - Writer" rect=0,0,1920,1080
//   at 0.5 focus 1
//   at 1   key 1 20 0.25
//   at 9   shutdown
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"
#include "common/oledate.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/sim_desktop.h"
#include "platform/desktop/sim_input.h"
#include "platform/desktop/sim_session_signals.h"
#include "platform/messaging/window_station.h"

namespace qv::tracer {

enum class ScriptCommand {
  Window, Focus, Close, Show, Hide, Minimize, Restore, Title, Move, Key, Click,
  Lock, Unlock, ScreenSaverStart, ScreenSaverStop, Suspend, Resume,
  VisitStart, VisitUpdate, VisitEnd, EndMailVisits, Shutdown,
};

struct ScriptStep {
  std::int64_t atMs = 0;
  int line = 0;
  ScriptCommand command = ScriptCommand::Focus;
  platform::WindowState window;  // Window; `window.id` is the target of every window command
  platform::Rect rect;           // Move
  std::string text;              // Title, visit item
  std::uint32_t flags = 0;       // visit flags
  std::uint32_t count = 1;       // Key
  std::int64_t intervalMs = 200;  // Key
  bool discard = false;          // Shutdown
};

struct SessionScript {
  std::optional<FileTime> start;
  std::vector<ScriptStep> steps;
};

// Limits that keep a hostile script from running for ever.
inline constexpr std::int64_t kMaxScriptMs = 10LL * 24 * 3600 * 1000;  // ten days
inline constexpr std::uint32_t kMaxKeyCount = 100000;
inline constexpr std::size_t kMaxScriptSteps = 100000;

// S_OK, or E_INVALIDARG with `error` saying "line N: what is wrong".
HRESULT ParseSessionScript(std::string_view text, SessionScript& out, std::string& error);

struct ScriptTargets {
  platform::SimDesktop& desktop;
  platform::SimInput& input;
  platform::SimSessionSignals& session;
  // Visit calls and window messages go through this station, as another process's would.
  platform::WindowStation& station;
};

// Plays a script. `moveTo(ms)` brings time to a step's moment (a manual clock and the
// tracer's workers, or a sleep); `perform(action)` runs a step (in manual mode on another
// thread while the tracer's workers run). Returns the results of failed visit calls as
// "line N: visit-start: 0x...".
std::vector<std::string> PlaySessionScript(
    const SessionScript& script, ScriptTargets targets,
    const std::function<void(std::int64_t)>& moveTo,
    const std::function<void(const std::function<void()>&)>& perform);

}  // namespace qv::tracer
