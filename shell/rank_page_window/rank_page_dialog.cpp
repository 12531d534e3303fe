#include "shell/rank_page_window/rank_page_dialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

namespace qv::rankpage {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QLabel* Value(const char* name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

QLabel* Icon(QStyle::StandardPixmap which, const char* name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setPixmap(parent->style()->standardIcon(which).pixmap(16, 16));
  return label;
}

}  // namespace

RankPageWidget::RankPageWidget(RankPage& page, QWidget* parent) : QWidget(parent), page_(page) {
  auto* layout = new QVBoxLayout(this);
  auto* name = new QLabel(QFileInfo(Q(page_.file())).fileName(), this);
  name->setObjectName("file");
  name->setToolTip(Q(page_.file()));
  layout->addWidget(name);
  auto* form = new QFormLayout;
  firstVisit_ = Value("firstVisit", this);
  lastVisit_ = Value("lastVisit", this);
  visits_ = Value("visits", this);
  workingTime_ = Value("workingTime", this);
  activeTime_ = Value("activeTime", this);
  searchKey_ = Value("searchKey", this);
  form->addRow(tr("First visit:"), firstVisit_);
  form->addRow(tr("Last visit:"), lastVisit_);
  form->addRow(tr("Visits:"), visits_);
  form->addRow(tr("Working time:"), workingTime_);
  form->addRow(tr("Active time:"), activeTime_);
  form->addRow(tr("Search key:"), searchKey_);
  layout->addLayout(form);

  auto* statusLine = new QHBoxLayout;
  success_ = Icon(QStyle::SP_DialogApplyButton, "success", this);
  failure_ = Icon(QStyle::SP_MessageBoxWarning, "failure", this);
  status_ = Value("status", this);
  status_->setWordWrap(true);
  statusLine->addWidget(success_);
  statusLine->addWidget(failure_);
  statusLine->addWidget(status_, 1);
  layout->addLayout(statusLine);

  delete_ = new QPushButton(tr("Delete the ranking record"), this);
  delete_->setObjectName("delete");
  layout->addWidget(delete_, 0, Qt::AlignLeft);

  auto* remarkLine = new QHBoxLayout;
  warning_ = Icon(QStyle::SP_MessageBoxWarning, "warning", this);
  remark_ = Value("remark", this);
  remark_->setWordWrap(true);
  remarkLine->addWidget(warning_);
  remarkLine->addWidget(remark_, 1);
  layout->addStretch();
  layout->addLayout(remarkLine);

  connect(delete_, &QPushButton::clicked, this, [this] {
    if (page_.RequestDelete()) {
      Refresh();
      emit changed();
    }
  });
  Refresh();
}

void RankPageWidget::Refresh() {
  const RankPageView& v = page_.view();
  firstVisit_->setText(Q(v.firstVisit));
  lastVisit_->setText(Q(v.lastVisit));
  visits_->setText(Q(v.visits));
  workingTime_->setText(Q(v.workingTime));
  activeTime_->setText(Q(v.activeTime));
  searchKey_->setText(Q(v.searchKey));
  status_->setText(Q(v.status));
  success_->setVisible(v.successShown);
  failure_->setVisible(v.failureShown);
  delete_->setEnabled(v.deleteEnabled);
  remark_->setText(Q(v.remark.text));
  warning_->setVisible(v.remark.warning);
}

RankPageDialog::RankPageDialog(RankPage& page, QWidget* parent) : QDialog(parent), page_(page) {
  setObjectName("RankPageDialog");
  setWindowTitle(tr("Properties of %1").arg(QFileInfo(Q(page_.file())).fileName()));
  auto* layout = new QVBoxLayout(this);
  auto* tabs = new QTabWidget(this);
  widget_ = new RankPageWidget(page_, tabs);
  tabs->addTab(widget_, tr("Ranking"));
  layout->addWidget(tabs);
  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Apply | QDialogButtonBox::Cancel, this);
  apply_ = buttons->button(QDialogButtonBox::Apply);
  apply_->setEnabled(false);  // until the page changes
  layout->addWidget(buttons);
  connect(widget_, &RankPageWidget::changed, apply_, [this] { apply_->setEnabled(true); });
  connect(apply_, &QPushButton::clicked, this, [this] { Apply(); });
  connect(buttons->button(QDialogButtonBox::Ok), &QPushButton::clicked, this, [this] {
    if (Succeeded(Apply())) accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

HRESULT RankPageDialog::Apply() {
  const HRESULT hr = page_.Apply();
  widget_->Refresh();
  apply_->setEnabled(Failed(hr));  // a failed delete can be tried again
  return hr;
}

}  // namespace qv::rankpage
