#pragma once
// QvSeek's main window: the search box with the search history, the result list with its
// activation bars and sortable columns, the preview pane, the journal pane and the
// information bar. Every decision is the client's models'; this layer only shows them.
#include <QAbstractTableModel>
#include <QMainWindow>
#include <QStyledItemDelegate>
#include <QTextBrowser>
#include <deque>
#include <memory>
#include <thread>
#include <optional>
#include <vector>

#include "client/action_launcher.h"
#include "client/command_line.h"
#include "client/item_actions.h"
#include "client/journal_view.h"
#include "client/manager_commands.h"
#include "client/preview_html.h"
#include "client/preview_rules.h"
#include "client/preview_visits.h"
#include "client/result_bar.h"
#include "client/result_columns.h"
#include "client/search_history.h"
#include "client/search_run.h"
#include "context/context.h"
#include "platform/indexing/document_reader.h"

class QComboBox;
class QLabel;
class QStackedWidget;
class QTableView;
class QTableWidget;
class QSplitter;
class QDockWidget;

namespace qv {
class LanguageModule;
}

namespace qv::client {

// What the window searches with; everything here outlives the window.
struct SeekServices {
  Context* ctx = nullptr;
  const DateLocale* dates = nullptr;
  const LanguageModule* texts = nullptr;  // null: the built-in texts
  ComposeEnvironment env;
  platform::indexing::QueryExecutor* exec = nullptr;
  IBaseActivation* activation = nullptr;  // null: rows in the catalog's order, no bars
  std::uint32_t partialMatch = kDefaultPartialMatch * 10;
  platform::WindowStation* station = nullptr;  // null: no manager commands, no live journal
  VisitReporter* visits = nullptr;  // null: previews report no visits
};

// The rows of the last search as the list shows them (display order, cell texts, bars).
class ResultTableModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  ResultTableModel(const SeekServices& services, QObject* parent = nullptr);
  void SetResult(SearchResult result);
  const SearchResult& result() const { return result_; }
  const RowState& State(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;

 private:
  const SeekServices& services_;
  CellTexts cellTexts_;
  SearchResult result_;
  // The states of the rows shown so far, from the top: the rest are read as the list scrolls.
  mutable std::deque<RowState> states_;  // a state handed out stays where it is
};

// Draws the bar column.
class BarDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The preview's HTML view: local files only, and remote content only when the user allows it
// (what the cleaning left of it is then still not fetched by this view).
class PreviewBrowser final : public QTextBrowser {
 public:
  using QTextBrowser::QTextBrowser;
  QVariant loadResource(int type, const QUrl& name) override;
  // A stored web page loads nothing: its relative names belong to its site, not to a folder
  // here.
  void setLoadsFiles(bool loads) { loadsFiles_ = loads; }

 private:
  bool loadsFiles_ = true;
};

class SeekWindow final : public QMainWindow {
  Q_OBJECT
 public:
  explicit SeekWindow(const SeekServices& services, QWidget* parent = nullptr);
  ~SeekWindow() override;

  // Runs a search for the text (and remembers it); the list shows the rows when it returns.
  HRESULT Search(const QString& text);
  // Acts on the command line: a search, the journal, or the empty search.
  void Start(const StartupCommand& command);
  // A header click on `column` (sorts and searches again when the order changes).
  void SortBy(int column);
  // The window's saved layout, restored and written on close.
  void RestoreLayout();
  void SaveLayout();

  QTableView* resultView() const { return results_; }
  ResultTableModel* resultModel() const { return model_; }
  SortState sort() const { return sort_; }
  QTextBrowser* previewText() const { return previewText_; }
  QLabel* previewImage() const { return previewImage_; }
  QLabel* infoBar() const { return infoBar_; }
  QComboBox* searchBox() const { return searchBox_; }
  QTableWidget* journalList() const { return journalList_; }
  PreviewKind previewKind() const { return previewKind_; }
  // Shows the journal pane on today (or the given day).
  void ShowJournal(std::optional<CivilDay> day = std::nullopt);
  // Searches the whole journal and lists what it finds in the journal pane.
  HRESULT SearchJournal(const QString& text);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void ShowInfo(const QString& text);
  void ReloadHistory();
  void PreviewCurrent();
  void ShowPreview(const RowState& state);
  bool FillPreview(const RowState& state);
  void Act(ItemVerb verb);
  void SendToManager(ManagerCommand command);
  void RefreshJournal();
  void ShowResultMenu(const QPoint& at);
  int CurrentRow() const;

  const SeekServices& services_;
  SearchHistory history_;
  ActionLauncher launcher_;
  SearchParams params_;
  SortState sort_;
  QString lastQuery_;
  bool searchKeyMode_ = false;

  QComboBox* searchBox_ = nullptr;
  QLabel* infoBar_ = nullptr;
  QTableView* results_ = nullptr;
  ResultTableModel* model_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QStackedWidget* preview_ = nullptr;
  QLabel* placeholder_ = nullptr;
  PreviewBrowser* previewText_ = nullptr;
  QLabel* previewImage_ = nullptr;
  PreviewKind previewKind_ = PreviewKind::None;
  platform::indexing::DocumentReader reader_;
  std::optional<PreviewVisits> visits_;
  QDockWidget* journalDock_ = nullptr;
  QTableWidget* journalList_ = nullptr;

  std::unique_ptr<JournalViewModel> journal_;
  std::unique_ptr<platform::MessageLoop> journalLoop_;
  std::unique_ptr<JournalViewListener> journalListener_;
  std::thread journalThread_;
};

}  // namespace qv::client
