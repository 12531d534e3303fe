// Feeds arbitrary bytes as a process's command line (another program's arguments, read from
// /proc): the reader must not crash, and every path it offers is absolute, normal and unique.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "platform/desktop/proc_command_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The first line, if any, is the working folder.
  const auto nl = bytes.find('\n');
  const std::string_view cwd = nl == std::string_view::npos ? "" : bytes.substr(0, nl);
  const std::string_view cmdline = nl == std::string_view::npos ? bytes : bytes.substr(nl + 1);
  const auto paths = qv::platform::PathsInCommandLine(cmdline, cwd);
  if (paths.size() > qv::platform::kMaxCommandLineArguments) std::abort();
  std::set<std::string> seen;
  for (const auto& p : paths) {
    if (p.empty() || p.front() != '/' || p.find('\0') != std::string::npos) std::abort();
    if (!seen.insert(p).second) std::abort();
  }
  return 0;
}
