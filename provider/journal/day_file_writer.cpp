#include "provider/journal/day_file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "provider/journal/day_file.h"
#include "provider/journal/day_file_format.h"
#include "provider/journal/day_file_lock.h"

namespace qv::journal {
namespace {

// How often a writer opens the day file again because its name came to mean another file.
constexpr int kMaxReopens = 8;
// Names tried for a damaged file set aside: Journal.q6d.damaged, Journal.q6d.damaged-2, ...
constexpr int kMaxSetAsideNames = 100;

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
  return LockDayFile(fd, clock_, lockWait_);
}

bool DayFileAppender::StillChecked(int fd, const Checked& c, dev_t dev, ino_t ino,
                                   std::uint64_t size) const {
  if (c.dev != dev || c.ino != ino || c.end > size) return false;
  std::vector<std::uint8_t> header(c.lastHeader.size());
  return Succeeded(PreadAll(fd, c.lastRecord, header)) &&
         std::equal(header.begin(), header.end(), c.lastHeader.begin(), c.lastHeader.end());
}

DayFileAppender::DayFileAppender(const Clock& clock, std::chrono::milliseconds lockWait,
                                 SyncData sync)
    : clock_(clock), lockWait_(lockWait), sync_(std::move(sync)) {
  if (!sync_) sync_ = [](int fd) { return ::fdatasync(fd); };
}

HRESULT DayFileAppender::OpenLocked(const std::filesystem::path& file, UniqueFd& fd,
                                    struct stat& st, bool& created) const {
  created = false;
  // The path may come to name another file while this writer waits for the lock: another
  // writer set a damaged file aside, or the day was removed. Writing to the old one would
  // lose the entry, so the path is checked under the lock and opened again if it moved.
  for (int attempt = 0; attempt < kMaxReopens; ++attempt) {
    // Open first: the file exists for all but the day's first entry. O_EXCL tells the one
    // writer that creates it.
    constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NOFOLLOW;
    fd.Reset(::open(file.c_str(), kFlags));
    bool made = false;
    if (!fd && errno == ENOENT) {
      fd.Reset(::open(file.c_str(), kFlags | O_CREAT | O_EXCL, 0600));
      if (fd) {
        made = true;
      } else if (errno == EEXIST) {
        fd.Reset(::open(file.c_str(), kFlags));
      }
    }
    if (!fd) return OpenError(errno);
    if (made) {
      // The new name should outlive a power loss as surely as the records written into it.
      // Best effort: some file systems cannot sync a folder, and failing here would leave a
      // file that no later call knows it created.
      UniqueFd folder(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (folder) {
        [[maybe_unused]] const int ignored = sync_(folder.get());
      }
    }

    if (const HRESULT hr = LockWithWait(fd.get()); Failed(hr)) return hr;
    // From here on this process is the only writer; the lock goes with the descriptor.
    if (::fstat(fd.get(), &st) != 0) return HresultFromErrno(errno);
    if (!S_ISREG(st.st_mode)) return STG_E_ACCESSDENIED;
    struct stat named {};
    if (::lstat(file.c_str(), &named) == 0 && named.st_dev == st.st_dev &&
        named.st_ino == st.st_ino) {
      created = made;
      return S_OK;
    }
  }
  return STG_E_LOCKVIOLATION;  // the file keeps being replaced: as good as held by others
}

HRESULT DayFileAppender::SetAside(const std::filesystem::path& file) const {
  // Renamed, never overwritten: its bytes stay for whoever wants to look into them.
  for (int n = 1; n <= kMaxSetAsideNames; ++n) {
    std::filesystem::path aside = file;
    aside += dayfile::kDamagedSuffix;
    if (n > 1) aside += "-" + std::to_string(n);
    if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) {
      return S_OK;
    }
    if (errno != EEXIST) return HresultFromErrno(errno);
  }
  return STG_E_MEDIUMFULL;
}

HRESULT DayFileAppender::Append(const std::filesystem::path& file,
                                std::span<const std::uint8_t> payload, bool& created) {
  created = false;
  if (payload.empty() || payload.size() > dayfile::kMaxPayload) return E_INVALIDARG;

  UniqueFd fd;
  struct stat st {};
  for (int attempt = 0;; ++attempt) {
    bool made = false;
    if (const HRESULT hr = OpenLocked(file, fd, st, made); Failed(hr)) return hr;
    created = created || made;
    // Readers refuse a file this large, so whatever is added to it is lost to them; it is
    // damaged (a day never grows this big). Reading it to append would exhaust memory.
    if (static_cast<std::uint64_t>(st.st_size) <= dayfile::kMaxFileSize) break;
    if (attempt >= kMaxReopens) return STG_E_MEDIUMFULL;
    checked_.erase(file);
    if (const HRESULT hr = SetAside(file); Failed(hr)) return hr;
  }
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
  HRESULT written = PwriteAll(fd.get(), appendAt, record);
  // On disk before the caller goes on (it creates the entry's marker next): a marker must
  // never outlive its record after a power loss.
  if (Succeeded(written) && sync_(fd.get()) != 0) written = HresultFromErrno(errno);
  if (Failed(written)) {
    // Take back a partial or unsure record rather than leave it for the next writer to find.
    [[maybe_unused]] const int ignored = ::ftruncate(fd.get(), static_cast<off_t>(appendAt));
    checked_.erase(file);
    return written;
  }
  Checked done{st.st_dev, st.st_ino, appendAt, {}, appendAt + record.size()};
  std::copy_n(record.begin(), done.lastHeader.size(), done.lastHeader.begin());
  checked_[file] = done;
  return S_OK;
}

}  // namespace qv::journal
