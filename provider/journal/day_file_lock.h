#pragma once
// The day file's writer lock: an open-file-description write lock on the whole file, which
// every writer of the journal and everything that clears it takes before changing a day.
#include <chrono>

#include "common/clock.h"
#include "common/hresult.h"

namespace qv::journal {

// Takes the lock on an open day file, waiting at most `wait` with growing pauses.
// STG_E_LOCKVIOLATION when another holder keeps it longer. The wait counts both the clock and
// the pauses taken, so a clock that stands still (as in tests) cannot make it endless.
HRESULT LockDayFile(int fd, const Clock& clock, std::chrono::milliseconds wait);

}  // namespace qv::journal
