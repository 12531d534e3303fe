#include "manager/status_window/status_sheet.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "manager/status/status_texts.h"

namespace qv::manager {
namespace {

QLabel* Field(QFormLayout* form, const char* caption, const char* name) {
  auto* label = new QLabel;
  label->setObjectName(name);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  form->addRow(QString::fromUtf8(caption), label);
  return label;
}

QString Path(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

}  // namespace

StatusSheet::StatusSheet(const Context& ctx, std::string owner, StatusSheetActions actions,
                         QWidget* parent)
    : QDialog(parent),
      ctx_(ctx),
      admin_(ctx.registry, ctx.root),
      table_(ctx.registry, admin_, std::move(owner)),
      web_(ctx.root, ctx.clock),
      actions_(std::move(actions)) {
  setWindowTitle(QString::fromStdString(StatusText(nullptr, kTextSheetCaption)));
  setModal(false);
  tabs_ = new QTabWidget;
  tabs_->setObjectName("pages");

  auto* status = new QWidget;
  auto* statusLayout = new QVBoxLayout(status);
  heading_ = new QLabel;
  heading_->setObjectName("heading");
  detail_ = new QLabel;
  detail_->setObjectName("detail");
  detail_->setWordWrap(true);
  toggle_ = new QPushButton(tr("Disable ranking and tracing"));
  toggle_->setObjectName("toggle");
  auto* options = new QPushButton(tr("Options..."));
  options->setObjectName("options");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(toggle_);
  buttons->addWidget(options);
  buttons->addStretch();
  statusLayout->addWidget(heading_);
  statusLayout->addWidget(detail_);
  statusLayout->addLayout(buttons);
  statusLayout->addStretch();
  tabs_->addTab(status, tr("Status"));
  connect(toggle_, &QPushButton::clicked, this, [this] {
    if (actions_.setEnabled) actions_.setEnabled(!enabled_);
  });
  connect(options, &QPushButton::clicked, this, [this] {
    if (actions_.openOptions) actions_.openOptions();
  });

  auto* catalogPage = new QWidget;
  auto* catalogLayout = new QVBoxLayout(catalogPage);
  catalogs_ = new QTableWidget(0, 4);
  catalogs_->setObjectName("catalogs");
  catalogs_->setHorizontalHeaderLabels({tr("Catalog"), tr("Documents"), tr("To filter"), tr("State")});
  catalogs_->setSelectionBehavior(QAbstractItemView::SelectRows);
  catalogs_->setSelectionMode(QAbstractItemView::SingleSelection);
  catalogs_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  catalogs_->verticalHeader()->hide();
  catalogs_->horizontalHeader()->setStretchLastSection(true);
  auto* catalogForm = new QFormLayout;
  catalogName_ = Field(catalogForm, "Name:", "catalogName");
  catalogState_ = Field(catalogForm, "State:", "catalogState");
  catalogDocuments_ = Field(catalogForm, "Documents:", "catalogDocuments");
  catalogToFilter_ = Field(catalogForm, "To filter:", "catalogToFilter");
  catalogLocation_ = Field(catalogForm, "Location:", "catalogLocation");
  catalogSize_ = Field(catalogForm, "Size:", "catalogSize");
  catalogLayout->addWidget(catalogs_);
  catalogLayout->addLayout(catalogForm);
  tabs_->addTab(catalogPage, tr("Catalogs"));
  connect(catalogs_, &QTableWidget::itemSelectionChanged, this, [this] { ShowSelectedCatalog(); });

  auto* webPage = new QWidget;
  auto* webLayout = new QVBoxLayout(webPage);
  auto* webForm = new QFormLayout;
  webFolder_ = Field(webForm, "Folder:", "webFolder");
  webSize_ = Field(webForm, "Stored pages:", "webSize");
  webCache_ = Field(webForm, "Cached copies:", "webCache");
  auto* clear = new QPushButton(tr("Clear web history"));
  clear->setObjectName("clearWeb");
  webLayout->addLayout(webForm);
  webLayout->addWidget(clear, 0, Qt::AlignLeft);
  webLayout->addStretch();
  tabs_->addTab(webPage, tr("Web history"));
  connect(clear, &QPushButton::clicked, this, [this] { ClearWebHistory(); });

  auto* journalPage = new QWidget;
  auto* journalForm = new QFormLayout(journalPage);
  journalFolder_ = Field(journalForm, "Folder:", "journalFolder");
  journalSize_ = Field(journalForm, "Entries:", "journalSize");
  tabs_->addTab(journalPage, tr("Journal"));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  auto* close = new QPushButton(tr("Close"));
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  layout->addWidget(close, 0, Qt::AlignRight);

  timer_ = new QTimer(this);
  timer_->setInterval(kCatalogRefreshMs);
  connect(timer_, &QTimer::timeout, this, [this] { RefreshCatalogs(); });
  timer_->start();
  RefreshCatalogs();
  RefreshStores();
}

StatusSheet::~StatusSheet() = default;

void StatusSheet::ShowPage(SheetPage page) { tabs_->setCurrentIndex(static_cast<int>(page)); }

void StatusSheet::SetStatus(const QString& message, bool enabled) {
  const qsizetype lf = message.indexOf('\n');
  heading_->setText(lf < 0 ? message : message.left(lf));
  detail_->setText(lf < 0 ? QString() : message.mid(lf + 1));
  enabled_ = enabled;
  toggle_->setText(enabled ? tr("Disable ranking and tracing") : tr("Enable ranking and tracing"));
}

void StatusSheet::RefreshCatalogs() {
  const int selected = catalogs_->currentRow();
  table_.Refresh();
  const auto& rows = table_.rows();
  catalogs_->setRowCount(static_cast<int>(rows.size()));
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    const auto& row = rows[static_cast<std::size_t>(i)];
    const bool read = Succeeded(row.query);
    const std::uint32_t text = StateTextId(row);
    const QString cells[] = {
        QString::fromStdString(row.displayName),
        read ? QString::number(row.totalDocuments) : QString(),
        read ? QString::number(row.toFilter) : QString(),
        text ? QString::fromStdString(StatusText(nullptr, text)) : QString()};
    for (int c = 0; c < 4; ++c) {
      auto* item = catalogs_->item(i, c);
      if (!item) {
        item = new QTableWidgetItem;
        if (c == 1 || c == 2) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        catalogs_->setItem(i, c, item);  // the table owns its items
      }
      item->setText(cells[c]);
    }
  }
  if (catalogs_->rowCount() > 0) {
    catalogs_->selectRow(selected >= 0 && selected < catalogs_->rowCount() ? selected : 0);
  }
  ShowSelectedCatalog();
}

void StatusSheet::ShowSelectedCatalog() {
  const int i = catalogs_->currentRow();
  const auto& rows = table_.rows();
  if (i < 0 || i >= static_cast<int>(rows.size())) return;
  const auto& row = rows[static_cast<std::size_t>(i)];
  const bool read = Succeeded(row.query);
  const std::uint32_t text = StateTextId(row);
  catalogName_->setText(QString::fromStdString(row.name));
  catalogState_->setText(text ? QString::fromStdString(StatusText(nullptr, text)) : QString());
  catalogDocuments_->setText(read ? QString::number(row.totalDocuments) : QString());
  catalogToFilter_->setText(read ? QString::number(row.toFilter) : QString());
  catalogLocation_->setText(read ? Path(row.location) : QString());
  catalogSize_->setText(read ? QString("%1 MB").arg(row.sizeMb) : QString());
}

void StatusSheet::RefreshStores() {
  const auto web = WebHistoryFolder(ctx_.root);
  webFolder_->setText(Path(web));
  webSize_->setText(QString::fromStdString(FormatKilobytes(FolderSize(web))));
  std::uint64_t cached = 0;
  webCache_->setText(Succeeded(web_.GroupUsage(true, cached))
                         ? QString::fromStdString(FormatKilobytes(cached))
                         : QString());
  const auto journal = JournalFolder(ctx_.root);
  journalFolder_->setText(Path(journal));
  journalSize_->setText(QString::fromStdString(FormatKilobytes(FolderSize(journal))));
}

HRESULT StatusSheet::ClearWebHistory() {
  const bool confirmed =
      actions_.confirmClear
          ? actions_.confirmClear()
          : QMessageBox::question(this, windowTitle(),
                                  tr("Delete the stored web history and its cached copies?")) ==
                QMessageBox::Yes;
  if (!confirmed) return S_FALSE;
  setCursor(Qt::WaitCursor);
  // Deletion errors are skipped: what could be deleted is gone, the page shows what is left.
  const HRESULT hr = web_.Clear();
  unsetCursor();
  RefreshStores();
  return hr;
}

void StatusSheet::closeEvent(QCloseEvent* event) {
  timer_->stop();
  table_.Clear();
  QDialog::closeEvent(event);
}

}  // namespace qv::manager
