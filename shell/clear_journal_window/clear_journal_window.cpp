#include "shell/clear_journal_window/clear_journal_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "provider/journal/day_file_writer.h"

namespace qv::clearjournal {

namespace {
QDate Today(const Clock& clock) {
  const CivilDay d = LocalDayOf(clock.NowDate());
  return QDate(d.year, d.month, d.day);
}
CivilDay Day(const QDate& d) { return CivilDay{d.year(), d.month(), d.day()}; }
}  // namespace

ClearJournalDialog::ClearJournalDialog(std::filesystem::path journalRoot, const Clock& clock,
                                       QWidget* parent)
    : QDialog(parent), root_(std::move(journalRoot)), clock_(clock) {
  setObjectName("ClearJournal");
  setWindowTitle(tr("Clear journal entries"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  first_ = new QDateEdit(Today(clock_), this);
  first_->setObjectName("first");
  first_->setCalendarPopup(true);
  last_ = new QDateEdit(Today(clock_), this);
  last_->setObjectName("last");
  last_->setCalendarPopup(true);
  form->addRow(tr("From:"), first_);
  form->addRow(tr("To:"), last_);
  layout->addLayout(form);
  goOn_ = new QCheckBox(tr("Go on after errors"), this);
  goOn_->setObjectName("goOn");
  layout->addWidget(goOn_);
  progress_ = new QLabel(this);
  progress_->setObjectName("progress");
  layout->addWidget(progress_);
  errors_ = new QPlainTextEdit(this);
  errors_->setObjectName("errors");
  errors_->setReadOnly(true);
  errors_->setPlaceholderText(tr("Errors are listed here."));
  layout->addWidget(errors_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  clear_ = buttons->addButton(tr("Clear"), QDialogButtonBox::ActionRole);
  clear_->setObjectName("clear");
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  connect(clear_, &QPushButton::clicked, this, [this] { Clear(); });
}

void ClearJournalDialog::ShowProgress(const uiutils::ClearProgress& p) {
  progress_->setText(tr("%1 items, %2 bytes removed").arg(p.items).arg(p.bytes));
}

HRESULT ClearJournalDialog::Clear() {
  if (working_) return E_UNEXPECTED;
  if (first_->date() > last_->date()) {
    errors_->appendPlainText(tr("The first day comes after the last; choose them in order."));
    return E_INVALIDARG;
  }
  working_ = true;
  clear_->setEnabled(false);
  uiutils::JournalClearer clearer(root_, clock_, journal::kWriterLockWait);
  uiutils::ClearCallbacks cb;
  cb.progress = [this](const uiutils::ClearProgress& p) {
    ShowProgress(p);
    // The window stays responsive; closing it stops the work.
    QCoreApplication::processEvents();
    return !closeAsked_;
  };
  cb.error = [this](const std::filesystem::path& path, HRESULT hr) {
    const std::string message = SystemMessage(hr);
    errors_->appendPlainText(QString::fromStdString(
        path.string() + ": " + (message.empty() ? FormatHresult(hr) : message)));
  };
  uiutils::ClearProgress done;
  const HRESULT hr =
      clearer.ClearRange(Day(first_->date()), Day(last_->date()), goOn_->isChecked(), cb, done);
  ShowProgress(done);
  working_ = false;
  clear_->setEnabled(true);
  if (closeAsked_) QDialog::close();
  return hr;
}

void ClearJournalDialog::closeEvent(QCloseEvent* event) {
  if (working_) {
    closeAsked_ = true;  // the work stops at its next progress report, then the window closes
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void QtClearJournal::Show(long /*owner*/, const std::filesystem::path& journalRoot) {
  if (!QApplication::instance()) return;
  ClearJournalDialog dialog(journalRoot, clock_);
  dialog.exec();
}

}  // namespace qv::clearjournal
