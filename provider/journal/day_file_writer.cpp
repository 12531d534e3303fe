#include "provider/journal/day_file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <vector>

#include "provider/journal/day_file.h"
#include "provider/journal/day_file_format.h"
#include "provider/journal/unique_fd.h"

namespace qv::journal {
namespace {

constexpr std::chrono::milliseconds kFirstPause{1};
constexpr std::chrono::milliseconds kLongestPause{20};

HRESULT OpenError(int err) {
  if (err == ENOENT || err == ENOTDIR) return STG_E_PATHNOTFOUND;
  if (err == EACCES || err == EPERM || err == ELOOP) return STG_E_ACCESSDENIED;
  return HresultFromErrno(err);
}

HRESULT PreadAll(int fd, std::uint64_t offset, std::vector<std::uint8_t>& out) {
  std::size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::pread(fd, out.data() + got, out.size() - got,
                              static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return HresultFromErrno(errno);
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return S_OK;
}

HRESULT PwriteAll(int fd, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return HresultFromErrno(errno);
    }
    done += static_cast<std::size_t>(n);
  }
  return S_OK;
}

}  // namespace

HRESULT DayFileAppender::LockWithWait(int fd) const {
  // Waiting counts both the clock and the pauses taken, so a clock that stands still (as in
  // tests) cannot make the wait endless.
  const auto start = clock_.Monotonic();
  std::chrono::nanoseconds slept{0};
  std::chrono::nanoseconds pause = kFirstPause;
  for (;;) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return S_OK;
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) return HresultFromErrno(errno);
    const auto waited = std::max<std::chrono::nanoseconds>(clock_.Monotonic() - start, slept);
    if (waited >= lockWait_) return STG_E_LOCKVIOLATION;
    const auto nap = std::min<std::chrono::nanoseconds>(pause, lockWait_ - waited);
    std::this_thread::sleep_for(nap);
    slept += nap;
    pause = std::min<std::chrono::nanoseconds>(pause * 2, kLongestPause);
  }
}

bool DayFileAppender::StillChecked(int fd, const Checked& c, dev_t dev, ino_t ino,
                                   std::uint64_t size) const {
  if (c.dev != dev || c.ino != ino || c.end > size) return false;
  std::vector<std::uint8_t> header(c.lastHeader.size());
  return Succeeded(PreadAll(fd, c.lastRecord, header)) &&
         std::equal(header.begin(), header.end(), c.lastHeader.begin(), c.lastHeader.end());
}

HRESULT DayFileAppender::Append(const std::filesystem::path& file,
                                std::span<const std::uint8_t> payload, bool& created) {
  created = false;
  if (payload.empty() || payload.size() > dayfile::kMaxPayload) return E_INVALIDARG;

  // Open first: the file exists for all but the day's first entry. O_EXCL tells the one
  // writer that creates it.
  constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NOFOLLOW;
  UniqueFd fd(::open(file.c_str(), kFlags));
  if (!fd && errno == ENOENT) {
    fd.Reset(::open(file.c_str(), kFlags | O_CREAT | O_EXCL, 0600));
    if (fd) {
      created = true;
    } else if (errno == EEXIST) {
      fd.Reset(::open(file.c_str(), kFlags));
    }
  }
  if (!fd) return OpenError(errno);

  if (const HRESULT hr = LockWithWait(fd.get()); Failed(hr)) return hr;
  // From here on this process is the only writer; the lock goes with the descriptor.

  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return HresultFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return STG_E_ACCESSDENIED;
  std::uint64_t size = static_cast<std::uint64_t>(st.st_size);

  auto known = checked_.find(file);
  const bool trusted = known != checked_.end() &&
                       StillChecked(fd.get(), known->second, st.st_dev, st.st_ino, size);
  std::uint64_t start = trusted ? known->second.end : 0;

  if (!trusted) {
    std::vector<std::uint8_t> header(std::min<std::uint64_t>(size, dayfile::kFileHeaderSize));
    if (const HRESULT hr = PreadAll(fd.get(), 0, header); Failed(hr)) return hr;
    const HRESULT check = CheckDayFileHeader(header);
    if (Failed(check)) return check;  // someone else's file: leave it alone
    if (check == S_FALSE) {
      // New, or its creator died while writing the header.
      if (::ftruncate(fd.get(), 0) != 0) return HresultFromErrno(errno);
      const std::vector<std::uint8_t> fresh = DayFileHeader();
      if (const HRESULT hr = PwriteAll(fd.get(), 0, fresh); Failed(hr)) return hr;
      size = fresh.size();
    }
    start = dayfile::kFileHeaderSize;
  }

  // Check what other writers added since; find where the next record goes.
  std::uint64_t appendAt = size;
  if (start < size) {
    std::vector<std::uint8_t> added(size - start);
    if (const HRESULT hr = PreadAll(fd.get(), start, added); Failed(hr)) return hr;
    DayFileReader reader(added, 0);
    DayFileRecord record;
    while (reader.Next(record)) {
    }
    if (reader.tail() == DayFileTail::Torn) {
      appendAt = start + reader.tailOffset();
      if (::ftruncate(fd.get(), static_cast<off_t>(appendAt)) != 0) return HresultFromErrno(errno);
    }
  }

  const std::vector<std::uint8_t> record = EncodeDayFileRecord(payload);
  if (const HRESULT hr = PwriteAll(fd.get(), appendAt, record); Failed(hr)) {
    // Take back a partial record rather than leave it for the next writer to find.
    [[maybe_unused]] const int ignored = ::ftruncate(fd.get(), static_cast<off_t>(appendAt));
    checked_.erase(file);
    return hr;
  }
  Checked done{st.st_dev, st.st_ino, appendAt, {}, appendAt + record.size()};
  std::copy_n(record.begin(), done.lastHeader.size(), done.lastHeader.begin());
  checked_[file] = done;
  return S_OK;
}

}  // namespace qv::journal
