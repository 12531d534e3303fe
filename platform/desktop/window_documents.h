#pragma once
// The WindowDocuments port: the files that a window's processes name on their command lines.
// Terminal editors (vi, nano, emacs -nw) and many IDEs neither hold their file open nor note
// it in the recent-files list; the command that started them is all that names it.
#include <cstdint>
#include <string>
#include <vector>

#include "common/hresult.h"

namespace qv::platform {

class WindowDocuments {
 public:
  virtual ~WindowDocuments() = default;
  // Existing regular files named by process `pid` and every process started under it, as
  // absolute paths, each once. An error only when the process table cannot be read.
  virtual HRESULT FilesNamedBy(std::int32_t pid, std::vector<std::string>& out) = 0;
};

}  // namespace qv::platform
