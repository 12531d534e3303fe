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
  // `extra` holds NAME=VALUE settings that replace this process's, such as a runtime folder
  // of the case's own (XDG_RUNTIME_DIR) so that programs running side by side never meet.
  ProgramArgs(std::vector<std::string> args, const std::filesystem::path& root,
              std::vector<std::string> extra = {})
      : args_(std::move(args)), env_(std::move(extra)) {
    env_.push_back("QV_ROOT=" + root.string());
    const std::size_t replaced = env_.size();
    for (char** e = environ; *e; ++e) {
      const std::string_view setting(*e);
      const std::string_view name = setting.substr(0, setting.find('=') + 1);
      bool keep = true;
      for (std::size_t i = 0; i < replaced && keep; ++i) {
        keep = std::string_view(env_[i]).substr(0, name.size()) != name;
      }
      if (keep) env_.emplace_back(setting);
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
