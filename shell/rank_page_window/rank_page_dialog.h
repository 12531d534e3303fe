#pragma once
// The ranking page of a file as a Qt window: the page's controls over the RankPage model,
// in a dialog with OK, Apply and Cancel as a property sheet has them. The record is deleted
// on OK or Apply after the Delete button was pressed; a failed delete keeps the window open
// with the reason on the page.
#include <QDialog>

#include "shell/rank_page/rank_page_model.h"

class QLabel;
class QPushButton;

namespace qv::rankpage {

class RankPageWidget final : public QWidget {
  Q_OBJECT
 public:
  RankPageWidget(RankPage& page, QWidget* parent);
  // Shows the model's state.
  void Refresh();

 signals:
  void changed();

 private:
  RankPage& page_;
  QLabel* firstVisit_;
  QLabel* lastVisit_;
  QLabel* visits_;
  QLabel* workingTime_;
  QLabel* activeTime_;
  QLabel* searchKey_;
  QLabel* status_;
  QLabel* success_;
  QLabel* failure_;
  QLabel* remark_;
  QLabel* warning_;
  QPushButton* delete_;
};

class RankPageDialog final : public QDialog {
  Q_OBJECT
 public:
  // `page` must be loaded.
  RankPageDialog(RankPage& page, QWidget* parent = nullptr);
  // Deletes the record if asked for; the page shows the outcome.
  HRESULT Apply();

 private:
  RankPage& page_;
  RankPageWidget* widget_;
  QPushButton* apply_;
};

}  // namespace qv::rankpage
