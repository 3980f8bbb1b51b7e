#include "app/about_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "app/file_icons.h"

namespace app {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Tessera - バージョン情報"));
  setObjectName(QStringLiteral("about"));
  auto* icon = new QLabel(this);
  icon->setPixmap(FileIcons::Instance().Application().pixmap(32, 32));
  auto* name = new QLabel(QStringLiteral("Tessera Version 1.0.1"), this);
  auto* second = new QLabel(QStringLiteral("バックアップファイルの閲覧と復元"), this);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  auto* layout = new QGridLayout(this);
  layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  layout->addWidget(name, 0, 1);
  layout->addWidget(second, 1, 1);
  layout->addWidget(buttons, 2, 0, 1, 2);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

}  // namespace app
