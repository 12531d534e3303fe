#include "platform/desktop/proc_running_documents.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace qv::platform {

namespace {

// Folders of the system and of kernel objects; a window's process holds libraries, fonts,
// logs and caches there, never the user's documents.
constexpr std::string_view kSystemFolders[] = {"/proc/", "/sys/", "/dev/", "/run/",
                                               "/usr/",  "/lib/", "/lib32/", "/lib64/",
                                               "/bin/",  "/sbin/", "/etc/", "/boot/",
                                               "/var/lib/", "/var/cache/", "/var/log/", "/snap/"};

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

bool ParsePid(const char* name, int& pid) {
  const std::string_view s(name);
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), pid);
  return ec == std::errc() && p == s.data() + s.size() && pid > 0;
}

// The parent pid from /proc/<pid>/stat: "pid (comm) state ppid ..."; comm may hold ')'.
bool ParentOf(const std::filesystem::path& proc, int pid, int& ppid) {
  const std::string file = (proc / std::to_string(pid) / "stat").string();
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[1024];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  ::close(fd);
  if (n <= 0) return false;
  const std::string_view s(buf, static_cast<std::size_t>(n));
  const auto close = s.rfind(')');
  if (close == std::string_view::npos || close + 4 > s.size()) return false;
  std::string_view rest = s.substr(close + 2);  // "S ppid ..."
  const auto space = rest.find(' ');
  if (space == std::string_view::npos) return false;
  rest = rest.substr(space + 1);
  auto [p, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), ppid);
  return ec == std::errc();
}

}  // namespace

bool IsSystemPath(std::string_view path) {
  for (std::string_view f : kSystemFolders) {
    if (path.substr(0, f.size()) == f) return true;
  }
  return false;
}

ProcRunningDocuments::ProcRunningDocuments(const Desktop& desktop, std::filesystem::path procRoot)
    : desktop_(desktop), proc_(std::move(procRoot)) {}

HRESULT ProcRunningDocuments::ProcessTree(std::vector<int> roots, std::vector<int>& out) const {
  return platform::ProcessTree(proc_, std::move(roots), out);
}

HRESULT ProcessTree(const std::filesystem::path& proc, std::vector<int> roots,
                    std::vector<int>& out) {
  out.clear();
  Dir dir(::opendir(proc.c_str()));
  if (!dir) return HresultFromErrno(errno);
  std::multimap<int, int> children;  // parent -> child
  while (const dirent* e = ::readdir(dir.get())) {
    int pid = 0, ppid = 0;
    if (ParsePid(e->d_name, pid) && ParentOf(proc, pid, ppid)) children.emplace(ppid, pid);
  }
  std::set<int> seen;
  while (!roots.empty()) {
    const int pid = roots.back();
    roots.pop_back();
    if (pid <= 0 || !seen.insert(pid).second) continue;
    auto [lo, hi] = children.equal_range(pid);
    for (auto it = lo; it != hi; ++it) roots.push_back(it->second);
  }
  out.assign(seen.begin(), seen.end());
  return S_OK;
}

void ProcRunningDocuments::FilesOf(int pid, std::vector<RunningDocument>& out) const {
  const std::filesystem::path fdDir = proc_ / std::to_string(pid) / "fd";
  Dir dir(::opendir(fdDir.c_str()));
  if (!dir) return;  // ended, or another user's process
  std::set<std::string> seen;
  const int dfd = ::dirfd(dir.get());
  while (const dirent* e = ::readdir(dir.get())) {
    if (e->d_name[0] == '.') continue;
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(dfd, e->d_name, target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target || target[0] != '/') continue;
    std::string path(target, static_cast<std::size_t>(n));
    if (IsSystemPath(path)) continue;
    struct stat st {};
    if (::fstatat(dfd, e->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode) || st.st_nlink == 0) {
      continue;
    }
    if (seen.insert(path).second) out.push_back({DocumentKey(path), std::move(path)});
  }
}

HRESULT ProcRunningDocuments::Enumerate(std::vector<RunningDocument>& out) {
  out.clear();
  std::vector<int> roots;
  for (DesktopWindow w : desktop_.TopLevelWindows()) {
    WindowState s;
    if (desktop_.GetWindow(w, s) && s.pid > 0) roots.push_back(s.pid);
  }
  if (roots.empty()) return S_OK;
  std::vector<int> pids;
  if (const HRESULT hr = ProcessTree(std::move(roots), pids); Failed(hr)) return hr;
  for (int pid : pids) FilesOf(pid, out);
  return S_OK;
}

}  // namespace qv::platform
