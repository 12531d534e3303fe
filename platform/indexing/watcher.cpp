#include "platform/indexing/watcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/indexing/catalog_keys.h"
#include "platform/indexing/regular_file.h"

namespace qv::platform::indexing {
namespace {

constexpr std::uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_ONLYDIR |
                                IN_DONT_FOLLOW | IN_EXCL_UNLINK;

}  // namespace

Watcher::Watcher(std::size_t maxWatches)
    : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), maxWatches_(maxWatches) {}

Watcher::~Watcher() {
  if (fd_ >= 0) close(fd_);
}

HRESULT Watcher::AddOne(const std::string& dir) {
  if (byPath_.count(dir)) return S_OK;
  if (maxWatches_ != 0 && byWd_.size() >= maxWatches_) return HresultFromErrno(ENOSPC);
  const int wd = inotify_add_watch(fd_, dir.c_str(), kMask);
  if (wd < 0) return HresultFromErrno(errno);
  byWd_[wd] = dir;
  byPath_[dir] = wd;
  return S_OK;
}

HRESULT Watcher::AddTree(const std::string& root, const ScopeSet& scopes) {
  if (fd_ < 0) return E_HANDLE;
  if (std::find(scopes_.begin(), scopes_.end(), &scopes) == scopes_.end()) {
    scopes_.push_back(&scopes);
  }
  std::vector<std::string> stack{root};
  HRESULT first = S_OK;
  while (!stack.empty()) {
    const std::string dir = std::move(stack.back());
    stack.pop_back();
    if (!scopes.Covers(dir)) continue;
    const HRESULT hr = AddOne(dir);
    if (Failed(hr)) {
      // Out of watches (ENOSPC) ends the walk; the crawl still covers what is not watched.
      if (Succeeded(first)) first = hr;
      if (hr == HresultFromErrno(ENOSPC)) {
        if (unwatched_.empty()) unwatched_ = dir;
        return hr;
      }
      continue;
    }
    DIR* d = OpenFolderNoFollow(dir);
    if (!d) continue;
    while (dirent* e = readdir(d)) {
      const std::string_view name = e->d_name;
      if (name == "." || name == ".." || name == kIndexFolder) continue;
      struct stat st {};
      if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
        stack.push_back(dir == "/" ? "/" + std::string(name) : dir + "/" + std::string(name));
      }
    }
    closedir(d);
  }
  return first;
}

HRESULT Watcher::Wait(std::chrono::milliseconds timeout, std::vector<std::string>& changed,
                      bool& overflow) {
  overflow = false;
  if (fd_ < 0) return E_HANDLE;
  pollfd p{fd_, POLLIN, 0};
  const int r = poll(&p, 1, static_cast<int>(timeout.count()));
  if (r < 0) return errno == EINTR ? S_OK : HresultFromErrno(errno);
  if (r == 0) return S_OK;
  alignas(inotify_event) char buf[64 * 1024];
  for (;;) {
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) break;
      return HresultFromErrno(errno);
    }
    if (n == 0) break;
    for (ssize_t off = 0; off < n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
      off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      if (ev->mask & IN_Q_OVERFLOW) {
        overflow = true;
        continue;
      }
      const auto it = byWd_.find(ev->wd);
      if (it == byWd_.end()) continue;
      const std::string dir = it->second;
      if (ev->mask & IN_IGNORED) {
        // The folder may be watched again already under a new descriptor: keep that one.
        if (auto p = byPath_.find(dir); p != byPath_.end() && p->second == ev->wd) {
          byPath_.erase(p);
        }
        byWd_.erase(it);
        continue;
      }
      if (ev->mask & IN_DELETE_SELF) {
        changed.push_back(dir);
        continue;
      }
      if (ev->len == 0) continue;
      const std::string path = (dir == "/" ? "" : dir) + "/" + ev->name;
      if ((ev->mask & IN_ISDIR) && (ev->mask & (IN_CREATE | IN_MOVED_TO))) {
        for (const auto* s : scopes_) {
          if (s->Covers(path)) AddTree(path, *s);
        }
      }
      if ((ev->mask & IN_ISDIR) && (ev->mask & IN_MOVED_FROM)) {
        // The folder's watches now name a path that is gone; drop them with their children.
        for (auto w = byPath_.begin(); w != byPath_.end();) {
          if (IsAtOrBelow(w->first, path)) {
            inotify_rm_watch(fd_, w->second);
            byWd_.erase(w->second);
            w = byPath_.erase(w);
          } else {
            ++w;
          }
        }
      }
      changed.push_back(path);
    }
  }
  return S_OK;
}

}  // namespace qv::platform::indexing
