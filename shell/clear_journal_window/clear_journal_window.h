#pragma once
// The journal clearing dialog as a Qt window: a first and a last day, whether to go on after
// errors, the count of removed items and bytes while it works, and the errors met. Closing
// the window while it works stops the work; what is removed stays removed.
#include <QDialog>
#include <filesystem>

#include "common/clock.h"
#include "shell/uiutils/journal_clearing.h"
#include "shell/uiutils/kiv_ui_utils.h"

class QCheckBox;
class QDateEdit;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace qv::clearjournal {

class ClearJournalDialog final : public QDialog {
  Q_OBJECT
 public:
  ClearJournalDialog(std::filesystem::path journalRoot, const Clock& clock,
                     QWidget* parent = nullptr);
  // Clears the chosen days; the outcome of JournalClearer::ClearRange.
  HRESULT Clear();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ShowProgress(const uiutils::ClearProgress& p);

  std::filesystem::path root_;
  const Clock& clock_;
  QDateEdit* first_;
  QDateEdit* last_;
  QCheckBox* goOn_;
  QPushButton* clear_;
  QLabel* progress_;
  QPlainTextEdit* errors_;
  bool working_ = false;
  bool closeAsked_ = false;
};

class QtClearJournal final : public uiutils::ClearJournalView {
 public:
  explicit QtClearJournal(const Clock& clock) : clock_(clock) {}
  // The owner is another process's window; the dialog opens on its own. Without a
  // QApplication (no display) nothing is shown.
  void Show(long owner, const std::filesystem::path& journalRoot) override;

 private:
  const Clock& clock_;
};

}  // namespace qv::clearjournal
