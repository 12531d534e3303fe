#include "provider/journal/day_file_lock.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace qv::journal {

namespace {
constexpr std::chrono::milliseconds kFirstPause{1};
constexpr std::chrono::milliseconds kLongestPause{20};
}  // namespace

HRESULT LockDayFile(int fd, const Clock& clock, std::chrono::milliseconds wait) {
  const auto start = clock.Monotonic();
  std::chrono::nanoseconds slept{0};
  std::chrono::nanoseconds pause = kFirstPause;
  for (;;) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return S_OK;
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) return HresultFromErrno(errno);
    const auto waited = std::max<std::chrono::nanoseconds>(clock.Monotonic() - start, slept);
    if (waited >= wait) return STG_E_LOCKVIOLATION;
    const auto nap = std::min<std::chrono::nanoseconds>(pause, wait - waited);
    std::this_thread::sleep_for(nap);
    slept += nap;
    pause = std::min<std::chrono::nanoseconds>(pause * 2, kLongestPause);
  }
}

}  // namespace qv::journal
