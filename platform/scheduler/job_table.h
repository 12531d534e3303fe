#pragma once
// The one-shot job table: programs to run once at a given time, kept in a file under the
// installation root so that jobs outlive the service that runs them. A job whose time passed
// while nothing ran is due at the next look. Every change rewrites the table whole (temporary
// file, fsync, rename) under an exclusive lock, so a crash leaves the old or the new table,
// never a mix. A damaged line is dropped alone: the other jobs are kept, and the damaged text
// is saved beside the table for inspection.
//
// Format: a header line "QvJobs 1", then one line per job:
//   <due, ms since 1970 UTC> <uid> <arg0> <arg1> ... <checksum>
// Arguments are non-empty; the bytes %, blank, control characters and DEL are written as
// %XX. The checksum is FNV-1a (32 bits, eight lower-case hex digits) of the line before it.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"

namespace qv::platform {

using SystemTime = std::chrono::system_clock::time_point;

struct ScheduledJob {
  SystemTime due;                 // kept to the millisecond
  uid_t uid = 0;                  // the user on whose behalf the job runs
  std::vector<std::string> argv;  // argv[0] is the program's absolute path
  friend bool operator==(const ScheduledJob&, const ScheduledJob&) = default;
};

inline constexpr std::string_view kJobTableHeader = "QvJobs 1";
inline constexpr std::string_view kJobTableFile = "jobs.tab";
inline constexpr std::string_view kJobTableDamagedFile = "jobs.tab.damaged";
inline constexpr std::string_view kJobTableLockFile = "jobs.lock";
inline constexpr std::size_t kMaxJobs = 1024;
inline constexpr std::size_t kMaxJobArgs = 64;
inline constexpr std::size_t kMaxJobLineBytes = 8192;
// What a reader takes in at most; anything beyond counts as damage.
inline constexpr std::size_t kMaxJobTableBytes = kMaxJobs * kMaxJobLineBytes;
// ERROR_NOT_ENOUGH_QUOTA: the table is full.
inline constexpr std::int32_t kErrorJobTableFull = 1816;

struct JobTableText {
  std::vector<ScheduledJob> jobs;
  std::size_t badLines = 0;  // lines dropped, a wrong header included
};

// Whether a job can be stored: an absolute program, 1 to kMaxJobArgs non-empty arguments
// without NUL, a line of at most kMaxJobLineBytes.
bool IsStorableJob(const ScheduledJob& job);
std::string FormatJobTable(std::span<const ScheduledJob> jobs);
JobTableText ParseJobTable(std::string_view text);

// What the last operation found wrong with the stored table.
struct JobTableDamage {
  std::size_t badLines = 0;
  std::filesystem::path savedCopy;  // the damaged text as it was read; empty if not saved
};

class JobTable {
 public:
  // The table lives in `folder` (created 0700 when missing), as jobs.tab (0600).
  explicit JobTable(std::filesystem::path folder) : folder_(std::move(folder)) {}
  // The folder under an installation root.
  static std::filesystem::path FolderUnder(const std::filesystem::path& root) {
    return root / "scheduler";
  }

  // E_INVALIDARG for a job that cannot be stored, HRESULT of kErrorJobTableFull when the
  // table holds kMaxJobs, else the I/O error; nothing changes on failure.
  HRESULT Add(const ScheduledJob& job, JobTableDamage* damage = nullptr);
  // Removes every job due at or before `now` and returns them in `due`, oldest first;
  // `next` is the earliest remaining due time. The removal is stored before this returns.
  HRESULT TakeDue(SystemTime now, std::vector<ScheduledJob>& due,
                  std::optional<SystemTime>& next, JobTableDamage* damage = nullptr);
  // Every stored job, in stored order.
  HRESULT List(std::vector<ScheduledJob>& out, JobTableDamage* damage = nullptr) const;

  std::filesystem::path path() const { return folder_ / kJobTableFile; }

 private:
  HRESULT Load(std::vector<ScheduledJob>& jobs, JobTableDamage* damage, bool saveDamage) const;
  HRESULT Store(std::span<const ScheduledJob> jobs) const;

  std::filesystem::path folder_;
};

}  // namespace qv::platform
