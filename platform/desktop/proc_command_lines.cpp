#include "platform/desktop/proc_command_lines.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "platform/desktop/proc_running_documents.h"

namespace qv::platform {

namespace {

// Reads at most `limit` bytes of a /proc file (they report no size, so read until the end).
bool ReadSmallFile(const std::filesystem::path& file, std::size_t limit, std::string& out) {
  out.clear();
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[4096];
  while (out.size() < limit) {
    const ssize_t n = ::read(fd, buf, std::min(sizeof buf, limit - out.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace

std::vector<std::string> PathsInCommandLine(std::string_view cmdline, std::string_view cwd) {
  std::vector<std::string> out;
  std::set<std::string> seen;
  if (cwd.find('\0') != std::string_view::npos) cwd = {};  // no folder is spelt so
  std::size_t index = 0;
  while (!cmdline.empty() && index <= kMaxCommandLineArguments) {
    const auto end = cmdline.find('\0');
    std::string_view arg = cmdline.substr(0, end);
    cmdline = end == std::string_view::npos ? std::string_view() : cmdline.substr(end + 1);
    if (index++ == 0) continue;  // the program itself
    if (!arg.empty() && arg.front() == '-') {
      // "--file=notes.txt" names a file; "-n", "--" and "+12" do not (or not as a path).
      const auto eq = arg.find('=');
      if (eq == std::string_view::npos) continue;
      arg = arg.substr(eq + 1);
    }
    if (arg.empty() || arg.size() >= PATH_MAX) continue;
    std::filesystem::path p(arg);
    if (p.is_relative()) {
      if (cwd.empty() || cwd.front() != '/') continue;
      p = std::filesystem::path(cwd) / p;
    }
    std::string normal = p.lexically_normal().string();
    if (normal.size() > 1 && normal.back() == '/') continue;  // a folder by its spelling
    if (normal.size() >= PATH_MAX) continue;
    if (seen.insert(normal).second) out.push_back(std::move(normal));
  }
  return out;
}

ProcCommandLines::ProcCommandLines(std::filesystem::path procRoot) : proc_(std::move(procRoot)) {}

void ProcCommandLines::FilesOf(int pid, std::vector<std::string>& out) const {
  const std::filesystem::path dir = proc_ / std::to_string(pid);
  // Another user's process (a sudo editor) is none of this user's work.
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || st.st_uid != ::getuid()) return;
  std::string cmdline;
  if (!ReadSmallFile(dir / "cmdline", kMaxCommandLineBytes, cmdline)) return;
  char cwd[PATH_MAX];
  const std::string cwdLink = (dir / "cwd").string();
  const ssize_t n = ::readlink(cwdLink.c_str(), cwd, sizeof cwd);
  const std::string_view cwdView =
      n > 0 && static_cast<std::size_t>(n) < sizeof cwd ? std::string_view(cwd, n) : "";
  for (std::string& path : PathsInCommandLine(cmdline, cwdView)) {
    if (IsSystemPath(path)) continue;
    struct stat file {};
    if (::stat(path.c_str(), &file) != 0 || !S_ISREG(file.st_mode)) continue;
    if (std::find(out.begin(), out.end(), path) == out.end()) out.push_back(std::move(path));
  }
}

HRESULT ProcCommandLines::FilesNamedBy(std::int32_t pid, std::vector<std::string>& out) {
  out.clear();
  if (pid <= 0) return S_OK;
  std::vector<int> pids;
  if (const HRESULT hr = ProcessTree(proc_, {pid}, pids); Failed(hr)) return hr;
  for (int p : pids) FilesOf(p, out);
  return S_OK;
}

}  // namespace qv::platform
