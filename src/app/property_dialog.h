// The three read-only property dialogs: one backed-up file, one folder, and
// a selection of several entries; and the dispatcher that picks one of them
// for the paths a pane hands over.
//
// The dialogs keep the fixed layout of their Windows dialog resources, with
// the grey separator lines at the same client pixels, so that users who know
// the program find every field where it was.
#pragma once

#include <QDialog>
#include <QStringList>
#include <cstdint>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace IncrementalBackup {
class CFolder;
class CFSFile;
class CIncrementalRestoreQPXFileExtendCreator;
}  // namespace IncrementalBackup

namespace app {

// "1,234,567 バイト": the value with a comma before every group of three
// digits counted from the right.
QString SizeText(uint64_t bytes);
// A FILETIME as local time in the form of text 237; empty when it cannot be
// converted (beyond what a FILETIME can hold as a calendar date).
QString TimeText(uint64_t fileTime);
// Text 238 with the two counts.
QString CountsText(uint32_t files, uint32_t folders);

// What the three dialogs share: the icon, the name line, labelled read-only
// fields, the attribute boxes and the close button, placed at fixed client
// pixels, and the separator lines.
class PropertyDialogBase : public QDialog {
  Q_OBJECT

 public:
  QLabel* Icon() const { return icon_; }
  QLineEdit* NameField() const { return name_; }
  // A field by its label as shown, without the " :" ("種類", "サイズ" ...); null if none.
  QLineEdit* Field(const QString& label) const;
  // The attribute boxes (read only, hidden, compressed, encrypted); empty in the selection dialog.
  QList<QCheckBox*> AttributeBoxes() const { return boxes_; }
  QPushButton* CloseButton() const { return close_; }
  // The separator lines' heights, from x = 10 to LineEnd().
  const QList<int>& Lines() const { return lines_; }
  int LineEnd() const { return lineEnd_; }

 protected:
  PropertyDialogBase(int width, QWidget* parent);

  void SetIcon(const QIcon& icon);
  void SetName(const QString& name);
  QLineEdit* AddField(const QString& label, int y, const QString& value = {});
  void AddAttributeBoxes(int y);
  // Sets the boxes from an attribute word (read only 0x1, hidden 0x2,
  // compressed 0x800, encrypted 0x4000).
  void SetAttributes(uint32_t attributes);
  void AddLines(QList<int> lines, int end) {
    lines_ = std::move(lines);
    lineEnd_ = end;
  }
  // Places the close button at height y and fixes the dialog's size below it.
  void Finish(int y);

  void paintEvent(QPaintEvent* event) override;

 private:
  int width_;
  int fieldX_;
  QLabel* icon_;
  QLineEdit* name_;
  QList<QPair<QString, QLineEdit*>> fields_;
  QList<QCheckBox*> boxes_;
  QPushButton* close_ = nullptr;
  QList<int> lines_;
  int lineEnd_ = 0;
};

// One backed-up file as the selected generation holds it.
class CPropertyDialog : public PropertyDialogBase {
  Q_OBJECT

 public:
  explicit CPropertyDialog(const IncrementalBackup::CFSFile& file, QWidget* parent = nullptr);
};

// One folder, with the totals of what it holds in the selected generation.
class CFolderPropertyDialog : public PropertyDialogBase {
  Q_OBJECT

 public:
  explicit CFolderPropertyDialog(const IncrementalBackup::CFolder& folder, QWidget* parent = nullptr);
};

// Several entries of one folder, by their totals.
class CComplexPropertyDialog : public PropertyDialogBase {
  Q_OBJECT

 public:
  CComplexPropertyDialog(const QString& folder, uint32_t files, uint32_t folders, uint64_t size, uint64_t storedSize,
                         QWidget* parent = nullptr);
};

// The dialog for full pane paths ("C:\Data\a.txt"): a folder's or a file's
// for one path, the selection's for several; null for none, or for one path
// that names nothing in the tree. Totals are read, never marked: the marks
// on the tree stay the user's.
std::unique_ptr<PropertyDialogBase> MakePropertyDialog(
    const IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator& creator, const QStringList& paths,
    QWidget* parent);

}  // namespace app
