#pragma once
// The status sheet as a Qt window over the headless model: whether ranking and tracing run
// (with the buttons to switch them and to open the settings), the catalogs with their
// documents and states (read again every 2 s while the sheet is open), the web history with
// its clearing, and the journal. The manager owns it and tells it of every icon refresh.
#include <QDialog>
#include <functional>
#include <memory>
#include <string>

#include "context/context.h"
#include "manager/status/catalog_table.h"
#include "manager/status/store_pages.h"

class QLabel;
class QPushButton;
class QTableWidget;
class QTabWidget;
class QTimer;

namespace qv::manager {

inline constexpr int kCatalogRefreshMs = 2000;

enum class SheetPage { Status = 0, Catalogs = 1, WebHistory = 2, Journal = 3 };

// What the sheet asks of the manager: the manager's commands enable (true) or disable
// (false), and options; and the user's confirmation before the web history is cleared.
struct StatusSheetActions {
  std::function<void(bool enable)> setEnabled;
  std::function<void()> openOptions;
  std::function<bool()> confirmClear;
};

class StatusSheet final : public QDialog {
  Q_OBJECT
 public:
  StatusSheet(const Context& ctx, std::string owner, StatusSheetActions actions,
              QWidget* parent = nullptr);
  ~StatusSheet() override;

  void ShowPage(SheetPage page);
  // The manager's refresh: the notification message (heading before the first line feed,
  // detail after it) and whether ranking and tracing are switched on.
  void SetStatus(const QString& message, bool enabled);
  void RefreshCatalogs();
  void RefreshStores();
  // Clears the web history once the user confirms; the outcome (S_FALSE when not confirmed).
  HRESULT ClearWebHistory();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ShowSelectedCatalog();

  const Context& ctx_;
  platform::indexing::CatalogAdmin admin_;
  CatalogTable table_;
  WebHistoryStore web_;
  StatusSheetActions actions_;
  bool enabled_ = true;

  QTabWidget* tabs_;
  QLabel* heading_;
  QLabel* detail_;
  QPushButton* toggle_;
  QTableWidget* catalogs_;
  QLabel* catalogName_;
  QLabel* catalogState_;
  QLabel* catalogDocuments_;
  QLabel* catalogToFilter_;
  QLabel* catalogLocation_;
  QLabel* catalogSize_;
  QLabel* webFolder_;
  QLabel* webCache_;
  QLabel* webSize_;
  QLabel* journalFolder_;
  QLabel* journalSize_;
  QTimer* timer_;
};

}  // namespace qv::manager
