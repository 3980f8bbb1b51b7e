// The options dialog: the folder under which files and folders are restored
// for a while (to be opened, or handed to another program by dragging), and
// whether a set opens at its newest generation.
#pragma once

#include <QDialog>
#include <functional>

class QCheckBox;
class QLineEdit;

namespace app {

class COptionDialog : public QDialog {
  Q_OBJECT

 public:
  // Asks the user for a folder; a null string means the user cancelled.
  using FolderChooser = std::function<QString(QWidget* parent, const QString& title, const QString& start)>;

  COptionDialog(const QString& folder, QWidget* parent = nullptr);

  const QString& Folder() const { return folder_; }
  // "最新の世代で開く": a set opens at its newest generation, not its first.
  bool OpenNewest() const;
  void SetOpenNewest(bool newest);
  QCheckBox* OpenNewestBox() const { return newest_; }
  void SetFolderChooser(FolderChooser chooser) { chooser_ = std::move(chooser); }
  // "参照(&R)": a chosen path that is not an existing folder shows 169 and
  // changes nothing.
  void Browse();

 private:
  QString folder_;
  QLineEdit* edit_;
  QCheckBox* newest_;
  FolderChooser chooser_;
};

}  // namespace app
