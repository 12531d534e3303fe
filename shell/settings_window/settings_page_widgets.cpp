#include "shell/settings_window/settings_page_widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "shell/settings/settings_constants.h"

namespace qv::settingswindow {

namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QString& s) { return s.toUtf8().toStdString(); }

QCheckBox* Box(const QString& text, const QString& name, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(name);
  return box;
}

}  // namespace

// ---- pattern lists ----

PatternListEditor::PatternListEditor(const QString& page, settings::PatternKind kind,
                                     QWidget* parent)
    : QWidget(parent), kind_(kind) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* choice = new QHBoxLayout;
  exclude_ = new QRadioButton(tr("Leave out what matches these patterns"), this);
  exclude_->setObjectName(page + ".exclude");
  include_ = new QRadioButton(tr("Take only what matches these patterns"), this);
  include_->setObjectName(page + ".include");
  choice->addWidget(exclude_);
  choice->addWidget(include_);
  layout->addLayout(choice);
  editor_ = new QPlainTextEdit(this);
  editor_->setObjectName(page + ".patterns");
  editor_->setPlaceholderText(tr("One pattern per line"));
  editor_->installEventFilter(this);
  layout->addWidget(editor_);
  exclude_->setChecked(true);
  // Switching keeps what was typed in the list shown so far, then shows the other one.
  connect(include_, &QRadioButton::toggled, this, [this](bool on) {
    Normalise();
    lists_.matchType = on ? settings::kMatchTypeInclude : settings::kMatchTypeExclude;
    ShowSelected();
  });
}

void PatternListEditor::SetLists(const settings::PatternLists& lists) {
  lists_ = lists;
  const QSignalBlocker block(include_);
  include_->setChecked(lists_.IncludeSelected());
  exclude_->setChecked(!lists_.IncludeSelected());
  ShowSelected();
}

void PatternListEditor::ShowSelected() { editor_->setPlainText(Q(lists_.ShownText())); }

void PatternListEditor::Normalise() {
  lists_.SetShownText(S(editor_->toPlainText()), kind_);
}

settings::PatternLists PatternListEditor::Lists() {
  Normalise();
  ShowSelected();
  return lists_;
}

bool PatternListEditor::eventFilter(QObject* watched, QEvent* event) {
  if (watched == editor_ && event->type() == QEvent::FocusOut) {
    Normalise();
    ShowSelected();
  }
  return QWidget::eventFilter(watched, event);
}

// ---- Files ----

FilesPageWidget::FilesPageWidget(platform::Registry& reg, QWidget* parent)
    : SettingsPageWidget(parent), reg_(reg) {
  auto* layout = new QVBoxLayout(this);
  journaling_ = Box(tr("Keep a journal of the files I open"), "Files.journaling", this);
  ranking_ = Box(tr("Rank the files I work with"), "Files.ranking", this);
  lists_ = new PatternListEditor("Files", settings::PatternKind::File, this);
  layout->addWidget(journaling_);
  layout->addWidget(ranking_);
  layout->addWidget(new QLabel(tr("Files (patterns such as *.log or /home/me/private/*):"), this));
  layout->addWidget(lists_);
}

void FilesPageWidget::Load() {
  const settings::FilesPage page = settings::LoadFilesPage(reg_);
  journaling_->setChecked(page.journaling);
  ranking_->setChecked(page.ranking);
  lists_->SetLists(page.lists);
}

HRESULT FilesPageWidget::Save() {
  settings::FilesPage page;
  page.journaling = journaling_->isChecked();
  page.ranking = ranking_->isChecked();
  page.lists = lists_->Lists();
  return settings::SaveFilesPage(reg_, page);
}

// ---- Web history ----

WebHistoryPageWidget::WebHistoryPageWidget(platform::Registry& reg, QWidget* parent)
    : SettingsPageWidget(parent), reg_(reg) {
  auto* layout = new QVBoxLayout(this);
  journaling_ = Box(tr("Keep a journal of the web pages I visit"), "WebHistory.journaling", this);
  ranking_ = Box(tr("Rank the web pages I visit"), "WebHistory.ranking", this);
  cache_ = Box(tr("Keep copies of ranked pages in the cache"), "WebHistory.cacheChanging", this);
  lists_ = new PatternListEditor("WebHistory", settings::PatternKind::Web, this);
  layout->addWidget(journaling_);
  layout->addWidget(ranking_);
  layout->addWidget(cache_);
  layout->addWidget(new QLabel(tr("Addresses (patterns such as news or intranet/docs/):"), this));
  layout->addWidget(lists_);
  // The cache box follows ranking; what the user chose for it is kept while ranking is off.
  connect(ranking_, &QCheckBox::toggled, this, [this](bool on) {
    page_.ranking = on;
    ShowCacheBox();
  });
  connect(cache_, &QCheckBox::toggled, this, [this](bool on) {
    if (page_.CacheBoxEnabled()) page_.cacheChanging = on;
  });
}

