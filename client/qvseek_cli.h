#pragma once
// QvSeek from the command line. The window comes with the graphical client; the headless
// mode "--print" runs one search and prints the ranked rows for the terminal and scripts.
#include <ostream>
#include <span>
#include <string_view>

#include "client/query_date.h"
#include "context/context.h"

namespace qv::client {

// Exit codes: 0 the search ran (with or without rows), 1 usage error, 2 the search failed.
inline constexpr int kSeekOk = 0;
inline constexpr int kSeekUsage = 1;
inline constexpr int kSeekFailed = 2;

// `args` excludes the program name. Registers the classes it needs in ctx.classes.
int RunQvSeek(std::span<const std::string_view> args, Context& ctx, const DateLocale& dates,
              std::ostream& out, std::ostream& err);

}  // namespace qv::client
