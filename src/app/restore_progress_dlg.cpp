#include "app/restore_progress_dlg.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/app_texts.h"
#include "app/app_config.h"
#include "app/desktop_integration.h"
#include "app/file_icons.h"
#include "app/qpx_manager_app.h"
#include "app/restore_run.h"
#include "app/restore_selection.h"
#include "generations/inf_item.h"
#include "host/host_path.h"
#include "host/string_table.h"
#include "restore/restore_summary.h"

namespace app {
namespace {

// The longest path the host takes (PATH_MAX, its terminator included).
constexpr qsizetype kLongestPath = 4096;

QFileDialog::Options& DialogOptions() {
  static QFileDialog::Options options;
  return options;
}

QString QtFolderDialog(QWidget* parent, const QString& title, const QString& start) {
  // Other schemes come back as URLs, so that a network place that is not
  // mounted can be told apart from a cancel.
  const QUrl url = QFileDialog::getExistingDirectoryUrl(
      parent, title, QUrl::fromLocalFile(start), QFileDialog::ShowDirsOnly | DialogOptions(),
      {QStringLiteral("file"), QStringLiteral("smb"), QStringLiteral("sftp"), QStringLiteral("ftp")});
  if (url.isEmpty()) return {};
  return url.isLocalFile() ? url.toLocalFile() : url.toString();
}

CRestoreProgressDlg::FolderChooser& Chooser() {
  static CRestoreProgressDlg::FolderChooser chooser;
  return chooser;
}

// A folder the user chose or typed that can hold a restore: an existing
// folder on a drive the engine writes to. What an archive holds never
// proposes one.
bool IsUsableTarget(const QString& folder) {
  return !folder.isEmpty() && !IsUnmountedNetworkLocation(folder) && HasDriveRoot(folder) && QFileInfo(folder).isDir();
}

QLineEdit* ReadOnlyEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  edit->setReadOnly(true);
  return edit;
}

}  // namespace

void CRestoreProgressDlg::SetFolderChooser(FolderChooser chooser) { Chooser() = std::move(chooser); }
void CRestoreProgressDlg::SetFileDialogOptions(QFileDialog::Options options) { DialogOptions() = options; }

CRestoreProgressDlg::CRestoreProgressDlg(CQPXManagerApp& app, IncrementalBackup::RestoreSelection selection,
                                         QWidget* parent)
    : CRestoreDialogBase(app, parent), selection_(std::move(selection)), neededBytes_(SelectionBytes(app, selection_)) {
  setObjectName(QStringLiteral("restoreProgress"));
  setWindowTitle(QStringLiteral("Tessera - 選択されたファイル・フォルダの復元"));
  setWindowIcon(FileIcons::Instance().Application());

  targetEdit_ = new QLineEdit(this);
  targetEdit_->setObjectName(QStringLiteral("target"));
  targetEdit_->setPlaceholderText(QString::fromUtf8(RestoreFixedText::kNotChosen));
  // A typed or pasted folder counts once the user is done with it; Enter
  // there takes the folder and does not start the restore yet.
  targetEdit_->installEventFilter(this);
  connect(targetEdit_, &QLineEdit::editingFinished, this, [this] { TakeTypedTarget(); });
  freeEdit_ = ReadOnlyEdit(this, "freeSpace");
  neededEdit_ = ReadOnlyEdit(this, "neededSpace");
  freeEdit_->setAlignment(Qt::AlignRight);
  neededEdit_->setAlignment(Qt::AlignRight);
  browse_ = new QPushButton(QStringLiteral("参照(&R)"), this);
  browse_->setObjectName(QStringLiteral("browse"));
  browse_->setAutoDefault(false);
  status_ = new QPlainTextEdit(this);
  status_->setObjectName(QStringLiteral("status"));
  status_->setReadOnly(true);
  status_->setFocusPolicy(Qt::NoFocus);
  status_->setFixedHeight(status_->fontMetrics().lineSpacing() * 3 + 12);
  status_->setLineWrapMode(QPlainTextEdit::NoWrap);
  status_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  status_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  openAfter_ = new QCheckBox(QStringLiteral("復元後に復元先フォルダを開く"), this);
  openAfter_->setObjectName(QStringLiteral("openAfter"));
  start_ = new QPushButton(QStringLiteral("復元を開始"), this);
  start_->setObjectName(QStringLiteral("start"));
  start_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("キャンセル"), this);
  cancel_->setObjectName(QStringLiteral("cancel"));
  cancel_->setAutoDefault(false);
  connect(browse_, &QPushButton::clicked, this, &CRestoreProgressDlg::OnBrowse);
  connect(start_, &QPushButton::clicked, this, &CRestoreProgressDlg::OnStart);
  connect(cancel_, &QPushButton::clicked, this, &CRestoreProgressDlg::reject);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("復元先フォルダ:"), this), 0, 0);
  grid->addWidget(targetEdit_, 0, 1, 1, 4);
  grid->addWidget(browse_, 0, 5);
  grid->addWidget(new QLabel(QStringLiteral("空き容量:"), this), 1, 0);
  grid->addWidget(freeEdit_, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("KB"), this), 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("必要な容量:"), this), 1, 3, Qt::AlignRight);
  grid->addWidget(neededEdit_, 1, 4);
  grid->addWidget(new QLabel(QStringLiteral("KB"), this), 1, 5);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(4, 1);

  auto* progress = new QHBoxLayout;
  progress->addWidget(bar_, 1);
  progress->addWidget(percent_);
  progress->addWidget(new QLabel(QStringLiteral("%"), this));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(openAfter_);
  buttons->addStretch(1);
  buttons->addWidget(start_);
  buttons->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(status_);
  layout->addLayout(progress);
  layout->addLayout(buttons);
  resize(540, sizeHint().height());

  timer_.setInterval(kCloseCheckMs);
  connect(&timer_, &QTimer::timeout, this, &CRestoreProgressDlg::OnTimer);

  // Only the user's own last choice is proposed.
  const QString last = app_.Config().LastRestoreTarget();
  if (IsUsableTarget(last)) target_ = last;
  openAfter_->setChecked(true);
  RefreshSpace();
  UpdateInformation();
}