void WebHistoryPageWidget::ShowCacheBox() {
  const QSignalBlocker block(cache_);
  cache_->setEnabled(page_.CacheBoxEnabled());
  cache_->setChecked(page_.CacheBoxChecked());
}

void WebHistoryPageWidget::Load() {
  page_ = settings::LoadWebHistoryPage(reg_);
  const QSignalBlocker block(ranking_);
  journaling_->setChecked(page_.journaling);
  ranking_->setChecked(page_.ranking);
  ShowCacheBox();
  lists_->SetLists(page_.lists);
}

HRESULT WebHistoryPageWidget::Save() {
  page_.journaling = journaling_->isChecked();
  page_.ranking = ranking_->isChecked();
  page_.lists = lists_->Lists();
  settings::WebHistoryPage saved = page_;
  // What the box shows is what is written: cleared while ranking is off.
  saved.cacheChanging = page_.CacheBoxChecked();
  return settings::SaveWebHistoryPage(reg_, saved);
}

// ---- E-mail ----

EMailPageWidget::EMailPageWidget(const settings::SettingsEnvironment& env, QWidget* parent)
    : SettingsPageWidget(parent), env_(env) {
  auto* layout = new QVBoxLayout(this);
  journaling_ = Box(tr("Keep a journal of the e-mail I read and write"), "EMail.journaling", this);
  ranking_ = Box(tr("Rank the e-mail I work with"), "EMail.ranking", this);
  layout->addWidget(journaling_);
  layout->addWidget(ranking_);
  auto* group = new QGroupBox(tr("Mail stores"), this);
  auto* form = new QVBoxLayout(group);
  stores_ = new QComboBox(group);
  stores_->setObjectName("EMail.stores");
  path_ = new QLabel(group);
  path_->setObjectName("EMail.path");
  path_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  form->addWidget(stores_);
  form->addWidget(path_);
  form->addWidget(new QLabel(tr("Folders to track:"), group));
  const std::pair<unsigned, QString> folders[] = {
      {0, tr("Inbox")},    {1, tr("Sent Items and Outbox")}, {2, tr("Deleted Items")},
      {4, tr("Calendar")}, {5, tr("Contacts")},              {6, tr("Journal")},
      {7, tr("Notes")},    {8, tr("Tasks")},                 {9, tr("Drafts")}};
  for (const auto& [bit, text] : folders) {
    QCheckBox* box = Box(text, QString("EMail.bit%1").arg(bit), group);
    form->addWidget(box);
    bits_.emplace_back(bit, box);
    connect(box, &QCheckBox::toggled, this, [this, bit](bool on) {
      const int i = stores_->currentIndex();
      if (i >= 0 && static_cast<std::size_t>(i) < edited_.stores.size()) {
        edited_.stores[static_cast<std::size_t>(i)].SetBit(bit, on);
      }
    });
  }
  layout->addWidget(group);
  layout->addStretch();
  connect(stores_, &QComboBox::currentIndexChanged, this, [this] { ShowStore(); });
}

void EMailPageWidget::ShowStore() {
  const bool any = edited_.StoreControlsEnabled();
  stores_->setEnabled(any);
  const int i = stores_->currentIndex();
  const settings::MailStore* store =
      any && i >= 0 && static_cast<std::size_t>(i) < edited_.stores.size()
          ? &edited_.stores[static_cast<std::size_t>(i)]
          : nullptr;
  path_->setText(store ? Q(store->path) : QString());
  for (auto& [bit, box] : bits_) {
    const QSignalBlocker block(box);
    box->setEnabled(store != nullptr);
    box->setChecked(store && store->Bit(bit));
  }
}

void EMailPageWidget::Load() {
  loaded_ = settings::LoadEMailPage(env_.ctx.registry);
  edited_ = loaded_;
  journaling_->setChecked(loaded_.journaling);
  ranking_->setChecked(loaded_.ranking);
  const QSignalBlocker block(stores_);
  stores_->clear();
  for (const settings::MailStore& s : loaded_.stores) {
    stores_->addItem(s.name.empty() ? Q(s.keyName) : Q(s.name));
  }
  if (!loaded_.stores.empty()) stores_->setCurrentIndex(0);
  ShowStore();
}

