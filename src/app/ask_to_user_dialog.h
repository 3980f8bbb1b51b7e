// The question a restore puts to the user (dialog 136): a message with an
// icon and three buttons. Each button's id is the string-table number of its
// caption, and pressing it ends the dialog with that number; closing the
// dialog otherwise (Esc, the close box) answers 0.
#pragma once

#include <QDialog>
#include <QString>
#include <array>

class QLabel;
class QPushButton;

namespace app {

class CAskToUserDialog : public QDialog {
  Q_OBJECT

 public:
  enum class Icon { Question, Information };

  CAskToUserDialog(QString message, std::array<int, 3> captionIds, Icon icon, QWidget* parent = nullptr);

  // Shows the dialog modally; the caption id of the pressed button, or 0.
  int Ask();

  // Left to right: 1003, 1017, 1018.
  QPushButton* Button(int position) const { return buttons_[position]; }
  int ButtonId(int position) const { return ids_[position]; }
  QLabel* MessageLabel() const { return message_; }
  Icon GetIcon() const { return icon_; }

 private:
  std::array<int, 3> ids_;
  std::array<QPushButton*, 3> buttons_{};
  QLabel* iconLabel_;  // 1016
  QLabel* message_;    // 1004
  Icon icon_;
};

}  // namespace app
