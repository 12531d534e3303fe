#include "shell/settings_window/settings_window.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "platform/indexing/catalog_admin.h"
#include "provider/journal/day_file_writer.h"
#include "shell/settings/shell_texts.h"
#include "shell/settings_window/settings_page_widgets.h"
#include "shell/uiutils/kiv_ui_utils.h"

namespace qv::settingswindow {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The indexer program lies beside the other programs of the installation.
std::unique_ptr<platform::indexing::CatalogAdmin> IndexerAdmin(const Context& ctx) {
  auto admin = std::make_unique<platform::indexing::CatalogAdmin>(ctx.registry, ctx.root);
  std::filesystem::path folder;
  if (Succeeded(uiutils::InstallFolder(ctx.registry, folder))) {
    admin->SetIndexerProgram(folder / "qvindexer");
  }
  return admin;
}

std::optional<uiutils::ForgetSpan> AskForgetSpan(QWidget* parent) {
  const QStringList choices = {QObject::tr("The last hour"), QObject::tr("The last day"),
                               QObject::tr("Everything")};
  bool ok = false;
  const QString chosen = QInputDialog::getItem(
      parent, QObject::tr("Forget recent activity"),
      QObject::tr("Forget the journal entries, ranking records and web history of:"), choices, 0,
      false, &ok);
  if (!ok) return std::nullopt;
  const auto span = static_cast<uiutils::ForgetSpan>(choices.indexOf(chosen));
  const auto answer = QMessageBox::question(
      parent, QObject::tr("Forget recent activity"),
      QObject::tr("Forget %1? The files and pages themselves stay; what they are remembered by "
                  "cannot be brought back.")
          .arg(chosen.toLower()),
      QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  if (answer != QMessageBox::Yes) return std::nullopt;
  return span;
}

}  // namespace

SettingsWindowHooks DefaultHooks(const Context& ctx) {
  SettingsWindowHooks h;
  h.showError = [](QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QApplication::applicationDisplayName(), text);
  };
  h.ask = [](QWidget* parent, const QString& caption, const QString& text) {
    return QMessageBox::question(parent, caption, text,
                                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel) ==
           QMessageBox::Yes;
  };
  h.inform = [](QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QApplication::applicationDisplayName(), text);
  };
  h.chooseForgetSpan = AskForgetSpan;
  h.indexerRunning = [&ctx] { return IndexerAdmin(ctx)->IsRunning(); };
  h.restartIndexer = [&ctx]() -> HRESULT {
    const auto admin = IndexerAdmin(ctx);
    if (const HRESULT hr = admin->Stop(); Failed(hr)) return hr;
    return admin->Start();
  };
  return h;
}

SettingsWindow::SettingsWindow(const settings::SettingsEnvironment& env,
                               const LanguageModule* texts, SettingsWindowHooks hooks,
                               QWidget* parent)
    : QDialog(parent), env_(env), texts_(texts), hooks_(std::move(hooks)) {
  setWindowTitle(Q(settings::ShellText(texts_, settings::kTextAppletName)));
  setObjectName("SettingsWindow");
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  layout->addWidget(tabs_);
  platform::Registry& reg = env_.ctx.registry;
  auto add = [this](SettingsPageWidget* page, const QString& title, const char* name) {
    page->setObjectName(name);
    page->Load();
    tabs_->addTab(page, title);
    pages_.push_back(page);
  };
  add(new FilesPageWidget(reg, this), tr("Files"), "Files");
  add(new WebHistoryPageWidget(reg, this), tr("Web history"), "WebHistory");
  if (settings::EMailPageShown(reg)) add(new EMailPageWidget(env_, this), tr("E-mail"), "EMail");
  add(new GeneralPageWidget(env_, [this] { OfferIndexerRestart(); }, this), tr("General"),
      "General");
  add(new SearchPageWidget(reg, this), tr("Search"), "Search");
  add(new ViewPageWidget(reg, this), tr("View"), "View");

  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Apply | QDialogButtonBox::Cancel, this);
  QPushButton* forget = buttons->addButton(tr("Forget..."), QDialogButtonBox::ActionRole);
  forget->setObjectName("Forget");
  forget->setToolTip(tr("Forget the last hour, the last day or everything"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons->button(QDialogButtonBox::Ok), &QPushButton::clicked, this, [this] {
    if (Succeeded(ApplyAll())) accept();
  });
  connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
          [this] { ApplyAll(); });
  connect(forget, &QPushButton::clicked, this, [this] { Forget(); });
}

SettingsWindow::~SettingsWindow() = default;

HRESULT SettingsWindow::ApplyAll() {
  for (SettingsPageWidget* page : pages_) {
    const HRESULT hr = page->Save();
    if (Succeeded(hr)) continue;
    QString text = Q(settings::ShellText(texts_, settings::kTextSaveFailed));
    if (const std::string message = SystemMessage(hr); !message.empty()) {
      text += ": " + Q(message);
    }
    tabs_->setCurrentWidget(page);
    if (hooks_.showError) hooks_.showError(this, text);
    return hr;
  }
  return S_OK;
}

void SettingsWindow::OfferIndexerRestart() {
  if (!hooks_.indexerRunning || !hooks_.indexerRunning()) return;
  if (!hooks_.ask ||
      !hooks_.ask(this, Q(settings::ShellText(texts_, settings::kTextQuestionCaption)),
                  Q(settings::ShellText(texts_, settings::kTextRestartIndexer)))) {
    return;
  }
  if (const HRESULT hr = hooks_.restartIndexer ? hooks_.restartIndexer() : E_NOTIMPL;
      Failed(hr) && hooks_.showError) {
    hooks_.showError(this, tr("The indexer could not be restarted: %1")
                               .arg(Q(SystemMessage(hr).empty() ? FormatHresult(hr)
                                                                : SystemMessage(hr))));
  }
}

HRESULT SettingsWindow::Forget() {
  const auto span = hooks_.chooseForgetSpan ? hooks_.chooseForgetSpan(this) : std::nullopt;
  if (!span) return E_ABORT;
  uiutils::Forgetter forgetter(env_.ctx, journal::kWriterLockWait);
  uiutils::ForgetSummary summary;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const HRESULT hr = forgetter.Forget(*span, {}, summary);
  QApplication::restoreOverrideCursor();
  QString text = tr("Forgotten: %1 journal entries, %2 ranking records, %3 web pages and %4 "
                    "cached copies.")
                     .arg(summary.journalEntries)
                     .arg(summary.rankingRecords)
                     .arg(summary.shortcuts)
                     .arg(summary.cachedCopies);
  if (hr != S_OK) {
    text += "\n\n" + tr("Some items could not be forgotten; try again once they are free:");
    for (const std::string& e : summary.errors) text += "\n" + Q(e);
  }
  if (hooks_.inform) hooks_.inform(this, text);
  return hr;
}

}  // namespace qv::settingswindow
