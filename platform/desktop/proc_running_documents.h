#pragma once
// Running documents from /proc: the regular files held open by the processes of the
// desktop's top-level windows (their _NET_WM_PID) and by every process started under them.
// A file counts once per process; system folders (/usr, /proc, /dev ...) and deleted files
// never count.
#include <filesystem>
#include <functional>
#include <vector>

#include "platform/desktop/desktop.h"
#include "platform/desktop/running_documents.h"

namespace qv::platform {

class ProcRunningDocuments final : public RunningDocuments {
 public:
  // `procRoot` is /proc except in tests.
  explicit ProcRunningDocuments(const Desktop& desktop, std::filesystem::path procRoot = "/proc");
  // Error only when the process table itself cannot be read; processes that end or that
  // belong to others are skipped.
  HRESULT Enumerate(std::vector<RunningDocument>& out) override;

  // The pids of the windows' processes and all their descendants, sorted.
  HRESULT ProcessTree(std::vector<int> roots, std::vector<int>& out) const;

 private:
  void FilesOf(int pid, std::vector<RunningDocument>& out) const;

  const Desktop& desktop_;
  std::filesystem::path proc_;
};

// Whether a path lies in a folder that holds no user documents.
bool IsSystemPath(std::string_view path);

// The pids of `roots` and all their descendants, sorted, from the process table under `proc`.
HRESULT ProcessTree(const std::filesystem::path& proc, std::vector<int> roots,
                    std::vector<int>& out);

}  // namespace qv::platform