HRESULT EMailPageWidget::Save() {
  edited_.journaling = journaling_->isChecked();
  edited_.ranking = ranking_->isChecked();
  const HRESULT hr = settings::SaveEMailPage(env_, loaded_, edited_);
  if (Succeeded(hr)) loaded_ = edited_;  // the next apply writes only later changes
  return hr;
}

// ---- General ----

GeneralPageWidget::GeneralPageWidget(const settings::SettingsEnvironment& env,
                                     std::function<void()> indexerChanged, QWidget* parent)
    : SettingsPageWidget(parent), env_(env), indexerChanged_(std::move(indexerChanged)) {
  auto* layout = new QFormLayout(this);
  identity_ = new QLineEdit(this);
  identity_->setObjectName("General.Identity");
  // No length limit on the control: it would cut between the halves of a character outside
  // the basic plane. Saving cuts the text to its length, never inside a character.
  layout->addRow(tr("Your identity:"), identity_);
  searchKeys_ = Box(tr("Give ranked files search keys"), "General.searchKeys", this);
  statistics_ = Box(tr("Keep usage statistics"), "General.statistics", this);
  layout->addRow(searchKeys_);
  layout->addRow(statistics_);
  userIdleOn_ = Box(tr("Indexer: merge word lists when I am idle for (seconds)"),
                    "General.userIdleOn", this);
  userIdle_ = new QSpinBox(this);
  userIdle_->setObjectName("General.WordlistUserIdle");
  userIdle_->setRange(1, static_cast<int>(settings::kUserIdleMax));
  layout->addRow(userIdleOn_, userIdle_);
  batteryOn_ = Box(tr("Indexer: stop on battery below (percent)"), "General.batteryOn", this);
  battery_ = new QSpinBox(this);
  battery_->setObjectName("General.MinWordlistBattery");
  battery_->setRange(0, static_cast<int>(settings::kBatteryMax));
  layout->addRow(batteryOn_, battery_);
  connect(userIdleOn_, &QCheckBox::toggled, userIdle_,
          [this](bool on) { userIdle_->setEnabled(on && loaded_.machineEditable); });
  connect(batteryOn_, &QCheckBox::toggled, battery_,
          [this](bool on) { battery_->setEnabled(on && loaded_.machineEditable); });
}

void GeneralPageWidget::Load() {
  loaded_ = settings::LoadGeneralPage(env_);
  identity_->setText(Q(loaded_.identity));
  searchKeys_->setChecked(loaded_.searchKeys);
  statistics_->setChecked(loaded_.statistics);
  userIdleOn_->setChecked(loaded_.userIdleOn);
  userIdle_->setValue(static_cast<int>(loaded_.userIdleOn ? loaded_.userIdle
                                                          : settings::kUserIdleDefault));
  batteryOn_->setChecked(loaded_.batteryOn);
  battery_->setValue(static_cast<int>(loaded_.battery));
  // Machine-wide values belong to the installation's owner; others see them disabled.
  for (QWidget* w : {static_cast<QWidget*>(searchKeys_), static_cast<QWidget*>(statistics_),
                     static_cast<QWidget*>(userIdleOn_), static_cast<QWidget*>(batteryOn_)}) {
    w->setEnabled(loaded_.machineEditable);
  }
  userIdle_->setEnabled(loaded_.machineEditable && loaded_.userIdleOn);
  battery_->setEnabled(loaded_.machineEditable && loaded_.batteryOn);
}

HRESULT GeneralPageWidget::Save() {
  settings::GeneralPage edited = loaded_;
  edited.identity = S(identity_->text());
  edited.searchKeys = searchKeys_->isChecked();
  edited.statistics = statistics_->isChecked();
  edited.userIdleOn = userIdleOn_->isChecked();
  edited.userIdle = static_cast<std::uint32_t>(userIdle_->value());
  edited.batteryOn = batteryOn_->isChecked();
  edited.battery = static_cast<std::uint32_t>(battery_->value());
  bool indexerChanged = false;
  const HRESULT hr = settings::SaveGeneralPage(env_, loaded_, edited, &indexerChanged);
  if (Succeeded(hr)) Load();  // shows the identity as stored (cleaned, cut)
  if (indexerChanged && indexerChanged_) indexerChanged_();
  return hr;
}

// ---- Search ----

