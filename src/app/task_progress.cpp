#include "app/task_progress.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>

#include "app/app_texts.h"

namespace app {

CShowTaskProgressDlg::CShowTaskProgressDlg(QWidget* parent, CShowTaskProgressDlgConnector& connector)
    : QDialog(parent), connector_(connector) {
  setModal(true);
  // No close box and no help button: the task decides when the dialog goes.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setWindowTitle(QStringLiteral("処理中"));
  setObjectName(QStringLiteral("taskProgress"));

  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("message"));
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("progress"));
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  notice_ = new QLabel(QStringLiteral("バックアップファイルを読み込んでいます。\nファイルとフォルダの数により、処理に数分以上\nかかる場合があります。"), this);
  subText_ = new QLabel(this);
  subText_->setObjectName(QStringLiteral("subText"));
  number_ = new QLabel(this);
  number_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  percent_ = new QLabel(this);
  number_->hide();
  percent_->hide();

  message_->setAccessibleName(QStringLiteral("メッセージ"));
  bar_->setAccessibleName(QStringLiteral("進行状況"));

  auto* numbers = new QHBoxLayout;
  numbers->addWidget(subText_, 1);
  numbers->addWidget(number_);
  numbers->addWidget(percent_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(message_);
  layout->addWidget(bar_);
  layout->addLayout(numbers);
  layout->addWidget(notice_);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  setMinimumWidth(340);

  timer_.setInterval(kUpdateIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &CShowTaskProgressDlg::Refresh);
}

CShowTaskProgressDlg::~CShowTaskProgressDlg() {
  if (worker_.joinable()) worker_.join();
}

void CShowTaskProgressDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!started_) Start();
}

void CShowTaskProgressDlg::Start() {
  started_ = true;
  cachedCaptionId_ = 0;
  cachedMessageId_ = 0;
  cachedMessageText_.clear();
  UpdateTexts();
  finished_ = false;
  result_ = 0;
  if (connector_.IsDeterminate()) {
    number_->show();
    percent_->show();
  }
  timer_.start();
  worker_ = std::thread([this] {
    result_ = connector_.RunTask(*this);
    QMetaObject::invokeMethod(this, &CShowTaskProgressDlg::TaskEnded, Qt::QueuedConnection);
  });
}

void CShowTaskProgressDlg::TaskEnded() {
  if (worker_.joinable()) worker_.join();
  timer_.stop();
  finished_ = true;
  done(QDialog::Rejected);
}

void CShowTaskProgressDlg::RunOnUserInterface(const std::function<void()>& work) {
  if (QThread::currentThread() == thread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(this, [&work] { work(); }, Qt::BlockingQueuedConnection);
}

void CShowTaskProgressDlg::Refresh() {
  if (connector_.IsDeterminate()) {
    const int p = connector_.GetPercent();
    if (p != 0) {
      bar_->setValue(p);
      number_->setText(QString::number(p));
      percent_->setText(QStringLiteral("%"));
    }
  } else {
    // The bar climbs one step a tick and starts again after reaching the end.
    if (bar_->value() >= bar_->maximum()) {
      bar_->setValue(0);
      return;
    }
    bar_->setValue(bar_->value() + 1);
    // Qt leaves out repaints for steps narrower than a chunk of the bar,
    // which held the bar still for 300 to 400 ms at a time; the style draws
    // it without chunks, so every step shows and the user sees it move.
    bar_->update();
    const QString sub = connector_.GetSubText();
    if (!sub.isEmpty()) subText_->setText(sub);
  }
  UpdateTexts();
}

void CShowTaskProgressDlg::UpdateTexts() {
  const int32_t caption = connector_.GetCaptionId();
  QString text;
  if (caption != cachedCaptionId_ && LoadText(caption, text)) {
    setWindowTitle(text);
    cachedCaptionId_ = caption;
  }
  const QString messageText = connector_.GetMessageText();
  if (!messageText.isEmpty()) {
    if (messageText != cachedMessageText_) {
      cachedMessageText_ = messageText;
      message_->setText(messageText);
    }
    return;
  }
  const int32_t id = connector_.GetMessageId();
  if (id != cachedMessageId_ && LoadText(id, text)) {
    message_->setText(text);
    cachedMessageId_ = id;
  }
}

void CShowTaskProgressDlg::reject() {
  if (!finished_) return;  // Esc and the window manager's close cannot stop a load
  QDialog::reject();
}

void CShowTaskProgressDlg::closeEvent(QCloseEvent* event) {
  if (!finished_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void CShowTaskProgressDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1) return;
  QDialog::keyPressEvent(event);
}

}  // namespace app
