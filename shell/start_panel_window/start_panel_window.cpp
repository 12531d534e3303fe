#include "shell/start_panel_window/start_panel_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCompleter>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace qv::startpanel {

QRect PlacePanel(QSize size, QPoint bottomLeft, const QRect& workArea) {
  QRect r(QPoint(bottomLeft.x(), bottomLeft.y() - size.height() + 1), size);
  if (r.right() > workArea.right()) r.moveRight(workArea.right());
  if (r.bottom() > workArea.bottom()) r.moveBottom(workArea.bottom());
  if (r.left() < workArea.left()) r.moveLeft(workArea.left());
  if (r.top() < workArea.top()) r.moveTop(workArea.top());
  return r;
}

namespace {
QCheckBox* Box(const QString& text, const char* name, bool on, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(name);
  box->setChecked(on);
  return box;
}
}  // namespace

StartPanelDialog::StartPanelDialog(const uiutils::StartPanelRequest& request, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      options_(request.options) {
  setObjectName("StartPanel");
  setWindowTitle(tr("Quillon Vesper"));
  auto* layout = new QVBoxLayout(this);
  search_ = new QLineEdit(this);
  search_->setObjectName("search");
  search_->setPlaceholderText(tr("Search for..."));
  search_->setMaxLength(static_cast<int>(uiutils::kMaxSearchText) - 1);
  QStringList history;
  for (const std::string& h : request.history) history << QString::fromStdString(h);
  auto* completer = new QCompleter(history, this);
  completer->setCaseSensitivity(Qt::CaseInsensitive);
  search_->setCompleter(completer);
  auto* find = new QPushButton(tr("Search"), this);
  find->setObjectName("find");
  find->setDefault(true);
  auto* top = new QHBoxLayout;
  top->addWidget(search_, 1);
  top->addWidget(find);
  layout->addLayout(top);

  auto* grid = new QGridLayout;
  files_ = Box(tr("Files"), "files", options_.files, this);
  web_ = Box(tr("Web history"), "webHistory", options_.webHistory, this);
  email_ = Box(tr("E-mail"), "email", options_.email, this);
  email_->setVisible(request.mailAvailable);
  visitedOnly_ = Box(tr("Only what I worked with"), "visitedOnly", options_.visitedOnly, this);
  system_ = Box(tr("Include system folders"), "systemFolders", options_.includeSystemFolders,
                this);
  grid->addWidget(files_, 0, 0);
  grid->addWidget(web_, 0, 1);
  grid->addWidget(email_, 0, 2);
  grid->addWidget(visitedOnly_, 1, 0, 1, 2);
  grid->addWidget(system_, 2, 0, 1, 2);
  layout->addLayout(grid);

  auto* actions = new QHBoxLayout;
  auto add = [&](const QString& text, const char* name, long choice) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, choice] { Choose(choice); });
    actions->addWidget(b);
  };
  add(tr("Status"), "status", kChoiceStatus);
  add(tr("Settings"), "settings", kChoiceSettings);
  add(tr("Ranking on/off"), "toggleRanking", kChoiceToggleRanking);
  layout->addLayout(actions);

  connect(find, &QPushButton::clicked, this, [this] { Choose(kChoiceSearch); });
  connect(search_, &QLineEdit::returnPressed, this, [this] { Choose(kChoiceSearch); });
}

void StartPanelDialog::Choose(long choice) {
  chosen_ = true;
  choice_ = choice;
  accept();
}

uiutils::StartPanelAnswer StartPanelDialog::Answer() const {
  uiutils::StartPanelAnswer a;
  a.choice = choice_;
  a.text = search_->text().toStdString();
  a.options = options_;
  a.options.files = files_->isChecked();
  a.options.webHistory = web_->isChecked();
  a.options.email = email_->isChecked();
  a.options.visitedOnly = visitedOnly_->isChecked();
  a.options.includeSystemFolders = system_->isChecked();
  return a;
}

void StartPanelDialog::keyPressEvent(QKeyEvent* event) {
  // Holding Alt closes the panel, as a pop-up closes when the user turns to the menus.
  if (event->key() == Qt::Key_Alt) {
    reject();
    return;
  }
  QDialog::keyPressEvent(event);
}

HRESULT QtStartPanel::Show(const uiutils::StartPanelRequest& request,
                           uiutils::StartPanelAnswer& answer) {
  if (!QApplication::instance()) return E_FAIL;
  QScreen* screen = QGuiApplication::screenAt(QPoint(static_cast<int>(request.x),
                                                     static_cast<int>(request.y)));
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return E_FAIL;
  StartPanelDialog panel(request);
  panel.adjustSize();
  panel.setGeometry(PlacePanel(panel.sizeHint().expandedTo(panel.minimumSizeHint()),
                               QPoint(static_cast<int>(request.x), static_cast<int>(request.y)),
                               screen->availableGeometry()));
  // The session ending closes the panel without a choice.
  QObject::connect(qApp, &QGuiApplication::commitDataRequest, &panel, &QDialog::reject);
  if (shown_) {
    QTimer::singleShot(0, &panel, [this, &panel] { shown_(panel); });
  }
  panel.exec();
  if (!panel.chosen()) return E_ABORT;
  answer = panel.Answer();
  return S_OK;
}

}  // namespace qv::startpanel
