#pragma once
// qvforget: forgets the last hour, the last day or everything from the command line.
#include <ostream>
#include <span>
#include <string_view>

#include "context/context.h"

namespace qv::uiutils {

inline constexpr int kForgetExitOk = 0;
inline constexpr int kForgetExitPartly = 1;  // something could not be forgotten
inline constexpr int kForgetExitUsage = 2;

// Progress goes to `err` as it happens; the summary to `out`.
int RunQvforget(std::span<const std::string_view> args, const Context& ctx, std::ostream& out,
                std::ostream& err);

}  // namespace qv::uiutils
