#include "app/option_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/app_texts.h"

namespace app {

COptionDialog::COptionDialog(const QString& folder, QWidget* parent) : QDialog(parent), folder_(folder) {
  setWindowTitle(QStringLiteral("オプション"));
  setObjectName(QStringLiteral("options"));
  auto* label = new QLabel(QStringLiteral("ファイル・フォルダの一時展開先 :"), this);
  edit_ = new QLineEdit(folder_, this);
  edit_->setReadOnly(true);
  edit_->setObjectName(QStringLiteral("tempFolder"));
  edit_->setAccessibleName(QStringLiteral("ファイル・フォルダの一時展開先"));
  edit_->setMinimumWidth(320);
  label->setBuddy(edit_);
  auto* browse = new QPushButton(QStringLiteral("参照(&R)"), this);
  browse->setObjectName(QStringLiteral("browse"));
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);

  auto* layout = new QGridLayout(this);
  layout->addWidget(label, 0, 0, 1, 2);
  layout->addWidget(edit_, 1, 0);
  layout->addWidget(browse, 1, 1);
  layout->addWidget(buttons, 2, 0, 1, 2);

  chooser_ = [](QWidget* owner, const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
  };
  connect(browse, &QPushButton::clicked, this, &COptionDialog::Browse);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void COptionDialog::Browse() {
  const QString chosen = chooser_(this, AppText(Text::kChooseFolder), folder_);
  if (chosen.isNull()) return;
  if (!QFileInfo(chosen).isDir()) {
    ShowErrorMessage(Text::kFolderChoiceFailed);
    return;
  }
  folder_ = chosen;
  edit_->setText(folder_);
}

}  // namespace app
