#include "mail/QvOutlookAddIn/store_shortcut.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "context/event_report.h"
#include "mail/QvOutlookAddIn/addin_events.h"
#include "mail/QvOutlookAddIn/shortcut_name.h"
#include "platform/fs/private_files.h"

namespace qv::mail::addin {
namespace {

namespace fs = std::filesystem;
namespace pm = platform::mail;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

HRESULT LastError() { return HresultFromErrno(errno); }

void Report(const Context& ctx, std::uint32_t id, const fs::path& item, HRESULT hr) {
  ReportItemError(ctx, kAddInCategory, id, item.string(), hr);
}

// Creation time has no settable counterpart here; the last-write time is what the indexer
// and the walks read. The last-access time is left alone.
HRESULT SetTimes(int fd, FileTime lastWrite) {
  if (lastWrite == 0) return S_OK;
  timespec ts[2];
  ts[0].tv_sec = 0;
  ts[0].tv_nsec = UTIME_OMIT;
  ts[1] = FileTimeToTimespec(lastWrite);
  return ::futimens(fd, ts) == 0 ? S_OK : LastError();
}

// Up to `limit` bytes from the start of the file.
HRESULT ReadHead(int fd, std::size_t limit, std::vector<std::uint8_t>& out) {
  out.assign(limit, 0);
  std::size_t got = 0;
  while (got < limit) {
    const ssize_t n = ::pread(fd, out.data() + got, limit - got, static_cast<off_t>(got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return S_OK;
}

// Parks the record by writing a hidden sibling and renaming it over the shortcut, so a crash
// leaves either the old contents or the whole new record, never part of one.
HRESULT ReplaceWithRecord(const fs::path& path, const PendingRecord& record, FileTime lastWrite) {
  const fs::path temp = path.parent_path() / ("." + path.filename().string() + "~");
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (fd.get() < 0) return LastError();
  HRESULT hr = S_OK;
  std::size_t done = 0;
  while (done < record.size() && Succeeded(hr)) {
    const ssize_t n = ::write(fd.get(), record.data() + done, record.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) hr = n < 0 ? LastError() : STG_E_WRITEFAULT;
    else done += static_cast<std::size_t>(n);
  }
  if (Succeeded(hr) && ::fchmod(fd.get(), 0600) != 0) hr = LastError();
  if (Succeeded(hr)) hr = SetTimes(fd.get(), lastWrite);
  if (Succeeded(hr) && ::fsync(fd.get()) != 0) hr = LastError();
  fd.reset();
  if (Succeeded(hr) && ::rename(temp.c_str(), path.c_str()) != 0) hr = LastError();
  if (Failed(hr)) ::unlink(temp.c_str());
  return hr;
}

// Writes the record into the item as its eleven named properties and saves it.
HRESULT ApplyToItem(pm::MessageStore& store, std::span<const std::uint8_t> key,
                    const ranking::RankingSet& set) {
  pm::Message message;
  if (HRESULT hr = store.OpenMessage(key, message); Failed(hr)) return hr;
  SetRankingProperties(message, set);
  return store.SaveMessage(message);
}

}  // namespace

HRESULT WriteShortcut(const Context& ctx, pm::MessageStore* store, const ShortcutRequest& r) {
  fs::path path;
  if (HRESULT hr = ShortcutPath(r.directory, r.key, path); Failed(hr)) {
    Report(ctx, kEventShortcutFailed, r.directory / HexUpper(r.key), hr);
    return hr;
  }
  bool force = r.force, apply = r.apply;
  if (r.pending != nullptr) {
    force = true;
    apply = false;
  }

  struct stat st {};
  const bool exists = ::lstat(path.c_str(), &st) == 0;
  if (!exists) {
    if (const std::error_code ec = platform::CreatePrivateFolders(path.parent_path())) {
      const HRESULT hr = HresultFromErrno(ec.value());
      Report(ctx, kEventBucketFolderFailed, path.parent_path(), hr);
      return hr;
    }
    // Nothing parked in a shortcut that is not there.
    apply = false;
  } else if (!force) {
    if (!apply || st.st_size == 0) return S_OK;
  }

  if (r.pending != nullptr) {
    const HRESULT hr = ReplaceWithRecord(path, *r.pending, r.lastWrite);
    if (Failed(hr)) Report(ctx, kEventPendingWriteFailed, path, hr);
    return hr;
  }

  Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (fd.get() < 0) {
    const HRESULT hr = LastError();
    Report(ctx, kEventShortcutFailed, path, hr);
    return hr;
  }
  HRESULT result = SetTimes(fd.get(), r.lastWrite);
  if (Failed(result)) Report(ctx, kEventShortcutFailed, path, result);
  if (!apply) return result;

  std::vector<std::uint8_t> head;
  ranking::RankingSet set;
  HRESULT hr = ReadHead(fd.get(), kPendingRecordSize + 1, head);
  if (Succeeded(hr) && head.empty()) return result;  // emptied since we looked
  if (Succeeded(hr)) hr = DecodePendingRecord(head, set);
  if (Failed(hr)) {
    // A record that is not whole can never be applied: report it and empty the shortcut.
    Report(ctx, kEventPendingReadFailed, path, hr);
    if (::ftruncate(fd.get(), 0) != 0) Report(ctx, kEventShortcutCutFailed, path, LastError());
    SetTimes(fd.get(), r.lastWrite);
    return hr;
  }

  if (store == nullptr) {
    hr = E_POINTER;
  } else {
    hr = ApplyToItem(*store, r.key, set);
  }
  if (Failed(hr)) {
    // The record stays parked; the next pass tries again.
    Report(ctx, kEventItemWriteFailed, path, hr);
    return hr;
  }
  // Only the record just applied leaves the shortcut: a newer one parked meanwhile stays.
  std::vector<std::uint8_t> now;
  fd.reset();
  Fd again(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  if (again.get() < 0) return result;  // gone or replaced: nothing of ours left to cut
  if (Succeeded(ReadHead(again.get(), kPendingRecordSize + 1, now)) && now == head) {
    if (::ftruncate(again.get(), 0) != 0) {
      hr = LastError();
      Report(ctx, kEventShortcutCutFailed, path, hr);
      return hr;
    }
    SetTimes(again.get(), r.lastWrite);
  }
  return result;
}

HRESULT DeleteShortcut(const Context& ctx, const fs::path& directory,
                       std::span<const std::uint8_t> key) {
  fs::path path;
  if (HRESULT hr = ShortcutPath(directory, key, path); Failed(hr)) {
    Report(ctx, kEventShortcutDeleteFailed, directory / HexUpper(key), hr);
    return hr;
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) {
    const HRESULT hr = LastError();
    Report(ctx, kEventShortcutDeleteFailed, path, hr);
    return hr;
  }
  return S_OK;
}

HRESULT ReadPendingRecord(const fs::path& directory, std::span<const std::uint8_t> key,
                          ranking::RankingSet& out) {
  fs::path path;
  if (HRESULT hr = ShortcutPath(directory, key, path); Failed(hr)) return hr;
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) return errno == ENOENT || errno == ENOTDIR ? S_FALSE : LastError();
  std::vector<std::uint8_t> head;
  if (HRESULT hr = ReadHead(fd.get(), kPendingRecordSize + 1, head); Failed(hr)) return hr;
  if (head.empty()) return S_FALSE;
  return DecodePendingRecord(head, out);
}

}  // namespace qv::mail::addin
