#pragma once
// For tests that start a program of the build: its argument and environment vectors, the
// environment being this process's with QV_ROOT replaced, so each case keeps its own root.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace qv {

class ProgramArgs {
 public:
  ProgramArgs(std::vector<std::string> args, const std::filesystem::path& root)
      : args_(std::move(args)) {
    env_.push_back("QV_ROOT=" + root.string());
    for (char** e = environ; *e; ++e) {
      if (std::string_view(*e).substr(0, 8) != "QV_ROOT=") env_.emplace_back(*e);
    }
    for (auto& a : args_) argv_.push_back(a.data());
    argv_.push_back(nullptr);
    for (auto& e : env_) envp_.push_back(e.data());
    envp_.push_back(nullptr);
  }
  ProgramArgs(const ProgramArgs&) = delete;
  ProgramArgs& operator=(const ProgramArgs&) = delete;

  const char* program() const { return argv_[0]; }
  char* const* argv() const { return argv_.data(); }
  char* const* envp() const { return envp_.data(); }

 private:
  std::vector<std::string> args_;
  std::vector<std::string> env_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
};

}  // namespace qv
