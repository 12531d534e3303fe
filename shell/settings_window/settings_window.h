#pragma once
// The settings window: the six pages as tabs (E-mail only where the mail add-in is
// registered), OK, Apply and Cancel with the pages' save rules, and the button that forgets
// recent activity. What needs the user's answer (errors, questions, the choice of what to
// forget) goes through hooks, which tests replace; the defaults are message boxes.
#include <QDialog>
#include <functional>
#include <optional>
#include <vector>

#include "context/context.h"
#include "shell/settings/settings_pages.h"
#include "shell/uiutils/forget.h"

class QTabWidget;

namespace qv {
class LanguageModule;
}

namespace qv::settingswindow {

class SettingsPageWidget;

struct SettingsWindowHooks {
  // Shows an error message.
  std::function<void(QWidget* parent, const QString& text)> showError;
  // Asks a question; true for "yes".
  std::function<bool(QWidget* parent, const QString& caption, const QString& text)> ask;
  // Tells the user something.
  std::function<void(QWidget* parent, const QString& text)> inform;
  // Asks what to forget (and confirms it); nothing when the user cancels.
  std::function<std::optional<uiutils::ForgetSpan>(QWidget* parent)> chooseForgetSpan;
  // The indexer: whether it runs, and restarting it so that changed values take effect.
  std::function<bool()> indexerRunning;
  std::function<HRESULT()> restartIndexer;
};

// Message boxes, and the indexer of the installation's root.
SettingsWindowHooks DefaultHooks(const Context& ctx);

class SettingsWindow final : public QDialog {
  Q_OBJECT
 public:
  SettingsWindow(const settings::SettingsEnvironment& env, const LanguageModule* texts,
                 SettingsWindowHooks hooks, QWidget* parent = nullptr);
  ~SettingsWindow() override;

  // Saves every page in order. At the first failure the error is shown, that page is
  // selected and the failure returned; pages saved before it stay saved.
  HRESULT ApplyAll();
  // Forgets what the user chooses; returns what was done (S_FALSE: partly, E_ABORT: cancelled).
  HRESULT Forget();

  QTabWidget* tabs() const { return tabs_; }

 private:
  void OfferIndexerRestart();

  const settings::SettingsEnvironment& env_;
  const LanguageModule* texts_;
  SettingsWindowHooks hooks_;
  QTabWidget* tabs_;
  std::vector<SettingsPageWidget*> pages_;
};

}  // namespace qv::settingswindow
