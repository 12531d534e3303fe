#pragma once
// Clearing journal days: the day folders of a date range (whole years and months where the
// range covers them), or the whole journal. Folders are removed through descriptors and
// symbolic links are never followed: a link is removed as a link, its target is left alone.
// A day's data file is deleted only under the journal writer's lock, so a writer in the
// middle of an entry finishes first, and a writer that comes after starts a new file, which
// is kept.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "common/clock.h"
#include "common/hresult.h"
#include "common/oledate.h"
#include "provider/journal/day_file_lock.h"

namespace qv::uiutils {

// Folders are cleared at most this many levels deep.
inline constexpr int kMaxClearDepth = 10;
// Progress is reported after every this many removed items.
inline constexpr std::uint64_t kProgressEvery = 30;

struct ClearProgress {
  std::uint64_t items = 0;  // files and folders removed
  std::uint64_t bytes = 0;  // bytes of the removed files
};

struct ClearCallbacks {
  // Called every kProgressEvery items and at the end; returning false aborts (E_ABORT).
  std::function<bool(const ClearProgress&)> progress;
  // Called for every error other than a missing file or folder.
  std::function<void(const std::filesystem::path&, HRESULT)> error;
};

class JournalClearer {
 public:
  // `lockWait`: how long to wait for a writer that holds a day file (as long as writers
  // wait for each other, by default).
  JournalClearer(std::filesystem::path journalRoot, const Clock& clock,
                 std::chrono::milliseconds lockWait);

  // Removes the days from `first` to `last` inclusive. Unless `continueOnErrors`, the first
  // error stops the work (what is removed stays removed). S_OK; E_INVALIDARG for a range
  // that is not two dates in order; E_ABORT when progress asked to stop; else the first
  // error met (the others went to the error callback too).
  HRESULT ClearRange(const CivilDay& first, const CivilDay& last, bool continueOnErrors,
                     const ClearCallbacks& callbacks, ClearProgress& done);
  // Removes every day of the journal (the root itself stays).
  HRESULT ClearAll(bool continueOnErrors, const ClearCallbacks& callbacks, ClearProgress& done);

 private:
  std::filesystem::path root_;
  const Clock& clock_;
  std::chrono::milliseconds lockWait_;
};

using journal::LockDayFile;

}  // namespace qv::uiutils
