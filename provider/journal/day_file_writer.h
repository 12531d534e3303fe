#pragma once
// Appending records to journal day files. Writers of one file are serialised by an
// open-file-description lock on it; readers take none and see each record once it is
// written whole.
#include <sys/stat.h>
#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <span>

#include "common/clock.h"
#include "common/hresult.h"
#include "provider/journal/day_file_format.h"
#include "provider/journal/unique_fd.h"

namespace qv::journal {

// How long a writer waits for another writer of the same day file before giving up.
inline constexpr std::chrono::milliseconds kWriterLockWait{10'000};

class DayFileAppender {
 public:
  // Makes what was written to a descriptor durable, as fdatasync(2) does (the default);
  // 0 or -1 with errno. Tests pass their own to watch the order of events.
  using SyncData = std::function<int(int fd)>;

  explicit DayFileAppender(const Clock& clock, std::chrono::milliseconds lockWait = kWriterLockWait,
                           SyncData sync = {});

  // Appends one record holding `payload`, creating the file (and its header) if it does not
  // exist; `created` tells whether this call created it. A torn tail left by a writer that
  // died is cut off first; damage is left as it is for readers to skip. A file larger than
  // readers accept is set aside (renamed with dayfile::kDamagedSuffix) and a new one begun.
  // The record is on disk (synced) when this returns S_OK.
  // STG_E_LOCKVIOLATION when another writer holds the file longer than the lock wait;
  // STG_E_INVALIDHEADER when the file is not a day file (it is left untouched);
  // STG_E_PATHNOTFOUND when the folder is missing; I/O errors as HRESULTs.
  HRESULT Append(const std::filesystem::path& file, std::span<const std::uint8_t> payload,
                 bool& created);

 private:
  HRESULT LockWithWait(int fd) const;
  // Opens (or creates) the file and takes the writer lock, making sure the path still names
  // the locked file.
  HRESULT OpenLocked(const std::filesystem::path& file, UniqueFd& fd, struct stat& st,
                     bool& created) const;
  HRESULT SetAside(const std::filesystem::path& file) const;

  // Per file, the end of the records this appender has already checked, so that the next
  // append reads only what other writers added since. The last record's header (its CRC
  // covers a unique entry) proves that the file is still the one checked, even when a new
  // file got the old inode number.
  struct Checked {
    dev_t dev = 0;
    ino_t ino = 0;
    std::uint64_t lastRecord = 0;
    std::array<std::uint8_t, dayfile::kRecordHeaderSize> lastHeader{};
    std::uint64_t end = 0;
  };
  bool StillChecked(int fd, const Checked& c, dev_t dev, ino_t ino, std::uint64_t size) const;

  const Clock& clock_;
  std::chrono::milliseconds lockWait_;
  SyncData sync_;
  std::map<std::filesystem::path, Checked> checked_;
};

}  // namespace qv::journal
