#include "client/action_launcher.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "shell/uiutils/kiv_ui_utils.h"

namespace qv::client {
namespace {

constexpr std::int32_t kErrorNoAssociation = 1155;
constexpr std::chrono::milliseconds kPollInterval{5};

}  // namespace

HRESULT HresultFromExitStatus(int status) {
  if (!WIFEXITED(status)) return E_FAIL;
  switch (WEXITSTATUS(status)) {
    case 0: return S_OK;
    case 1: return E_INVALIDARG;
    case 2: return HresultFromWin32(win32::ERROR_FILE_NOT_FOUND);
    case 3: return HresultFromWin32(kErrorNoAssociation);
    default: return E_FAIL;
  }
}

HRESULT FindProgram(std::string_view program, std::string_view searchPath,
                    std::filesystem::path& out) {
  const auto executable = [](const std::filesystem::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
  };
  if (program.empty()) return E_INVALIDARG;
  if (program.find('/') != std::string_view::npos) {
    out = program;
    return executable(out) ? S_OK : HresultFromWin32(win32::ERROR_FILE_NOT_FOUND);
  }
  std::size_t at = 0;
  while (at <= searchPath.size()) {
    const auto colon = searchPath.find(':', at);
    const std::string_view dir = searchPath.substr(
        at, colon == std::string_view::npos ? std::string_view::npos : colon - at);
    // An empty entry would mean the working folder; programs are never taken from there.
    if (!dir.empty() && dir.front() == '/') {
      const std::filesystem::path candidate = std::filesystem::path(dir) / program;
      if (executable(candidate)) {
        out = candidate;
        return S_OK;
      }
    }
    if (colon == std::string_view::npos) break;
    at = colon + 1;
  }
  return HresultFromWin32(win32::ERROR_FILE_NOT_FOUND);
}

ActionLauncher::ActionLauncher(const Clock& clock, std::string searchPath,
                               std::chrono::milliseconds wait)
    : clock_(clock), searchPath_(std::move(searchPath)), wait_(wait) {}

ActionLauncher::~ActionLauncher() { ReapFinished(); }

void ActionLauncher::ReapFinished() {
  std::erase_if(running_, [](pid_t pid) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
  });
}

HRESULT ActionLauncher::Run(const ActionCommand& command) {
  ReapFinished();
  std::filesystem::path program;
  if (const HRESULT hr = FindProgram(command.program, searchPath_, program); Failed(hr)) return hr;
  std::vector<std::string> argv = {program.string()};
  argv.insert(argv.end(), command.args.begin(), command.args.end());
  pid_t pid = 0;
  if (const HRESULT hr = uiutils::SpawnProgram(program, argv, pid); Failed(hr)) return hr;
  const auto deadline = clock_.Monotonic() + wait_;
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return HresultFromExitStatus(status);
    if (r < 0 && errno != EINTR) return HresultFromErrno(errno);
    if (clock_.Monotonic() >= deadline) break;
    std::this_thread::sleep_for(kPollInterval);
  }
  // Still busy handing the item over: it has found a program, so that counts as success.
  running_.push_back(pid);
  return S_OK;
}

HRESULT ActionLauncher::Run(const ActionPlan& plan) {
  const HRESULT hr = Run(plan.command);
  if (hr == HresultFromWin32(kErrorNoAssociation) && plan.whenNoAssociation) {
    return Run(*plan.whenNoAssociation);
  }
  return hr;
}

}  // namespace qv::client