SearchPageWidget::SearchPageWidget(platform::Registry& reg, QWidget* parent)
    : SettingsPageWidget(parent), reg_(reg) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("How closely words must match:"), this));
  partialMatch_ = new QSlider(Qt::Horizontal, this);
  partialMatch_->setObjectName("Search.PartialMatch");
  partialMatch_->setRange(0, static_cast<int>(settings::kPartialMatchMax));
  partialMatch_->setTickInterval(static_cast<int>(settings::kPartialMatchStep));
  partialMatch_->setPageStep(static_cast<int>(settings::kPartialMatchStep));
  partialMatch_->setTickPosition(QSlider::TicksBelow);
  auto* ends = new QHBoxLayout;
  ends->addWidget(new QLabel(tr("Similar words"), this));
  ends->addStretch();
  ends->addWidget(new QLabel(tr("Exact words"), this));
  layout->addWidget(partialMatch_);
  layout->addLayout(ends);
  layout->addStretch();
}

void SearchPageWidget::Load() {
  partialMatch_->setValue(static_cast<int>(settings::LoadSearchPage(reg_).partialMatch));
}

HRESULT SearchPageWidget::Save() {
  settings::SearchPage page;
  page.partialMatch = static_cast<std::uint32_t>(partialMatch_->value());
  return settings::SaveSearchPage(reg_, page);
}

// ---- View ----

ViewPageWidget::ViewPageWidget(platform::Registry& reg, QWidget* parent)
    : SettingsPageWidget(parent), reg_(reg) {
  auto* layout = new QVBoxLayout(this);
  previewFiles_ = Box(tr("Preview files"), "View.PreviewFiles", this);
  layout->addWidget(previewFiles_);
  const QString types[] = {tr("Text and web pages"), tr("XML documents"), tr("Images"),
                           tr("Sound and video"),    tr("PDF documents"), tr("Other documents")};
  auto* typeBox = new QGroupBox(tr("File types to preview"), this);
  auto* typeLayout = new QVBoxLayout(typeBox);
  for (int bit = 0; bit < 6; ++bit) {
    QCheckBox* box = Box(types[bit], QString("View.fileType%1").arg(bit), typeBox);
    typeLayout->addWidget(box);
    fileTypes_.push_back(box);
  }
  layout->addWidget(typeBox);
  lists_ = new PatternListEditor("View", settings::PatternKind::File, this);
  layout->addWidget(new QLabel(tr("Files to preview (patterns):"), this));
  layout->addWidget(lists_);
  previewWeb_ = Box(tr("Preview web pages"), "View.PreviewWeb", this);
  previewEmail_ = Box(tr("Preview e-mail"), "View.PreviewEmail", this);
  downloadImages_ = Box(tr("Download pictures in e-mail"), "View.DownloadImages", this);
  layout->addWidget(previewWeb_);
  layout->addWidget(previewEmail_);
  layout->addWidget(downloadImages_);
  connect(previewEmail_, &QCheckBox::toggled, downloadImages_, &QCheckBox::setEnabled);
}

void ViewPageWidget::Load() {
  page_ = settings::LoadViewPage(reg_);
  previewFiles_->setChecked(page_.previewFiles);
  for (std::size_t bit = 0; bit < fileTypes_.size(); ++bit) {
    fileTypes_[bit]->setChecked((page_.previewFileTypes >> bit & 1u) != 0);
  }
  lists_->SetLists(page_.lists);
  previewWeb_->setChecked(page_.previewWeb);
  previewEmail_->setChecked(page_.previewEmail);
  downloadImages_->setChecked(page_.downloadImages);
  downloadImages_->setEnabled(page_.DownloadImagesEnabled());
  previewEmail_->setVisible(page_.mailAvailable);
  downloadImages_->setVisible(page_.mailAvailable);
}

HRESULT ViewPageWidget::Save() {
  page_.previewFiles = previewFiles_->isChecked();
  std::uint32_t mask = 0;
  for (std::size_t bit = 0; bit < fileTypes_.size(); ++bit) {
    if (fileTypes_[bit]->isChecked()) mask |= 1u << bit;
  }
  // Bits above the six boxes are kept as they were read.
  page_.previewFileTypes = (page_.previewFileTypes & ~settings::kAllPreviewFileTypes) | mask;
  page_.lists = lists_->Lists();
  page_.previewWeb = previewWeb_->isChecked();
  page_.previewEmail = previewEmail_->isChecked();
  page_.downloadImages = downloadImages_->isChecked();
  return settings::SaveViewPage(reg_, page_);
}

}  // namespace qv::settingswindow
