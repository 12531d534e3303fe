#pragma once
// The start panel as a Qt window: a search box with the search history for completion, the
// five search options, and buttons for the status sheet, the settings and switching ranking
// on or off. It is KivUIUtils's StartPanelView where there is a display.
#include <QDialog>
#include <QRect>
#include <functional>

#include "shell/uiutils/kiv_ui_utils.h"

class QCheckBox;
class QLineEdit;

namespace qv::startpanel {

// Where the panel goes: its bottom-left corner at `bottomLeft`, moved as little as needed to
// lie within the work area (a panel larger than the work area keeps its top-left corner in).
QRect PlacePanel(QSize size, QPoint bottomLeft, const QRect& workArea);

class StartPanelDialog final : public QDialog {
  Q_OBJECT
 public:
  StartPanelDialog(const uiutils::StartPanelRequest& request, QWidget* parent = nullptr);
  // The choice made, once the panel closed with one.
  bool chosen() const { return chosen_; }
  uiutils::StartPanelAnswer Answer() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Choose(long choice);

  bool chosen_ = false;
  long choice_ = kChoiceSearch;
  uiutils::StartPanelOptions options_;
  QLineEdit* search_;
  QCheckBox* files_;
  QCheckBox* web_;
  QCheckBox* email_;
  QCheckBox* visitedOnly_;
  QCheckBox* system_;
};

class QtStartPanel final : public uiutils::StartPanelView {
 public:
  // `shown` is called once the panel is on screen (tests use it to act as the user).
  explicit QtStartPanel(std::function<void(StartPanelDialog&)> shown = {})
      : shown_(std::move(shown)) {}
  // Needs a QApplication; without one (no display) the panel cannot be made: E_FAIL.
  HRESULT Show(const uiutils::StartPanelRequest& request,
               uiutils::StartPanelAnswer& answer) override;

 private:
  std::function<void(StartPanelDialog&)> shown_;
};

}  // namespace qv::startpanel
