#pragma once
// The installation's logs (the event log, the indexing service's log) do not grow for ever:
// once a log reaches kLogSizeLimit it is moved aside to "<name>.1", replacing the previous one,
// and a new log is begun. At most about twice the limit is ever kept.
#include <cstdint>
#include <filesystem>

namespace qv::platform {

inline constexpr std::uint64_t kLogSizeLimit = 4 * 1024 * 1024;

// Where the previous log of `log` is kept.
std::filesystem::path PreviousLogPath(const std::filesystem::path& log);

// An O_APPEND descriptor (close-on-exec) on `log`, made 0600 when new, after moving a log of
// `limit` bytes or more aside. Of several processes that find the log full at once, one
// rotates it; the others append to the new one. -1 with errno set when `log` cannot be opened;
// a failed rotation keeps appending to the full log rather than lose a line.
int OpenRotatedLog(const std::filesystem::path& log, std::uint64_t limit = kLogSizeLimit);

}  // namespace qv::platform
