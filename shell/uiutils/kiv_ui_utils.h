#pragma once
// KivUIUtils: the start panel, the settings, the search client and the journal clearing
// dialog, shown for other processes. The windows themselves are views behind small ports;
// this class reads and writes what they show, builds the client's command line and starts
// programs (posix_spawn, never through a shell).
#include <sys/types.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "context/context.h"
#include "interfaces/ikiv_ui_utils.h"
#include "shell/uiutils/start_panel_query.h"

namespace qv::uiutils {

// Programs started from the install folder.
inline constexpr std::string_view kSearchClientProgram = "QvSeek";
inline constexpr std::string_view kSettingsProgram = "qvsettings";

struct StartPanelRequest {
  long x = 0, y = 0;  // where the panel's bottom-left corner goes
  StartPanelOptions options;
  bool mailAvailable = false;  // the e-mail box is shown only then
  std::vector<std::string> history;
};

struct StartPanelAnswer {
  long choice = kChoiceSearch;
  std::string text;           // what was typed in the search box
  StartPanelOptions options;  // the boxes as the user left them
};

class StartPanelView {
 public:
  virtual ~StartPanelView() = default;
  // Shows the panel until it closes. E_ABORT when closed without a choice.
  virtual HRESULT Show(const StartPanelRequest& request, StartPanelAnswer& answer) = 0;
};

class ClearJournalView {
 public:
  virtual ~ClearJournalView() = default;
  // Runs the journal clearing dialog modally over window `owner`.
  virtual void Show(long owner, const std::filesystem::path& journalRoot) = 0;
};

// The folder of the event source's message file, where the programs are installed.
// HRESULT of ERROR_FILE_NOT_FOUND when it is not registered.
HRESULT InstallFolder(const platform::Registry& reg, std::filesystem::path& out);

// Starts `program` with `args` (argv[0] is the program), without a shell and without waiting.
HRESULT SpawnProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                     pid_t& pid);

class KivUIUtils final : public IKivUIUtils {
 public:
  // The views may be null where there is no display: StartPanel then fails with E_NOTIMPL
  // and ClearJournal shows nothing.
  KivUIUtils(const Context& ctx, StartPanelView* panel = nullptr,
             ClearJournalView* clearDialog = nullptr);
  ~KivUIUtils() override;
  KivUIUtils(const KivUIUtils&) = delete;
  KivUIUtils& operator=(const KivUIUtils&) = delete;

  HRESULT StartPanel(long x, long y, long* plUserChoice, std::string* pQuery) override;
  HRESULT Options() override;
  HRESULT Run(const std::string& Query) override;
  HRESULT ClearJournal(long hWnd) override;

  // Children started and not yet reaped (their exit is collected on the next call).
  std::vector<pid_t> children() const;

 private:
  HRESULT Start(std::string_view program, std::vector<std::string> args);
  void ReapFinished();

  const Context& ctx_;
  StartPanelView* panel_;
  ClearJournalView* clearDialog_;
  mutable std::mutex mutex_;
  std::vector<pid_t> children_;
};

// Registers KivUIUtils (without views) in ctx.classes.
void RegisterUIUtilsClass(const Context& ctx);

}  // namespace qv::uiutils
