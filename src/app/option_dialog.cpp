#include "app/option_dialog.h"

#include <QCheckBox>
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
  newest_ = new QCheckBox(QStringLiteral("最新の世代で開く(&N)"), this);
  newest_->setObjectName(QStringLiteral("openNewest"));
  newest_->setAccessibleName(QStringLiteral("最新の世代で開く"));
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);

  auto* layout = new QGridLayout(this);
  layout->addWidget(label, 0, 0, 1, 2);
  layout->addWidget(edit_, 1, 0);
  layout->addWidget(browse, 1, 1);
  layout->addWidget(newest_, 2, 0, 1, 2);
  layout->addWidget(buttons, 3, 0, 1, 2);

  chooser_ = [](QWidget* owner, const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
  };
  connect(browse, &QPushButton::clicked, this, &COptionDialog::Browse);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool COptionDialog::OpenNewest() const { return newest_->isChecked(); }

void COptionDialog::SetOpenNewest(bool newest) { newest_->setChecked(newest); }

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
