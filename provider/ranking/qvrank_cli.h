#pragma once
// The qvrank command line: ranking records of files for users and scripts. Every number goes
// through BaseActivation and FileRanking.
#include <ostream>
#include <span>
#include <string_view>

#include "context/context.h"

namespace qv {

// Exit codes: 0 done, 1 usage error, 2 the operation failed (its HRESULT is printed) or
// recorded nothing.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitFailed = 2;

// `args` excludes the program name. The context must have the ranking classes registered.
int RunQvrank(std::span<const std::string_view> args, Context& ctx, std::ostream& out,
              std::ostream& err);

}  // namespace qv
