#include "shell/uiutils/journal_clearing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "provider/journal/journal_paths.h"
#include "provider/journal/unique_fd.h"

namespace qv::uiutils {
namespace {

using journal::UniqueFd;
namespace fs = std::filesystem;

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool Missing(int err) { return err == ENOENT; }

// Names in a folder, without "." and ".." and without hidden ones (names starting with a
// dot are never removed).
std::vector<std::string> VisibleNames(int dirFd) {
  std::vector<std::string> names;
  const int copy = ::dup(dirFd);
  if (copy < 0) return names;
  DIR* dir = ::fdopendir(copy);
  if (!dir) {
    ::close(copy);
    return names;
  }
  while (const dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    names.emplace_back(e->d_name);
  }
  ::closedir(dir);
  return names;
}

class Remover {
 public:
  Remover(const Clock& clock, std::chrono::milliseconds lockWait, bool continueOnErrors,
          const ClearCallbacks& cb, ClearProgress& done)
      : clock_(clock), lockWait_(lockWait), continue_(continueOnErrors), cb_(cb), done_(done) {}

  bool stopped() const { return stopped_; }
  HRESULT result() const { return aborted_ ? E_ABORT : first_; }

  void Report(const fs::path& path, HRESULT hr) {
    if (cb_.error) cb_.error(path, hr);
    if (Succeeded(first_)) first_ = hr;
    if (!continue_) stopped_ = true;
  }

  void Finish() {
    if (cb_.progress && !aborted_) cb_.progress(done_);
  }

  // Removes `name` in folder `dirFd` with everything below it.
  void Remove(int dirFd, const std::string& name, const fs::path& path, int depth) {
    if (stopped_) return;
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (!Missing(errno)) Report(path, HresultFromErrno(errno));
      return;
    }
    if (!S_ISDIR(st.st_mode)) {
      // Files and symbolic links alike: a link goes, whatever it points to stays.
      if (::unlinkat(dirFd, name.c_str(), 0) != 0) {
        if (!Missing(errno)) Report(path, HresultFromErrno(errno));
        return;
      }
      Count(S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0);
      return;
    }
    UniqueFd fd(::openat(dirFd, name.c_str(), kDirFlags));
    if (!fd) {
      if (!Missing(errno)) Report(path, HresultFromErrno(errno));
      return;
    }
    RemoveContents(fd.get(), path, depth);
    fd.Reset();
    if (stopped_) return;
    if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) {
      // Not empty: a writer began the day again after its file was removed, or hidden
      // items or items too deep were left. What is left is kept on purpose.
      if (errno != ENOTEMPTY && errno != EEXIST && !Missing(errno)) {
        Report(path, HresultFromErrno(errno));
      }
      return;
    }
    Count(0);
  }

