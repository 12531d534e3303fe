#include "shell/uiutils/kiv_ui_utils.h"

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>

#include "context/language_module.h"
#include "context/registry_values.h"
#include "provider/journal/journal_paths.h"

extern char** environ;

namespace qv::uiutils {

HRESULT InstallFolder(const platform::Registry& reg, std::filesystem::path& out) {
  const std::string messageFile =
      ReadString(reg, platform::Hive::LocalMachine, kEventSourceKey, "EventMessageFile", "");
  if (messageFile.empty()) return HresultFromWin32(win32::ERROR_FILE_NOT_FOUND);
  out = std::filesystem::path(messageFile).parent_path();
  return S_OK;
}

HRESULT SpawnProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                     pid_t& pid) {
  std::vector<std::string> copy(args);
  std::vector<char*> argv;
  argv.reserve(copy.size() + 1);
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int err = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  return err == 0 ? S_OK : HresultFromErrno(err);
}

KivUIUtils::KivUIUtils(const Context& ctx, StartPanelView* panel, ClearJournalView* clearDialog)
    : ctx_(ctx), panel_(panel), clearDialog_(clearDialog) {}

KivUIUtils::~KivUIUtils() { ReapFinished(); }

std::vector<pid_t> KivUIUtils::children() const {
  std::lock_guard lock(mutex_);
  return children_;
}

void KivUIUtils::ReapFinished() {
  std::lock_guard lock(mutex_);
  std::erase_if(children_, [](pid_t pid) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
  });
}

HRESULT KivUIUtils::Start(std::string_view program, std::vector<std::string> args) {
  ReapFinished();
  std::filesystem::path folder;
  if (const HRESULT hr = InstallFolder(ctx_.registry, folder); Failed(hr)) return hr;
  const std::filesystem::path path = folder / program;
  args.insert(args.begin(), path.string());
  pid_t pid = 0;
  if (const HRESULT hr = SpawnProgram(path, args, pid); Failed(hr)) return hr;
  std::lock_guard lock(mutex_);
  children_.push_back(pid);
  return S_OK;
}

HRESULT KivUIUtils::StartPanel(long x, long y, long* plUserChoice, std::string* pQuery) {
  if (!plUserChoice || !pQuery) return E_INVALIDARG;
  if (!panel_) return E_NOTIMPL;
  StartPanelRequest request;
  request.x = x;
  request.y = y;
  request.mailAvailable = MailAvailable(ctx_.registry);
  request.options = LoadStartPanelOptions(ctx_.registry, request.mailAvailable);
  request.history = ReadSearchHistory(ctx_.registry);
  StartPanelAnswer answer;
  answer.options = request.options;
  if (const HRESULT hr = panel_->Show(request, answer); Failed(hr)) return hr;
  if (!request.mailAvailable) answer.options.email = false;  // its box was not shown
  if (answer.choice == kChoiceSearch || answer.choice == kChoiceSearchToo) {
    // The options are kept even when they cannot be stored: the search still runs.
    (void)SaveStartPanelOptions(ctx_.registry, answer.options);
    *pQuery = BuildStartPanelQuery(answer.options, answer.text);
  } else {
    pQuery->clear();
  }
  *plUserChoice = answer.choice;
  return S_OK;
}

HRESULT KivUIUtils::Options() { return Start(kSettingsProgram, {}); }

HRESULT KivUIUtils::Run(const std::string& Query) {
  // The query is one argument of its own: nothing in it can reach a shell or split off.
  if (Query.empty()) return Start(kSearchClientProgram, {});
  return Start(kSearchClientProgram, {"/q", Query});
}

HRESULT KivUIUtils::ClearJournal(long hWnd) {
  if (clearDialog_) clearDialog_->Show(hWnd, journal::JournalRoot(ctx_.root));
  return S_OK;
}

void RegisterUIUtilsClass(const Context& ctx) {
  ctx.classes.Register(CLSID_KivUIUtils, "", "",
                       [&ctx](std::shared_ptr<platform::ComObject>& out) -> HRESULT {
                         out = std::make_shared<KivUIUtils>(ctx);
                         return S_OK;
                       });
}

}  // namespace qv::uiutils
