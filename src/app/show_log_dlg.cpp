#include "app/show_log_dlg.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_texts.h"
#include "app/file_icons.h"
#include "host/host_path.h"
#include "host/string_ids.h"
#include "restore/log.h"

namespace app {
namespace {

constexpr qsizetype kLongestName = 500;

QFileDialog::Options& DialogOptions() {
  static QFileDialog::Options options;
  return options;
}

}  // namespace

bool CCtrlIO::Read(void*, uint32_t, uint32_t* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  return false;
}

bool CCtrlIO::Write(const void* buffer, uint32_t length) {
  if (control_ == nullptr || (buffer == nullptr && length > 0)) return false;
  pending_.append(static_cast<const char*>(buffer), length);
  const size_t units = pending_.size() / 2;
  // The text is complete at its NUL.
  size_t end = units;
  for (size_t i = 0; i < units; ++i) {
    if (pending_[2 * i] == 0 && pending_[2 * i + 1] == 0) {
      end = i;
      break;
    }
  }
  if (end == units) return true;
  QString text(static_cast<qsizetype>(end), Qt::Uninitialized);
  for (size_t i = 0; i < end; ++i)
    text[static_cast<qsizetype>(i)] = QChar(static_cast<char16_t>(static_cast<uint8_t>(pending_[2 * i]) |
                                                                  static_cast<uint8_t>(pending_[2 * i + 1]) << 8));
  pending_.clear();
  // Lines end in CR LF in the log; the control breaks lines at LF.
  text.remove(u'\r');
  control_->setPlainText(text);
  return true;
}

void CShowLogDlg::SetFileDialogOptions(QFileDialog::Options options) { DialogOptions() = options; }

CShowLogDlg::CShowLogDlg(const QPXFile::CLogger& log, QString suggestedName, QWidget* parent)
    : QDialog(parent), log_(log), suggested_(std::move(suggestedName)) {
  setObjectName(QStringLiteral("showLog"));
  setWindowTitle(QStringLiteral("Tessera - 復元結果"));
  setWindowIcon(FileIcons::Instance().Application());
  setSizeGripEnabled(true);

  text_ = new QPlainTextEdit(this);
  text_->setObjectName(QStringLiteral("log"));
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("ok"));
  ok_->setDefault(true);
  save_ = new QPushButton(QStringLiteral("保存"), this);
  save_->setObjectName(QStringLiteral("save"));
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(save_, &QPushButton::clicked, this, &CShowLogDlg::OnSave);

  // The text box keeps its four margins and grows with the dialog; the
  // buttons keep their distance to the lower-right corner.
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(save_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_, 1);
  layout->addLayout(buttons);
  resize(560, 320);

  CCtrlIO control(text_);
  log_.WriteTo(control);
}

void CShowLogDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The size it opens with is the smallest it can be made.
  if (!sized_) {
    sized_ = true;
    setMinimumSize(size());
  }
}

QString CShowLogDlg::SuggestedFileName() const {
  if (suggested_.isEmpty()) return AppText(host::StringId::kDefaultLogName);
  const qsizetype cut = std::max(suggested_.lastIndexOf(u'/'), suggested_.lastIndexOf(u'\\'));
  QString name = suggested_.mid(cut + 1);
  if (name.endsWith(QStringLiteral(".qpx"))) name = name.chopped(4) + QStringLiteral(".log");
  else if (name.endsWith(QStringLiteral(".qpi"))) name = name.chopped(4) + QStringLiteral(".log");
  return name;
}

QString CShowLogDlg::SuggestedFolder() const {
  const qsizetype cut = std::max(suggested_.lastIndexOf(u'/'), suggested_.lastIndexOf(u'\\'));
  if (cut <= 0) return cut == 0 ? QStringLiteral("/") : QString();
  return suggested_.left(cut);
}

void CShowLogDlg::OnSave() {
  const QString name = SuggestedFileName();
  if (name.size() > kLongestName) {
    ShowErrorMessage(host::StringId::kOutOfMemory);
    return;
  }
  QString filter, extension;
  if (!LoadText(host::StringId::kLogFilter, filter) || !LoadText(host::StringId::kLogExtension, extension)) {
    ShowErrorMessage(host::StringId::kOutOfMemory);
    return;
  }
  QFileDialog dialog(nullptr);
  dialog.setObjectName(QStringLiteral("saveLog"));
  dialog.setOptions(DialogOptions());
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QtFileFilter(filter));
  dialog.setDefaultSuffix(extension);
  const QString folder = SuggestedFolder();
  if (!folder.isEmpty()) dialog.setDirectory(folder);
  dialog.selectFile(name);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString chosen = dialog.selectedFiles().first();
  if (!log_.SaveAs(host::ToEnginePath(chosen.toStdString()))) {
    ShowErrorMessage(host::StringId::kLogSaveFailed);
    return;
  }
  accept();
}

}  // namespace app
