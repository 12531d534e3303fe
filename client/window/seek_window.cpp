#include "client/window/seek_window.h"

#include <stdexcept>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDockWidget>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cstdlib>
#include <filesystem>

#include "client/info_bar.h"
#include "client/messages.h"
#include "client/journal_search.h"
#include "client/preview_text.h"
#include "client/preview_web.h"
#include "client/window_layout.h"
#include "provider/journal/journal_paths.h"

namespace qv::client {
namespace {

namespace fs = std::filesystem;

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QString& s) { return s.toStdString(); }

constexpr int kDefaultWidth = 1100, kDefaultHeight = 640;
constexpr int kJournalHeaders[kJournalColumnCount] = {153, 213, 165, 154, 155, 212};


}  // namespace

// --- the result rows -------------------------------------------------------------------------

ResultTableModel::ResultTableModel(const SeekServices& services, QObject* parent)
    : QAbstractTableModel(parent), services_(services) {
  cellTexts_.dates = services.dates;
}

void ResultTableModel::SetResult(SearchResult result) {
  beginResetModel();
  result_ = std::move(result);
  states_.clear();
  endResetModel();
}

const RowState& ResultTableModel::State(int row) const {
  const auto r = static_cast<std::size_t>(row);
  if (r >= result_.RowCount()) throw std::out_of_range("result row");
  while (states_.size() <= r) {
    const std::size_t i = states_.size();
    // Outside activation order there are no scores, so no bars.
    states_.push_back(LoadRowState(result_.DisplayRow(i), result_.DisplayScore(i),
                                   services_.env.userScope, services_.activation));
  }
  return states_[r];
}

int ResultTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(result_.RowCount());
}
int ResultTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant ResultTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const auto row = static_cast<std::size_t>(index.row());
  const RowState& state = State(index.row());
  if (role == Qt::UserRole) return state.bar;
  if (role == Qt::UserRole + 1) return state.hasRanking;
  if (role == Qt::ToolTipRole) return Q(state.path);
  if (role != Qt::DisplayRole || index.column() == kColumnBar) return {};
  return Q(CellText(result_.DisplayRow(row), state, index.column(), cellTexts_));
}

QVariant ResultTableModel::headerData(int section, Qt::Orientation o, int role) const {
  if (o != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount) {
    return QAbstractTableModel::headerData(section, o, role);
  }
  return Q(MessageText(services_.texts, kColumnHeaders[static_cast<std::size_t>(section)]));
}

Qt::ItemFlags ResultTableModel::flags(const QModelIndex& index) const {
  return QAbstractTableModel::flags(index) | (index.isValid() ? Qt::ItemIsDragEnabled : Qt::NoItemFlags);
}

QStringList ResultTableModel::mimeTypes() const {
  return {Q(kUriListType), QStringLiteral("text/plain"), Q(kSearchKeyListType)};
}

QMimeData* ResultTableModel::mimeData(const QModelIndexList& indexes) const {
  std::vector<DragItem> items;
  std::vector<int> seen;
  for (const QModelIndex& i : indexes) {
    if (!i.isValid() || std::find(seen.begin(), seen.end(), i.row()) != seen.end()) continue;
    seen.push_back(i.row());
    const auto r = static_cast<std::size_t>(i.row());
    const Row& row = result_.DisplayRow(r);
    DragItem item;
    const RowState& state = State(i.row());
    item.kind = state.kind;
    item.path = state.path;
    if (row.size() > kFieldUrl && row[kFieldUrl].kind == ValueKind::Str) item.url = row[kFieldUrl].s;
    item.name = CellText(row, state, kColumnName, cellTexts_);
    if (row.size() > kFieldSearchKey && row[kFieldSearchKey].kind == ValueKind::Guid) {
      item.searchKey = row[kFieldSearchKey].g;
    }
    items.push_back(std::move(item));
  }
  const DragData drag = MakeDragData(items);
  auto data = std::make_unique<QMimeData>();
  data->setData(Q(kUriListType), QByteArray::fromStdString(drag.uriList));
  data->setText(Q(drag.text));
  data->setData(Q(kSearchKeyListType), QByteArray::fromStdString(drag.searchKeys));
  return data.release();  // the drag takes it
}

// --- the bar ---------------------------------------------------------------------------------

void BarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const {
  QStyledItemDelegate::paint(painter, option, index);  // selection and focus
  const int percent = index.data(Qt::UserRole).toInt();
  const QRect cell = option.rect;
  const CellRect bar = BarInCell({cell.x(), cell.y(), cell.width(), cell.height()}, percent,
                                 kBarFrameHeight);
  if (bar.height == 0) return;
  // Left of the bar the button face, the bar green for the user's own ranking, else shadow.
  const QRect face(cell.x(), bar.y, bar.x - cell.x(), bar.height);
  painter->fillRect(face, option.palette.color(QPalette::Button));
  if (bar.width == 0) return;
  const QColor colour = index.data(Qt::UserRole + 1).toBool()
                            ? QColor(kBarRed, kBarGreen, kBarBlue)
                            : option.palette.color(QPalette::Dark);
  painter->fillRect(QRect(bar.x, bar.y, bar.width, bar.height), colour);
}

QSize BarDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  size.setWidth(option.fontMetrics.horizontalAdvance(QString::fromLatin1(kBarMeasureText)) + 8);
  return size;
}

QVariant PreviewBrowser::loadResource(int type, const QUrl& name) {
  // Only the previewed file's own folder and other local files; never the network.
  if (!loadsFiles_ || (!name.isLocalFile() && !name.isRelative())) return {};
  return QTextBrowser::loadResource(type, name);
}

// --- the window ------------------------------------------------------------------------------

