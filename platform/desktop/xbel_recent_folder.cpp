#include "platform/desktop/xbel_recent_folder.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/desktop/xbel.h"

namespace qv::platform {

namespace {

// Writers replace the list by renaming a new file over it, or rewrite it in place.
constexpr std::uint32_t kWatchMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE;

HRESULT ReadWholeFile(const std::filesystem::path& p, std::string& out, bool& missing) {
  missing = false;
  out.clear();
  const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      missing = true;
      return S_OK;
    }
    return HresultFromErrno(errno);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) > kMaxXbelBytes) {
    ::close(fd);
    return HresultFromWin32(win32::ERROR_FILENAME_EXCED_RANGE);
  }
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      ::close(fd);
      return HresultFromErrno(e);
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
    if (out.size() > kMaxXbelBytes) {
      ::close(fd);
      return HresultFromWin32(win32::ERROR_FILENAME_EXCED_RANGE);
    }
  }
  ::close(fd);
  return S_OK;
}

std::string LinkName(std::string_view href) {
  const auto slash = href.rfind('/');
  std::string path;
  std::string name(slash == std::string_view::npos ? href : href.substr(slash + 1));
  // The name as the target's file name, unescaped where possible.
  if (LocalPathFromFileUrl(href, path)) name = path.substr(path.rfind('/') + 1);
  return name + ".lnk";
}

}  // namespace

XbelRecentFolder::XbelRecentFolder(std::filesystem::path folder) : folder_(std::move(folder)) {}

XbelRecentFolder::~XbelRecentFolder() { Close(); }

HRESULT XbelRecentFolder::Open() {
  Close();
  inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ < 0) return HresultFromErrno(errno);
  if (::inotify_add_watch(inotify_, folder_.c_str(), kWatchMask) < 0) {
    const int e = errno;
    Close();
    return HresultFromErrno(e);
  }
  if (wake_ < 0) wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_ < 0) {
    const int e = errno;
    Close();
    return HresultFromErrno(e);
  }
  // What the list holds now is the starting point, not news.
  if (const HRESULT hr = Rescan(nullptr); Failed(hr)) {
    Close();
    return hr;
  }
  return S_OK;
}

HRESULT XbelRecentFolder::Close() {
  HRESULT hr = S_OK;
  if (inotify_ >= 0 && ::close(inotify_) != 0) hr = HresultFromErrno(errno);
  inotify_ = -1;
  return hr;
}

HRESULT XbelRecentFolder::Rescan(std::vector<RecentChange>* out) {
  std::string text;
  bool missing = false;
  if (const HRESULT hr = ReadWholeFile(folder_ / kXbelFileName, text, missing); Failed(hr)) return hr;
  for (auto& b : ParseXbel(text)) {
    std::string stamps = b.added + '|' + b.modified + '|' + b.visited;
    auto it = seen_.find(b.href);
    std::uint32_t action = kRecentActionModified;
    if (it == seen_.end()) {
      action = kRecentActionAdded;
      it = seen_.emplace(b.href, std::string()).first;
    } else if (it->second == stamps) {
      continue;
    }
    it->second = std::move(stamps);
    if (out) out->push_back({action, LinkName(b.href), b.href});
  }
  return S_OK;
}

HRESULT XbelRecentFolder::Read(RecentBatch& out) {
  out = {};
  if (inotify_ < 0) return HresultFromWin32(win32::ERROR_INVALID_HANDLE);
  std::uint64_t drained = 0;
  if (wake_ >= 0) (void)!::read(wake_, &drained, sizeof drained);
  alignas(inotify_event) char buf[4096];
  bool relevant = false, any = false;
  for (;;) {
    const ssize_t n = ::read(inotify_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    if (n <= 0) return HresultFromErrno(n < 0 ? errno : EIO);
    any = true;
    for (ssize_t off = 0; off < n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
      off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      if (ev->mask & IN_Q_OVERFLOW) {
        out.empty = true;
        relevant = true;
      } else if (ev->mask & IN_IGNORED) {
        return HresultFromWin32(win32::ERROR_PATH_NOT_FOUND);  // the folder went away
      } else if (ev->len > 0 && std::string_view(ev->name) == kXbelFileName) {
        relevant = true;
      }
    }
  }
  if (!any) return S_FALSE;
  if (relevant) {
    if (const HRESULT hr = Rescan(&out.changes); Failed(hr)) return hr;
  }
  return S_OK;
}

void XbelRecentFolder::Wait(std::chrono::milliseconds timeout) {
  pollfd fds[2];
  nfds_t n = 0;
  if (inotify_ >= 0) fds[n++] = {inotify_, POLLIN, 0};
  if (wake_ >= 0) fds[n++] = {wake_, POLLIN, 0};
  if (n == 0) return;
  ::poll(fds, n, static_cast<int>(timeout.count()));
}

void XbelRecentFolder::Wake() {
  if (wake_ < 0) return;
  const std::uint64_t one = 1;
  (void)!::write(wake_, &one, sizeof one);
}

HRESULT XbelRecentFolder::Resolve(const RecentChange& change, std::string& target) {
  if (!LocalPathFromFileUrl(change.link, target)) return HresultFromWin32(win32::ERROR_BAD_FORMAT);
  return S_OK;
}

}  // namespace qv::platform
