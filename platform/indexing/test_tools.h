#pragma once
// For the tests: runs the qvindex program built beside them, as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qv::platform::indexing {

struct ToolRun {
  int exit = -1;
  std::string output;  // stdout and stderr
};

// The build's bin/ folder: QV_BUILD_DIR under CTest, else found from this test program's
// place in the build tree (<build>/platform/indexing/).
inline std::filesystem::path QvindexProgram() {
  if (const char* build = std::getenv("QV_BUILD_DIR"); build && *build) {
    return std::filesystem::path(build) / "bin" / "qvindex";
  }
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return self.parent_path().parent_path().parent_path() / "bin" / "qvindex";
}

// Runs qvindex with `args` on `root`; a failure of the test (and nullopt) when the program
// is missing, so a check never passes by not running.
inline std::optional<ToolRun> RunQvindex(const std::filesystem::path& root,
                                         const std::vector<std::string>& args) {
  const auto program = QvindexProgram();
  if (!std::filesystem::exists(program)) {
    ADD_FAILURE() << program << " is missing: build the qvindex target";
    return std::nullopt;
  }
  auto quote = [](const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  };
  std::string cmd = quote(program.string()) + " --root " + quote(root.string());
  for (const auto& a : args) cmd += " " + quote(a);
  cmd += " 2>&1 </dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) {
    ADD_FAILURE() << "cannot run " << program;
    return std::nullopt;
  }
  ToolRun run;
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) run.output.append(buf, n);
  const int status = pclose(p);
  run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace qv::platform::indexing
