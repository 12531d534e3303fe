#pragma once
// Deferred rank updates: an update that met a locked file becomes one job of the job table,
// which runs the rank update utility (QvUpdate) once, after a configured delay, with every
// value of the update on its command line and the retry number raised by one. The utility
// calls UpdateRank again; a file still locked comes back here, until the retry limit.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "context/context.h"
#include "platform/scheduler/job_table.h"
// ULONG, which the listener's request types use.
#include "interfaces/ibase_activation.h"
#include "service/QvRankingSvc/listener_requests.h"

namespace qv::service {

// Configuration under HKLM\Software\Quillon\Vesper\Files, read anew at every call.
inline constexpr std::string_view kUpdatePendingRetriesValue = "UpdatePendingRetries";
inline constexpr std::uint32_t kDefaultUpdatePendingRetries = 40;
inline constexpr std::uint32_t kMaxUpdatePendingRetries = 99;
inline constexpr std::string_view kUpdatePendingTimeoutValue = "UpdatePendingTimeout";
inline constexpr std::uint32_t kDefaultUpdatePendingTimeout = 300;  // seconds
inline constexpr std::uint32_t kMinUpdatePendingTimeout = 120;
inline constexpr std::uint32_t kMaxUpdatePendingTimeout = 3600;

// File names and search keys of this many characters (UTF-16 units) or more are refused.
inline constexpr std::size_t kMaxNameChars = 260;
inline constexpr std::size_t kMaxCommandLineChars = 2048;
inline constexpr std::string_view kUpdaterProgram = "QvUpdate";
inline constexpr std::uint32_t kMillisecondsPerDay = 86'400'000;

// Warning: an update reached the retry limit and was given up. Strings: file, retry count.
inline constexpr std::uint32_t kEventPendingUpdateDropped = 0xC0000440;
// Error: the job table was damaged; its good jobs were kept. Strings: table, number of
// damaged lines, where the damaged text was saved.
inline constexpr std::uint32_t kEventJobTableDamaged = 0xC0000441;

struct PendingConfig {
  std::uint32_t retryLimit = kDefaultUpdatePendingRetries;
  std::uint32_t delayMs = kDefaultUpdatePendingTimeout * 1000;
};
PendingConfig ReadPendingConfig(const platform::Registry& registry);

// The time of day, in ms after local midnight, at which a job made at `localMsOfDay` with
// the delay runs; past midnight it wraps into the next day.
std::uint32_t JobTimeOfDay(std::uint32_t localMsOfDay, std::uint32_t delayMs);
// Milliseconds after local midnight of a UTC moment.
std::uint32_t LocalMsOfDay(FileTime utc);

// Characters as the limits count them: UTF-16 units, each byte that is not UTF-8 one.
std::size_t CharacterCount(std::string_view s);

// The utility's argument vector: the program, the file name in double quotes, the ten
// numbers in lower-case hex (the dates as the high and low halves of their bit patterns,
// the retry number plus one) and the search key when it is a GUID. The quotes go with the
// name so that the utility always strips exactly them: a name that itself starts and ends
// with a quote survives.
std::vector<std::string> UpdaterArguments(const std::string& program, const PendingUpdate& u);
// The same as one command line, the program quoted when it holds a blank; what the length
// limit counts and what messages show.
std::string UpdaterCommandLine(const std::vector<std::string>& argv);

// QvUpdate beside this process's own executable.
HRESULT UpdaterPath(std::filesystem::path& out);

// UpdatePending: S_OK when a job was stored; S_FALSE when the retry count reached the limit
// (the update is given up and an event says so); E_INVALIDARG for a name of 260 characters or
// more; the access check's error; E_UNEXPECTED when no command line can be formed; the job
// table's error. The caller must be allowed to write the file, and be this process's user,
// since the job runs with this process's rights.
HRESULT SchedulePendingUpdate(const Context& ctx, const PendingUpdate& update,
                              const Caller& caller);
// A UTC FILETIME as a system clock time point (to the millisecond).
SystemTime ToSystemTime(FileTime ft);
// The error event for a damaged job table, when `damage` says it was.
void ReportJobTableDamage(const Context& ctx, const platform::JobTable& table,
                          const platform::JobTableDamage& damage);

// The same with the utility's path given (tests, and hosts installed elsewhere).
HRESULT SchedulePendingUpdate(const Context& ctx, const PendingUpdate& update,
                              const Caller& caller, const std::filesystem::path& updater);

}  // namespace qv::service
