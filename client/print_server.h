#pragma once
// "QvSeek --serve": a process that keeps one root's catalogs open, with their property
// caches (loaded between searches) and exclusion memos, and runs the --print searches that QvSeek hands it (see
// print_protocol.h). It serves only its own user, only clients of its root whose time zone
// and locale equal its own, and one search at a time; every search reads the registry and
// the catalogs as a search of its own process would, so what it prints is what that would.
#include <chrono>
#include <ostream>

#include "client/query_date.h"
#include "context/context.h"

namespace qv::client {

struct PrintServerOptions {
  // Ends after this long without a search, so that a server nobody uses gives its memory back.
  std::chrono::minutes idle{15};
};

// The exit code of a server that found another one of its root running.
inline constexpr int kSeekServerRuns = 3;

// Runs until SIGTERM, SIGINT or SIGHUP, the idle time, or the root's removal: 0 when it ended
// so, kSeekServerRuns, or 2 when it could not start or wait for searches.
int RunPrintServer(Context& ctx, const DateLocale& dates, const PrintServerOptions& options,
                   std::ostream& out, std::ostream& err);

}  // namespace qv::client
