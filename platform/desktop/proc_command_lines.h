#pragma once
// WindowDocuments from /proc: the arguments of a window's process (its _NET_WM_PID) and of
// every process under it, relative ones resolved against that process's working folder.
// Only the user's own processes are read; system folders and anything that is not an
// existing regular file never count.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop/window_documents.h"

namespace qv::platform {

// Command lines longer than this are read only this far; more arguments than this are not
// looked at (a build's compiler call may name thousands of files).
inline constexpr std::size_t kMaxCommandLineBytes = 64 * 1024;
inline constexpr std::size_t kMaxCommandLineArguments = 64;

// The paths a command line (/proc/<pid>/cmdline: arguments each ending in NUL) may name:
// every argument after the program, and the value of "--option=value"; other options and
// empty arguments are skipped. Relative paths are joined to `cwd`; all come back lexically
// normal and absolute, each once, in order. Nothing is checked against the file system.
std::vector<std::string> PathsInCommandLine(std::string_view cmdline, std::string_view cwd);

class ProcCommandLines final : public WindowDocuments {
 public:
  // `procRoot` is /proc except in tests.
  explicit ProcCommandLines(std::filesystem::path procRoot = "/proc");
  HRESULT FilesNamedBy(std::int32_t pid, std::vector<std::string>& out) override;

 private:
  void FilesOf(int pid, std::vector<std::string>& out) const;

  std::filesystem::path proc_;
};

}  // namespace qv::platform