void CRestoreProgressDlg::showEvent(QShowEvent* event) {
  CRestoreDialogBase::showEvent(event);
  if (!noticeShown_) {
    noticeShown_ = true;
    QMetaObject::invokeMethod(this, &CRestoreProgressDlg::MailDataNotice, Qt::QueuedConnection);
  }
}

void CRestoreProgressDlg::MailDataNotice() {
  const IncrementalBackup::CBackupSet* set = app_.Set();
  if (set == nullptr || set->IsArchiveAlone()) return;
  const std::optional<std::u16string> notice =
      INFFile::MailDataNotice(set->Manager().GetINFItems(), &host::LoadString);
  if (!notice) return;
  QMessageBox box(QMessageBox::Information, AppText(Text::kCaption), QString::fromStdU16String(*notice),
                  QMessageBox::Ok, this);
  box.exec();
}

void CRestoreProgressDlg::SetStatusText(const QString& text) {
  QString shown = text;
  status_->setPlainText(shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

QString CRestoreProgressDlg::StatusText() const { return status_->toPlainText(); }
QWidget* CRestoreProgressDlg::StatusWidget() const { return status_->viewport(); }

void CRestoreProgressDlg::RefreshSpace() {
  neededEdit_->setText(SpaceText(neededBytes_));
  freeBytes_ = 0;
  if (target_.isEmpty()) {
    freeEdit_->setText(QString::fromUtf8(RestoreFixedText::kNotChosen));
  } else if (IsUnmountedNetworkLocation(target_) || !HasDriveRoot(target_) || !QueryFreeSpace(target_, freeBytes_)) {
    freeBytes_ = 0;
    freeEdit_->setText(QString::fromUtf8(RestoreFixedText::kSpaceUnknown));
  } else {
    freeEdit_->setText(SpaceText(freeBytes_));
  }
}

void CRestoreProgressDlg::UpdateInformation() {
  if (running_ || succeeded_) return;
  percent_->setText(QStringLiteral("0"));
  bar_->setRange(0, 100);
  bar_->setValue(0);
  targetEdit_->setText(target_);
  if (IsUnmountedNetworkLocation(target_)) {
    start_->setEnabled(false);
    SetStatusText(QString::fromUtf8(RestoreFixedText::kNetworkTarget));
  } else if (HasDriveRoot(target_)) {
    RefreshSpace();
    const bool fits = neededBytes_ <= freeBytes_;
    start_->setEnabled(fits);
    SetStatusText(QString::fromUtf8(fits ? RestoreFixedText::kReady : RestoreFixedText::kNoSpace));
  } else {
    start_->setEnabled(false);
    SetStatusText(QString::fromUtf8(RestoreFixedText::kInvalidDrive));
  }
}

void CRestoreProgressDlg::SetTargetFolder(const QString& folder) {
  target_ = folder;
  RefreshSpace();
  targetEdit_->setText(target_);
  UpdateInformation();
}

bool CRestoreProgressDlg::TakeChosenTarget(const QString& chosen) {
  if (chosen.size() >= kLongestPath) {
    ShowErrorMessage(Text::kFolderChoiceFailed);
    return false;
  }
  if (IsUnmountedNetworkLocation(chosen)) {
    ShowErrorMessage(Text::kNotNetworkDrive);
    return false;
  }
  if (!HasDriveRoot(chosen)) {
    ShowErrorMessage(Text::kNoDriveLetter);
    return false;
  }
  SetTargetFolder(chosen);
  app_.Config().SetLastRestoreTarget(chosen);
  return true;
}

bool CRestoreProgressDlg::TakeTypedTarget() {
  if (running_) return false;
  const QString typed = targetEdit_->text().trimmed();
  if (typed == target_) return true;
  // Checked as a chosen folder is, and it must be there, as anything the
  // folder dialog offers is; a refused one gives the field back.
  const bool network = IsUnmountedNetworkLocation(typed);
  const QString folder = network ? typed : QDir::cleanPath(typed);
  bool taken = false;
  if (typed.isEmpty())
    taken = false;
  else if (!network && QDir::isAbsolutePath(folder) && !QFileInfo(folder).isDir())
    ShowErrorText(QString::fromUtf8(RestoreFixedText::kTargetMissing).arg(folder));
  else
    taken = TakeChosenTarget(folder);
  if (!taken) targetEdit_->setText(target_);
  return taken;
}

bool CRestoreProgressDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == targetEdit_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && targetEdit_->text().trimmed() != target_) {
      TakeTypedTarget();
      return true;
    }
  }
  return CRestoreDialogBase::eventFilter(watched, event);
}