SeekWindow::SeekWindow(const SeekServices& services, QWidget* parent)
    : QMainWindow(parent),
      services_(services),
      history_(services.ctx->registry, services.ctx->clock),
      launcher_(services.ctx->clock, std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"),
      reader_(services.ctx->registry, services.ctx->classes, {}) {
  setWindowTitle(QStringLiteral("Quillon Vesper"));
  setWindowIcon(QIcon::fromTheme(QStringLiteral("qvseek")));
  params_ = LoadSearchParams(services.ctx->registry, !services.env.mailStores.empty());
  const ColumnLayout columns = LoadColumnLayout(services.ctx->registry);
  sort_ = columns.sort;

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  auto* top = new QHBoxLayout;
  searchBox_ = new QComboBox(central);
  searchBox_->setEditable(true);
  searchBox_->setInsertPolicy(QComboBox::NoInsert);
  searchBox_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  searchBox_->lineEdit()->setPlaceholderText(tr("Search your files, pages and mail"));
  // Enter searches once: the box would pass the key on and have its line search again.
  searchBox_->lineEdit()->installEventFilter(this);
  auto* go = new QPushButton(tr("&Search"), central);
  top->addWidget(searchBox_);
  top->addWidget(go);
  layout->addLayout(top);
  infoBar_ = new QLabel(central);
  infoBar_->setWordWrap(true);
  infoBar_->setAutoFillBackground(true);
  infoBar_->setBackgroundRole(QPalette::ToolTipBase);
  infoBar_->setForegroundRole(QPalette::ToolTipText);
  infoBar_->setMargin(4);
  infoBar_->hide();
  layout->addWidget(infoBar_);

  splitter_ = new QSplitter(Qt::Horizontal, central);
  results_ = new QTableView(splitter_);
  model_ = new ResultTableModel(services_, this);
  results_->setModel(model_);
  results_->setItemDelegateForColumn(kColumnBar, new BarDelegate(results_));
  results_->setSelectionBehavior(QAbstractItemView::SelectRows);
  results_->setShowGrid(false);
  results_->verticalHeader()->hide();
  results_->setDragEnabled(true);
  results_->setDragDropMode(QAbstractItemView::DragOnly);
  results_->setContextMenuPolicy(Qt::CustomContextMenu);
  results_->installEventFilter(this);
  auto* header = results_->horizontalHeader();
  header->setSectionsClickable(true);
  header->setSectionsMovable(true);
  header->setSortIndicatorShown(true);
  header->setSortIndicator(sort_.column, sort_.ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
  const int widths[kColumnCount] = {200, 220, 90, 130, 100, 50};
  for (int c = 0; c < kColumnCount; ++c) {
    const int w = columns.widths[static_cast<std::size_t>(c)];
    header->resizeSection(c, w >= 0 ? w : widths[c]);
  }
  // Place the columns from the left, so that each move leaves the placed ones alone.
  for (int place = 0; place < kColumnCount; ++place) {
    for (int c = 0; c < kColumnCount; ++c) {
      if (columns.positions[static_cast<std::size_t>(c)] != place) continue;
      if (header->visualIndex(c) != place) header->moveSection(header->visualIndex(c), place);
    }
  }

  preview_ = new QStackedWidget(splitter_);
  placeholder_ = new QLabel(tr("Select an item to see it here."), preview_);
  placeholder_->setAlignment(Qt::AlignCenter);
  placeholder_->setWordWrap(true);
  previewText_ = new PreviewBrowser(preview_);
  previewText_->setOpenLinks(false);
  previewText_->setOpenExternalLinks(false);
  previewImage_ = new QLabel(preview_);
  previewImage_->setAlignment(Qt::AlignCenter);
  preview_->addWidget(placeholder_);
  preview_->addWidget(previewText_);
  preview_->addWidget(previewImage_);
  splitter_->setStretchFactor(0, 3);
  splitter_->setStretchFactor(1, 1);
  splitter_->setSizes({kDefaultWidth * 3 / 4, kDefaultWidth / 4});
  layout->addWidget(splitter_, 1);
  setCentralWidget(central);

  journalDock_ = new QDockWidget(tr("Journal"), this);
  journalDock_->setObjectName(QStringLiteral("journal"));
  journalList_ = new QTableWidget(0, kJournalColumnCount, journalDock_);
  QStringList heads;
  for (int id : kJournalHeaders) heads << Q(MessageText(services_.texts, static_cast<std::uint32_t>(id)));
  journalList_->setHorizontalHeaderLabels(heads);
  journalList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  journalList_->setSelectionBehavior(QAbstractItemView::SelectRows);
  journalList_->verticalHeader()->hide();
  journalList_->installEventFilter(this);
  journalDock_->setWidget(journalList_);
  addDockWidget(Qt::BottomDockWidgetArea, journalDock_);
  journalDock_->hide();
  statusBar()->showMessage(tr("Ready"));

  connect(go, &QPushButton::clicked, this, [this] { Search(searchBox_->currentText()); });
  connect(header, &QHeaderView::sectionClicked, this, [this](int c) { SortBy(c); });
  connect(results_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { PreviewCurrent(); });
  connect(results_, &QTableView::activated, this, [this] { Act(ItemVerb::Open); });
  connect(results_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { ShowResultMenu(at); });
  connect(journalList_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int c) {
    if (!journal_) return;
    JournalSort s = journal_->sort();
    if (ClickJournalColumn(s, c)) {
      journal_->SetSort(s);
      SaveJournalSort(services_.ctx->registry, s);
      RefreshJournal();
    }
  });
  BuildMenus();
  ReloadHistory();
  resize(kDefaultWidth, kDefaultHeight);
}

SeekWindow::~SeekWindow() {
  if (visits_ && visits_->visitOpen()) visits_->Cleared();
  journalListener_.reset();
  if (journalLoop_) {
    journalLoop_->PostQuit(0);
    if (journalThread_.joinable()) journalThread_.join();
  }
}

void SeekWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(tr("&Settings..."), this, [this] {
    // The settings are their own program, installed beside this one.
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/qvsettings");
    const QString program =
        QFileInfo(beside).isExecutable() ? beside : QStringLiteral("qvsettings");
    if (!QProcess::startDetached(program, {})) {
      statusBar()->showMessage(
          tr("The settings program qvsettings could not be started; install it beside QvSeek "
             "or in a folder of PATH."));
    }
  });
  file->addAction(tr("Clear search &history..."), this, [this] {
    if (QMessageBox::question(this, windowTitle(), tr("Forget every search you made?")) ==
        QMessageBox::Yes) {
      history_.Clear();
      ReloadHistory();
    }
  });
  file->addSeparator();
  file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);

  QMenu* item = menuBar()->addMenu(tr("&Item"));
  item->addAction(tr("&Open"), QKeySequence(Qt::CTRL | Qt::Key_O), this, [this] { Act(ItemVerb::Open); });
  item->addAction(tr("Open &with..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), this,
                  [this] { Act(ItemVerb::OpenWith); });
  item->addAction(tr("&Properties"), QKeySequence(Qt::ALT | Qt::Key_Return), this,
                  [this] { Act(ItemVerb::Properties); });

  QMenu* view = menuBar()->addMenu(tr("&View"));
  view->addAction(tr("&Find"), QKeySequence::Find, this, [this] {
    searchBox_->setFocus();
    searchBox_->lineEdit()->selectAll();
  });
  view->addAction(tr("&Search again"), QKeySequence::Refresh, this, [this] { Search(lastQuery_); });
  QMenu* sortMenu = view->addMenu(tr("S&ort by"));
  for (int c = 0; c < kColumnCount; ++c) {
    if (!IsSortable(c)) continue;
    sortMenu->addAction(Q(MessageText(services_.texts, kColumnHeaders[static_cast<std::size_t>(c)])),
                        this, [this, c] { SortBy(c); });
  }
  view->addAction(tr("&Journal"), QKeySequence(Qt::CTRL | Qt::Key_J), this, [this] { ShowJournal(); });
  view->addAction(tr("Status &bar"), this, [this] { statusBar()->setVisible(!statusBar()->isVisible()); });

  QMenu* tools = menuBar()->addMenu(tr("&Tools"));
  tools->addAction(tr("&Enable ranking and tracing"), this,
                   [this] { SendToManager(ManagerCommand::EnableRanking); });
  tools->addAction(tr("&Disable ranking and tracing"), this,
                   [this] { SendToManager(ManagerCommand::DisableRanking); });
  tools->addAction(tr("Show runtime &status"), this,
                   [this] { SendToManager(ManagerCommand::ShowStatus); });
}

