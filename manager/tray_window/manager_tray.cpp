#include "manager/tray_window/manager_tray.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QStyle>

#include "manager/status_window/status_sheet.h"

namespace qv::manager {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The desktop theme's standard pictures stand in for the icon resources.
QIcon IconFor(std::uint32_t icon) {
  QStyle* style = QApplication::style();
  switch (icon) {
    case 1002: return style->standardIcon(QStyle::SP_MessageBoxCritical);
    case 1003: return style->standardIcon(QStyle::SP_MessageBoxWarning);
    case 1004: return style->standardIcon(QStyle::SP_BrowserReload);
    default: return style->standardIcon(QStyle::SP_ComputerIcon);
  }
}

QSystemTrayIcon::MessageIcon BalloonIcon(BalloonType type) {
  switch (type) {
    case BalloonType::Error: return QSystemTrayIcon::Critical;
    case BalloonType::Warning: return QSystemTrayIcon::Warning;
    case BalloonType::Information: break;
  }
  return QSystemTrayIcon::Information;
}

constexpr int kBalloonMs = 5000;

}  // namespace

ManagerTray::ManagerTray(const LanguageModule* module, std::shared_ptr<IKivUIUtils> uiUtils)
    : module_(module), uiUtils_(std::move(uiUtils)) {
  icon_.setContextMenu(&menu_);
  connect(&icon_, &QSystemTrayIcon::activated, this, &ManagerTray::OnActivated);
  RebuildMenu();
}

ManagerTray::~ManagerTray() { icon_.hide(); }

void ManagerTray::Post(std::uint64_t command) {
  if (post_) post_(command);
}

void ManagerTray::RebuildMenu() {
  menu_.clear();
  for (const TrayMenuItem& item : TrayMenu(state_)) {
    QAction* action = menu_.addAction(Q(ManagerText(module_, item.textId)));
    action->setData(QVariant::fromValue<qulonglong>(item.command));
    if (item.isDefault) {
      QFont bold = action->font();
      bold.setBold(true);
      action->setFont(bold);
    }
    const std::uint64_t command = item.command;
    connect(action, &QAction::triggered, this, [this, command] { Post(command); });
  }
  menuBuilt_ = true;
}

void ManagerTray::Show(const IconUpdate& update) {
  if (update.state != state_ || !menuBuilt_) {
    state_ = update.state;
    RebuildMenu();
  }
  if (!update.showIcon) {
    lastMessage_ = ManagerText(module_, update.choice.message);
    if (sheet_) sheet_->SetStatus(Q(lastMessage_), state_ != ManagerState::Disabled);
    icon_.hide();
    return;
  }
  lastMessage_ = ManagerText(module_, update.choice.message);
  if (sheet_) sheet_->SetStatus(Q(lastMessage_), state_ != ManagerState::Disabled);
  const TrayText text = SplitMessage(lastMessage_);
  icon_.setIcon(IconFor(update.choice.icon));
  icon_.setToolTip(Q(text.tooltip));
  icon_.show();
  if (update.showBalloon && QSystemTrayIcon::supportsMessages()) {
    icon_.showMessage(Q(text.tooltip), Q(text.balloon),
                      text.balloon.empty() ? QSystemTrayIcon::NoIcon : BalloonIcon(update.choice.balloon),
                      kBalloonMs);
  }
}

void ManagerTray::ShowStatusSheet() {
  if (statusCtx_ == nullptr) return;
  if (!sheet_) {
    StatusSheetActions actions;
    actions.setEnabled = [this](bool enable) { Post(enable ? kCmdEnable : kCmdDisable); };
    actions.openOptions = [this] { Post(kCmdOptions); };
    actions.confirmClear = [this] {
      return QMessageBox::question(sheet_.get(), QStringLiteral("Quillon Vesper"),
                                   QStringLiteral("Clear the web history?")) == QMessageBox::Yes;
    };
    sheet_ = std::make_unique<StatusSheet>(*statusCtx_, owner_, std::move(actions));
  }
  sheet_->SetStatus(Q(lastMessage_), state_ != ManagerState::Disabled);
  sheet_->show();
  sheet_->raise();
  sheet_->activateWindow();
}

void ManagerTray::OnActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::DoubleClick) {
    Post(kCmdOpenSearch);
    return;
  }
  if (reason != QSystemTrayIcon::Trigger) return;
  // A single click: the start panel at the cursor, then what the user chose there.
  long choice = kChoiceSearch;
  std::string query;
  const QPoint at = QCursor::pos();
  if (!uiUtils_ || Failed(uiUtils_->StartPanel(at.x(), at.y(), &choice, &query))) return;
  if (const auto command = StartPanelCommand(choice, state_)) {
    Post(*command);
  } else {
    (void)uiUtils_->Run(query);
  }
}

}  // namespace qv::manager
