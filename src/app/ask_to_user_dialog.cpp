#include "app/ask_to_user_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/app_texts.h"
#include "app/file_icons.h"

namespace app {

CAskToUserDialog::CAskToUserDialog(QString message, std::array<int, 3> captionIds, Icon icon, QWidget* parent)
    : QDialog(parent), ids_(captionIds), icon_(icon) {
  setObjectName(QStringLiteral("askToUser"));
  setWindowTitle(AppText(Text::kCaption));
  setWindowIcon(FileIcons::Instance().Application());

  iconLabel_ = new QLabel(this);
  iconLabel_->setObjectName(QStringLiteral("icon"));
  const QStyle::StandardPixmap pixmap =
      icon == Icon::Question ? QStyle::SP_MessageBoxQuestion : QStyle::SP_MessageBoxInformation;
  const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  iconLabel_->setPixmap(style()->standardIcon(pixmap, nullptr, this).pixmap(size, size));
  iconLabel_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

  // The wording may break its lines with "\r\n" as well as "\n".
  message_ = new QLabel(message.replace(QStringLiteral("\r\n"), QStringLiteral("\n")), this);
  message_->setObjectName(QStringLiteral("message"));
  message_->setTextFormat(Qt::PlainText);
  message_->setWordWrap(false);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* top = new QHBoxLayout;
  top->addWidget(iconLabel_);
  top->addSpacing(8);
  top->addWidget(message_, 1);

  auto* row = new QHBoxLayout;
  row->addStretch(1);
  static const char* const kNames[] = {"button1003", "button1017", "button1018"};
  for (int i = 0; i < 3; ++i) {
    auto* button = new QPushButton(AppText(ids_[i]), this);
    button->setObjectName(QLatin1String(kNames[i]));
    button->setAutoDefault(false);
    const int id = ids_[i];
    connect(button, &QPushButton::clicked, this, [this, id] { done(id); });
    buttons_[i] = button;
    row->addWidget(button);
  }
  buttons_[0]->setDefault(true);
  buttons_[0]->setFocus();

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addSpacing(8);
  layout->addLayout(row);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

int CAskToUserDialog::Ask() {
  const int result = exec();
  // Rejected (Esc, the close box) is 0, no button's id.
  return result;
}

}  // namespace app
