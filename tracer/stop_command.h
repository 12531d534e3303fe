#pragma once
// `QvTracer --stop`: tells the session's tracer to shut down as the runtime manager does
// (KIVM_SHUTDOWN, open visits recorded) and waits, within a bound, until its process has ended.
#include <chrono>
#include <filesystem>
#include <ostream>

#include "platform/messaging/window_station.h"

namespace qv::tracer {

inline constexpr int kStopStopped = 0;   // a tracer ran and has ended
inline constexpr int kStopNoneRan = 1;   // no tracer runs in this session
inline constexpr int kStopTimedOut = 3;  // told, but still running when the wait ended

// `folder` is the session's runtime folder (it holds the start gate); messages go through
// `station`. Says what happened on `out`, or on `err` when no tracer was stopped.
int StopSessionTracer(const std::filesystem::path& folder, platform::WindowStation& station,
                      std::chrono::milliseconds wait, std::ostream& out, std::ostream& err);

}  // namespace qv::tracer