void CRestoreProgressDlg::OnBrowse() {
  if (running_) return;
  const QString title = AppText(Text::kChooseFolder);
  const QString start = target_.isEmpty() || IsUnmountedNetworkLocation(target_) ? QString() : target_;
  const QString chosen = Chooser() ? Chooser()(this, title, start) : QtFolderDialog(this, title, start);
  if (chosen.isEmpty()) return;
  TakeChosenTarget(chosen);
}

void CRestoreProgressDlg::OnStart() {
  if (running_ || !TakeTypedTarget() || !start_->isEnabled()) return;
  if (!PrepareRun(selection_, target_)) return;
  start_->setEnabled(false);
  browse_->setEnabled(false);
  targetEdit_->setReadOnly(true);
  StartWorker();
  timer_.start();
}

void CRestoreProgressDlg::RestoreFinished() {
  running_ = false;
  browse_->setEnabled(true);
  targetEdit_->setReadOnly(false);
  const CRestoreRun& run = Run();
  if (!run.Continues()) {
    UpdateInformation();
    SetStatusText(QString::fromUtf8(RestoreFixedText::kUserCancelled));
  } else if (run.Failed()) {
    UpdateInformation();
    SetStatusText(QString::fromUtf8(RestoreFixedText::kFailed));
  } else {
    // Done: the dialog closes at the next tick, showing the outcome till then.
    succeeded_ = true;
    start_->setEnabled(false);
    // A target into which nothing came is not worth a window.
    if (openAfter_->isChecked() && QPXFile::ShouldOpenTarget(run.Summary().counts)) OpenWithDesktop(run.Target());
  }
}

void CRestoreProgressDlg::OnTimer() {
  if (running_ || asking_) return;
  timer_.stop();
  if (succeeded_) done(QDialog::Accepted);
}

}  // namespace app
