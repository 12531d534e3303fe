#pragma once
// QvUpdate: carries out one deferred ranking update, as the ranking service's job asks. It
// rebuilds the update from its arguments and calls UpdateRank with the retry number; a file
// still locked goes back to the service from there, so the utility never waits or loops.
#include <cstdint>
#include <span>
#include <string_view>

#include "context/context.h"

namespace qv::update {

// Error: a run failed. Strings: the file (empty when the arguments did not give one),
// "0x%X" of the HRESULT, the exit code, the system's message text.
inline constexpr std::uint32_t kEventUpdateFailed = 0xC0000445;

// The nice value the utility runs at, besides the idle scheduling class.
inline constexpr int kIdleNice = 19;

// The run's HRESULT for args[0..] (args[0] the program name); failures are logged.
HRESULT RunUpdate(const Context& ctx, std::span<const std::string_view> args);

// Lowers this process to idle priority (nice 19, SCHED_IDLE); failures are ignored.
void LowerToIdlePriority();

}  // namespace qv::update
