#pragma once
// Running QvSeek's window: the program's start-up (the "/q" command line or the empty
// search), and "--screenshot FILE.png [QUERY]", which searches, waits for the rows and writes
// a picture of the window (with QT_QPA_PLATFORM=offscreen no display is needed).
#include <span>
#include <string_view>

#include "client/query_date.h"
#include "context/context.h"

namespace qv::client {

// `argc`/`argv` are the program's own (Qt reads its options there); `args` excludes the
// program's name. Exit codes as for --print: 0, 1 usage, 2 failure.
int RunSeekWindow(int argc, char** argv, std::span<const std::string_view> args, Context& ctx,
                  const DateLocale& dates);

}  // namespace qv::client