  // Removes what folder `fd` holds. A day's data file goes last, under the writer's lock.
  void RemoveContents(int fd, const fs::path& path, int depth) {
    struct stat st {};
    // A folder without write permission for its owner is the read-only attribute here.
    if (::fstat(fd, &st) == 0 && (st.st_mode & S_IWUSR) == 0) {
      ::fchmod(fd, (st.st_mode & 07777) | S_IWUSR);
    }
    const std::string dayFile(journal::kDayFileName);
    UniqueFd data(::openat(fd, dayFile.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat dataStat {};
    if (data && (::fstat(data.get(), &dataStat) != 0 || !S_ISREG(dataStat.st_mode))) {
      data.Reset();
    }
    if (data) {
      if (const HRESULT hr = LockDayFile(data.get(), clock_, lockWait_); Failed(hr)) {
        // A writer keeps the day: none of it is touched, so no entry is half removed.
        Report(path / dayFile, hr);
        return;
      }
    }
    if (depth < kMaxClearDepth) {
      for (const std::string& child : VisibleNames(fd)) {
        if (data && child == dayFile) continue;
        Remove(fd, child, path / child, depth + 1);
        if (stopped_) return;
      }
    }
    if (data) {
      if (::unlinkat(fd, dayFile.c_str(), 0) != 0) {
        if (!Missing(errno)) Report(path / dayFile, HresultFromErrno(errno));
      } else {
        Count(static_cast<std::uint64_t>(dataStat.st_size));
      }
      // Closing the descriptor hands the lock to a waiting writer, which then finds the
      // name gone and starts the day afresh.
    }
  }

 private:
  void Count(std::uint64_t bytes) {
    ++done_.items;
    done_.bytes += bytes;
    if (done_.items % kProgressEvery == 0 && cb_.progress && !cb_.progress(done_)) {
      aborted_ = true;
      stopped_ = true;
    }
  }

  const Clock& clock_;
  std::chrono::milliseconds lockWait_;
  bool continue_;
  const ClearCallbacks& cb_;
  ClearProgress& done_;
  bool stopped_ = false;
  bool aborted_ = false;
  HRESULT first_ = S_OK;
};

bool ValidDay(const CivilDay& d) {
  return d.year >= 1 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
         d.day <= 31;
}

}  // namespace

JournalClearer::JournalClearer(fs::path journalRoot, const Clock& clock,
                               std::chrono::milliseconds lockWait)
    : root_(std::move(journalRoot)), clock_(clock), lockWait_(lockWait) {}

HRESULT JournalClearer::ClearRange(const CivilDay& first, const CivilDay& last,
                                   bool continueOnErrors, const ClearCallbacks& callbacks,
                                   ClearProgress& done) {
  done = {};
  if (!ValidDay(first) || !ValidDay(last) ||
      std::tie(first.year, first.month, first.day) > std::tie(last.year, last.month, last.day)) {
    return E_INVALIDARG;
  }
  UniqueFd root(::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root) return Missing(errno) ? S_OK : HresultFromErrno(errno);

  Remover r(clock_, lockWait_, continueOnErrors, callbacks, done);
  for (int y = first.year; y <= last.year && !r.stopped(); ++y) {
    const std::string year = std::to_string(y);
    const fs::path yearPath = root_ / year;
    if (y > first.year && y < last.year) {
      r.Remove(root.get(), year, yearPath, 1);
      continue;
    }
    // A year or month that is a link (or no folder) is not descended into.
    UniqueFd yearFd(::openat(root.get(), year.c_str(), kDirFlags));
    if (!yearFd) continue;
    const int firstMonth = y == first.year ? first.month : 1;
    const int lastMonth = y == last.year ? last.month : 12;
    for (int m = firstMonth; m <= lastMonth && !r.stopped(); ++m) {
      const std::string month = std::to_string(m);
      const bool startsHere = y == first.year && m == first.month;
      const bool endsHere = y == last.year && m == last.month;
      if (!startsHere && !endsHere) {
        r.Remove(yearFd.get(), month, yearPath / month, 2);
        continue;
      }
      UniqueFd monthFd(::openat(yearFd.get(), month.c_str(), kDirFlags));
      if (!monthFd) continue;
      const int firstDay = startsHere ? first.day : 1;
      const int lastDay = endsHere ? last.day : 31;
      for (int d = firstDay; d <= lastDay && !r.stopped(); ++d) {
        const std::string day = std::to_string(d);
        r.Remove(monthFd.get(), day, yearPath / month / day, 3);
      }
    }
  }
  r.Finish();
  return r.result();
}

HRESULT JournalClearer::ClearAll(bool continueOnErrors, const ClearCallbacks& callbacks,
                                 ClearProgress& done) {
  done = {};
  UniqueFd root(::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root) return Missing(errno) ? S_OK : HresultFromErrno(errno);
  Remover r(clock_, lockWait_, continueOnErrors, callbacks, done);
  r.RemoveContents(root.get(), root_, 0);
  r.Finish();
  return r.result();
}

}  // namespace qv::uiutils