void SeekWindow::ShowInfo(const QString& text) {
  infoBar_->setText(text);
  infoBar_->setVisible(!text.isEmpty());
}

void SeekWindow::ReloadHistory() {
  const QString typed = searchBox_->currentText();
  searchBox_->clear();
  for (const auto& e : history_.Entries()) searchBox_->addItem(Q(e.query));
  searchBox_->setCurrentIndex(-1);
  searchBox_->setEditText(typed);
}

HRESULT SeekWindow::Search(const QString& text) {
  SearchRequest request;
  request.queryText = S(text);
  request.searchKeyMode = searchKeyMode_;
  request.params = params_;
  request.params.sortOrder = static_cast<std::uint32_t>(sort_.column);
  request.params.sortAscending = sort_.ascending;
  lastQuery_ = text;
  searchBox_->setEditText(text);
  // A registry failure while remembering does not stop the search.
  if (!request.queryText.empty()) history_.Remember(request.queryText, request.searchKeyMode);

  ScoringContext scoring;
  scoring.activation = services_.activation;
  scoring.partialMatch = services_.partialMatch;
  scoring.cancelled = [](std::size_t) {
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return false;
  };
  SearchResult result;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const HRESULT hr = RunSearch(request, services_.env, *services_.exec, scoring, result);
  QApplication::restoreOverrideCursor();
  QString info;
  if (!result.messages.empty()) info = Q(JoinMessages(services_.texts, result.messages));
  if (Failed(hr)) {
    if (info.isEmpty()) info = tr("The search failed:") + QStringLiteral(" ") + Q(SystemMessage(hr));
    if (!result.detail.empty()) info += QStringLiteral("\n") + Q(result.detail);
  } else if (!result.information.empty()) {
    info += (info.isEmpty() ? QString() : QStringLiteral("\n")) +
            Q(JoinMessages(services_.texts, result.information));
  }
  ShowInfo(info);
  model_->SetResult(Succeeded(hr) ? std::move(result) : SearchResult{});
  statusBar()->showMessage(tr("%n item(s)", nullptr, model_->rowCount()));
  ReloadHistory();
  searchBox_->setEditText(text);
  if (model_->rowCount() > 0) results_->setCurrentIndex(model_->index(0, 0));
  else ShowPreview({});
  return hr;
}

void SeekWindow::Start(const StartupCommand& command) {
  switch (command.kind) {
    case StartupKind::OpenJournal:
      ShowJournal();
      return;
    case StartupKind::JournalSearch:
      SearchJournal(Q(command.params.query));
      return;
    case StartupKind::Search:
      params_.searchFiles = command.params.searchFiles;
      params_.searchWebHistory = command.params.searchWebHistory;
      params_.searchEmail = command.params.searchEmail;
      params_.visitedOnly = command.params.visitedOnly;
      params_.includeSystemFolders = command.params.includeSystemFolders;
      searchKeyMode_ = command.params.searchKeyMode;
      Search(Q(command.params.query));
      searchKeyMode_ = false;
      return;
    case StartupKind::EmptySearch:
      Search(QString());
      return;
  }
}

