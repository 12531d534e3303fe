#pragma once
// The six settings pages as Qt widgets. Each binds its controls to its headless page model
// (shell/settings/settings_pages.h): Load fills the controls from the registry, Save writes
// the controls' state with the page's rules. Controls carry object names "Page.Value" so
// tests and accessibility tools find them.
#include <QWidget>
#include <functional>

#include "shell/settings/settings_pages.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QSlider;
class QSpinBox;

namespace qv::settingswindow {

class SettingsPageWidget : public QWidget {
  Q_OBJECT
 public:
  using QWidget::QWidget;
  // Reads the page's values from the registry into the controls.
  virtual void Load() = 0;
  // Writes the controls' state; S_OK or the first failure (what came before stays written).
  virtual HRESULT Save() = 0;
};

// The include and exclude lists of a page: two choices and one editor showing the list the
// choice selects. The editor's text is normalised when it loses the focus and before saving.
class PatternListEditor : public QWidget {
  Q_OBJECT
 public:
  PatternListEditor(const QString& page, settings::PatternKind kind, QWidget* parent);
  void SetLists(const settings::PatternLists& lists);
  // The lists with the editor's text normalised into the shown one.
  settings::PatternLists Lists();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Normalise();
  void ShowSelected();

  settings::PatternKind kind_;
  settings::PatternLists lists_;
  QRadioButton* exclude_;
  QRadioButton* include_;
  QPlainTextEdit* editor_;
};

class FilesPageWidget final : public SettingsPageWidget {
  Q_OBJECT
 public:
  FilesPageWidget(platform::Registry& reg, QWidget* parent);
  void Load() override;
  HRESULT Save() override;

 private:
  platform::Registry& reg_;
  QCheckBox* journaling_;
  QCheckBox* ranking_;
  PatternListEditor* lists_;
};

class WebHistoryPageWidget final : public SettingsPageWidget {
  Q_OBJECT
 public:
  WebHistoryPageWidget(platform::Registry& reg, QWidget* parent);
  void Load() override;
  HRESULT Save() override;

 private:
  void ShowCacheBox();

  platform::Registry& reg_;
  settings::WebHistoryPage page_;
  QCheckBox* journaling_;
  QCheckBox* ranking_;
  QCheckBox* cache_;
  PatternListEditor* lists_;
};

class EMailPageWidget final : public SettingsPageWidget {
  Q_OBJECT
 public:
  EMailPageWidget(const settings::SettingsEnvironment& env, QWidget* parent);
  void Load() override;
  HRESULT Save() override;

 private:
  void ShowStore();

  const settings::SettingsEnvironment& env_;
  settings::EMailPage loaded_;
  settings::EMailPage edited_;
  QCheckBox* journaling_;
  QCheckBox* ranking_;
  QComboBox* stores_;
  QLabel* path_;
  std::vector<std::pair<unsigned, QCheckBox*>> bits_;
};

class GeneralPageWidget final : public SettingsPageWidget {
  Q_OBJECT
 public:
  // `indexerChanged` is called after a save that changed the indexer's values.
  GeneralPageWidget(const settings::SettingsEnvironment& env, std::function<void()> indexerChanged,
                    QWidget* parent);
  void Load() override;
  HRESULT Save() override;

 private:
  const settings::SettingsEnvironment& env_;
  std::function<void()> indexerChanged_;
  settings::GeneralPage loaded_;
  QLineEdit* identity_;
  QCheckBox* searchKeys_;
  QCheckBox* statistics_;
  QCheckBox* userIdleOn_;
  QSpinBox* userIdle_;
  QCheckBox* batteryOn_;
  QSpinBox* battery_;
};

class SearchPageWidget final : public SettingsPageWidget {
  Q_OBJECT
 public:
  SearchPageWidget(platform::Registry& reg, QWidget* parent);
  void Load() override;
  HRESULT Save() override;

 private:
  platform::Registry& reg_;
  QSlider* partialMatch_;
};

class ViewPageWidget final : public SettingsPageWidget {
  Q_OBJECT
 public:
  ViewPageWidget(platform::Registry& reg, QWidget* parent);
  void Load() override;
  HRESULT Save() override;

 private:
  platform::Registry& reg_;
  settings::ViewPage page_;
  QCheckBox* previewFiles_;
  std::vector<QCheckBox*> fileTypes_;
  PatternListEditor* lists_;
  QCheckBox* previewWeb_;
  QCheckBox* previewEmail_;
  QCheckBox* downloadImages_;
};

}  // namespace qv::settingswindow
