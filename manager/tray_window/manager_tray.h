#pragma once
// The manager's notification icon (Qt): the icon and tooltip for the state, a balloon when
// the message changes, the menu, the start panel on a click and the search on a double
// click. It runs on the GUI thread; the manager runs on its own and is reached through a
// poster of host commands.
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

#include "context/context.h"
#include "interfaces/ikiv_ui_utils.h"
#include "manager/runtime/manager_host.h"
#include "manager/runtime/tray_model.h"

namespace qv::manager {

class StatusSheet;

class ManagerTray : public QObject {
  Q_OBJECT

 public:
  // `module` (may be null) gives the texts; `uiUtils` (may be null) the start panel.
  ManagerTray(const LanguageModule* module, std::shared_ptr<IKivUIUtils> uiUtils);
  ~ManagerTray() override;

  // Until cleared, menu choices and clicks go to `post`.
  void SetPoster(std::function<void(std::uint64_t)> post) { post_ = std::move(post); }
  void Show(const IconUpdate& update);
  // Command 40039: the status sheet, modeless, made on first use (needs SetStatusContext).
  void SetStatusContext(const Context* ctx, std::string owner) {
    statusCtx_ = ctx;
    owner_ = std::move(owner);
  }
  void ShowStatusSheet();
  StatusSheet* statusSheet() { return sheet_.get(); }

  QSystemTrayIcon& icon() { return icon_; }
  QMenu& menu() { return menu_; }
  ManagerState state() const { return state_; }

 private:
  void Post(std::uint64_t command);
  void RebuildMenu();
  void OnActivated(QSystemTrayIcon::ActivationReason reason);

  const LanguageModule* module_;
  std::shared_ptr<IKivUIUtils> uiUtils_;
  std::function<void(std::uint64_t)> post_;
  QSystemTrayIcon icon_;
  QMenu menu_;
  ManagerState state_ = ManagerState::Active;
  bool menuBuilt_ = false;
  std::string lastMessage_;  // the last message text, for a sheet opened later
  const Context* statusCtx_ = nullptr;
  std::string owner_;
  std::unique_ptr<StatusSheet> sheet_;
};

}  // namespace qv::manager