void SeekWindow::SortBy(int column) {
  if (!ClickColumn(sort_, column)) return;
  results_->horizontalHeader()->setSortIndicator(
      sort_.column, sort_.ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
  Search(lastQuery_);
}

int SeekWindow::CurrentRow() const {
  const QModelIndex i = results_->currentIndex();
  return i.isValid() ? i.row() : -1;
}

void SeekWindow::PreviewCurrent() {
  const int row = CurrentRow();
  if (row < 0) {
    ShowPreview({});
    return;
  }
  ShowPreview(model_->State(row));
}

void SeekWindow::ShowPreview(const RowState& state) {
  if (FillPreview(state)) {
    // The item's own preview counts as a visit without a journal entry.
    if (visits_) visits_->ItemShown(state.path);
    return;
  }
  if (visits_) visits_->Cleared();
  QString why = tr("No preview for this item.");
  if (state.path.empty()) why = tr("Select an item to see it here.");
  if (previewKind_ == PreviewKind::Web) why = tr("No stored copy of this page.");
  previewKind_ = PreviewKind::None;
  placeholder_->setText(why);
  preview_->setCurrentWidget(placeholder_);
}

bool SeekWindow::FillPreview(const RowState& state) {
  previewKind_ = PreviewKind::None;
  if (state.path.empty()) return false;
  if (!visits_ && services_.visits) {
    visits_.emplace(*services_.visits, static_cast<std::uint64_t>(window()->winId()));
  }
  const PreviewSettings settings = LoadPreviewSettings(services_.ctx->registry);
  const RegistryFileTypes types(services_.ctx->registry);
  previewKind_ = ChoosePreview({state.kind, state.path}, settings, types);
  const QString path = Q(state.path);
  std::string text;
  previewText_->setLoadsFiles(previewKind_ != PreviewKind::Web);
  switch (previewKind_) {
    case PreviewKind::Text:
      if (Failed(ReadPreviewText(state.path, text))) return false;
      previewText_->setPlainText(Q(text));
      preview_->setCurrentWidget(previewText_);
      return true;
    case PreviewKind::FilteredText:
      if (FilteredPreviewText(reader_, state.path, text) != S_OK) return false;
      previewText_->setPlainText(Q(text));
      preview_->setCurrentWidget(previewText_);
      return true;
    case PreviewKind::Html: {
      if (Failed(ReadPreviewText(state.path, text))) return false;
      HtmlCleaning cleaning;
      cleaning.allowRemote = settings.downloadImages;
      previewText_->setSearchPaths({QFileInfo(path).absolutePath()});
      previewText_->setHtml(Q(CleanHtml(text, cleaning)));
      preview_->setCurrentWidget(previewText_);
      return true;
    }
    case PreviewKind::Image: {
      // Shown natively: no page is written around the image's path.
      QImageReader reader(path);
      reader.setAutoTransform(true);
      const QImage image = reader.read();
      if (image.isNull()) return false;
      const QSize room = preview_->size().boundedTo(image.size());
      previewImage_->setPixmap(QPixmap::fromImage(
          image.scaled(room.isEmpty() ? image.size() : room, Qt::KeepAspectRatio,
                       Qt::SmoothTransformation)));
      preview_->setCurrentWidget(previewImage_);
      return true;
    }
    case PreviewKind::Folder: {
      QString list;
      std::error_code ec;
      int shown = 0;
      for (const auto& e : fs::directory_iterator(state.path, ec)) {
        if (++shown > 500) break;
        list += Q(e.path().filename().string()) + (e.is_directory(ec) ? "/\n" : "\n");
      }
      previewText_->setPlainText(list);
      preview_->setCurrentWidget(previewText_);
      return true;
    }
    case PreviewKind::Web: {
      // The page's stored copy, from the cache through the web history; never the network.
      HtmlCleaning cleaning;
      cleaning.allowRemote = settings.downloadImages;
      const HRESULT hr = WebPreviewHtml(*services_.ctx, state.path, cleaning, text);
      if (hr != S_OK) {
        // The placeholder says whether the page has no stored copy or cannot be shown.
        if (Failed(hr)) previewKind_ = PreviewKind::None;
        return false;
      }
      previewText_->setSearchPaths({});
      previewText_->setHtml(Q(text));
      preview_->setCurrentWidget(previewText_);
      return true;
    }
    default:
      // Mail needs a browser or mail viewer this window does not host.
      return false;
  }
}

void SeekWindow::Act(ItemVerb verb) {
  const int row = CurrentRow();
  if (row < 0) return;
  const RowState& state = model_->State(row);
  ActionPlan plan;
  HRESULT hr = PlanItemAction(verb, state.kind, state.path, RunningSandboxed(), plan);
  if (Succeeded(hr)) hr = launcher_.Run(plan);
  launcher_.ReapFinished();
  if (Failed(hr)) ShowInfo(Q(InfoBarText(services_.texts, kMsgOpenFailed, hr)));
}

void SeekWindow::SendToManager(ManagerCommand command) {
  if (!services_.station) return;
  const HRESULT hr = SendManagerCommand(*services_.station, command);
  if (hr == S_FALSE) statusBar()->showMessage(tr("The runtime manager is not running."));
  else if (Failed(hr)) statusBar()->showMessage(Q(SystemMessage(hr)));
}

void SeekWindow::ShowResultMenu(const QPoint& at) {
  if (CurrentRow() < 0) return;
  QMenu menu(this);
  menu.addAction(tr("&Open"), this, [this] { Act(ItemVerb::Open); });
  menu.addAction(tr("Open &with..."), this, [this] { Act(ItemVerb::OpenWith); });
  menu.addAction(tr("&Properties"), this, [this] { Act(ItemVerb::Properties); });
  menu.exec(results_->viewport()->mapToGlobal(at));
}

bool SeekWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (watched == searchBox_->lineEdit() &&
        (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
      Search(searchBox_->currentText());
      return true;
    }
    if (watched == journalList_ && key->key() == Qt::Key_Delete && journal_) {
      std::vector<Guid> chosen;
      const auto entries = journal_->entries();
      for (const QModelIndex& i : journalList_->selectionModel()->selectedRows()) {
        if (i.row() < static_cast<int>(entries.size())) chosen.push_back(entries[static_cast<std::size_t>(i.row())].id);
      }
      if (Failed(journal_->DeleteEntries(chosen))) statusBar()->showMessage(tr("Not every entry could be deleted."));
      RefreshJournal();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void SeekWindow::ShowJournal(std::optional<CivilDay> day) {
  if (!journal_) {
    journal_ = std::make_unique<JournalViewModel>(journal::JournalRoot(services_.ctx->root));
    journal_->SetSort(LoadJournalSort(services_.ctx->registry));
    // The model tells of new entries from the listener's thread; the list is redrawn here.
    journal_->SetOnChange([this] {
      QMetaObject::invokeMethod(this, [this] { RefreshJournal(); }, Qt::QueuedConnection);
    });
    if (services_.station) {
      journalLoop_ = std::make_unique<platform::MessageLoop>(services_.station->clock());
      if (Succeeded(JournalViewListener::Create(*services_.station, *journalLoop_, *journal_,
                                                journalListener_))) {
        journalThread_ = std::thread([loop = journalLoop_.get()] { loop->Run(); });
      } else {
        journalListener_.reset();
      }
    }
  }
  const CivilDay shown = day ? *day : LocalDayOf(FileTimeToDate(services_.ctx->clock.Now()));
  const HRESULT hr = journalListener_ ? journalListener_->ShowDay(shown) : journal_->ShowDay(shown);
  if (Failed(hr)) ShowInfo(Q(InfoBarText(services_.texts, kMsgJournalUnreadable, hr)));
  journalDock_->setWindowTitle(tr("Journal") + QStringLiteral(" ") + Q(journal_->dayKey()));
  journalDock_->show();
  RefreshJournal();
}

HRESULT SeekWindow::SearchJournal(const QString& text) {
  ShowJournal();
  JournalSearchRequest request;
  request.queryText = S(text);
  request.ascending = journal_->sort().ascending;
  JournalSearchResult result;
  const HRESULT hr =
      RunJournalSearch(request, services_.env, *services_.exec, &history_, result);
  ReloadHistory();
  QString info;
  if (!result.messages.empty()) info = Q(JoinMessages(services_.texts, result.messages));
  if (!result.information.empty()) info = Q(JoinMessages(services_.texts, result.information));
  ShowInfo(info);
  // The found entries replace the day's list until a day is shown again.
  journalDock_->setWindowTitle(tr("Journal") + QStringLiteral(": ") + text);
  const std::size_t n = Succeeded(hr) ? result.rows.RowCount() : 0;
  journalList_->setRowCount(static_cast<int>(n));
  for (std::size_t r = 0; r < n; ++r) {
    const Row& row = result.rows.RowAt(r);
    auto cell = [&](std::size_t f) {
      return f < row.size() && row[f].kind == ValueKind::Str ? Q(row[f].s) : QString();
    };
    const QString date = kJournalFieldWrite < row.size() && services_.dates &&
                                 row[kJournalFieldWrite].kind == ValueKind::Date
                             ? Q(LocalDateTimeText(row[kJournalFieldWrite].d, *services_.dates))
                             : QString();
    const int i = static_cast<int>(r);
    journalList_->setItem(i, kJournalColumnName, new QTableWidgetItem(cell(kJournalFieldDescription)));
    journalList_->setItem(i, kJournalColumnLocation, new QTableWidgetItem(cell(kJournalFieldFilename)));
    journalList_->setItem(i, kJournalColumnStart, new QTableWidgetItem(date));
  }
  return hr;
}

void SeekWindow::RefreshJournal() {
  if (!journal_) return;
  const auto entries = journal_->entries();
  journalList_->setRowCount(static_cast<int>(entries.size()));
  const CellTexts texts{services_.dates, {}, {}};
  for (int r = 0; r < static_cast<int>(entries.size()); ++r) {
    const auto& e = entries[static_cast<std::size_t>(r)];
    const QString cells[kJournalColumnCount] = {
        Q(e.title.empty() ? e.url : e.title),
        Q(e.url),
        Q(JournalKindText(e.type)),
        services_.dates ? Q(LocalDateTimeText(e.start, *services_.dates)) : QString(),
        Q(DurationText(e.workingTime, texts.durations)),
        Q(DurationText(e.activeTime, texts.durations))};
    for (int c = 0; c < kJournalColumnCount; ++c) {
      journalList_->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
  }
}

void SeekWindow::RestoreLayout() {
  std::vector<Rect> screens;
  for (const QScreen* s : QGuiApplication::screens()) {
    const QRect a = s->availableGeometry();
    screens.push_back({a.left(), a.top(), a.left() + a.width(), a.top() + a.height()});
  }
  const WindowLayout layout = LoadWindowLayout(services_.ctx->registry, screens);
  if (layout.placement) {
    const Rect& r = layout.placement->normal;
    setGeometry(r.left, r.top, static_cast<int>(r.width()), static_cast<int>(r.height()));
    if (layout.placement->showCmd == kShowMaximized) setWindowState(Qt::WindowMaximized);
  }
  statusBar()->setVisible(layout.statusBar);
  if (layout.vertSplit) {
    const int left = static_cast<int>(*layout.vertSplit);
    splitter_->setSizes({left, std::max(width() - left, 1)});
  }
}

void SeekWindow::SaveLayout() {
  WindowLayout layout;
  WindowPlacement p;
  const QRect g = normalGeometry().isValid() ? normalGeometry() : geometry();
  p.normal = {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
  p.showCmd = isMaximized() ? kShowMaximized : kShowNormal;
  layout.placement = p;
  layout.statusBar = statusBar()->isVisible();
  const QList<int> sizes = splitter_->sizes();
  if (!sizes.isEmpty() && sizes[0] > 0) layout.vertSplit = static_cast<std::uint32_t>(sizes[0]);
  auto& reg = services_.ctx->registry;
  SaveWindowLayout(reg, layout);
  ColumnLayout columns;
  const auto* header = results_->horizontalHeader();
  for (int c = 0; c < kColumnCount; ++c) {
    columns.positions[static_cast<std::size_t>(c)] = header->visualIndex(c);
    columns.widths[static_cast<std::size_t>(c)] = header->sectionSize(c);
  }
  columns.sort = sort_;
  SaveColumnLayout(reg, columns);
}

void SeekWindow::closeEvent(QCloseEvent* event) {
  SaveLayout();
  QMainWindow::closeEvent(event);
}

}  // namespace qv::client
