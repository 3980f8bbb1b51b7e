// The result log of a restore (dialog 134): the log's lines in a read-only
// text box that grows with the dialog, OK, and "保存", which saves the log as
// a text file of code page 932 lines ending in CR LF.
#pragma once

#include <QDialog>
#include <QFileDialog>
#include <QString>
#include <functional>
#include <string>

#include "io/io.h"

class QPlainTextEdit;
class QPushButton;

namespace QPXFile {
class CLogger;
}

namespace app {

// A text control as an output stream, so that the engine's log writer draws
// the log into the dialog as it would write it to a file: what is written is
// UTF-16LE text ending in a NUL, and it replaces the whole text of the
// control. Text that arrives in several pieces is collected until its NUL,
// so a long log is not cut to its last piece. Reading always fails.
class CCtrlIO : public QPXFile::CIO {
 public:
  explicit CCtrlIO(QPlainTextEdit* control) : control_(control) {}
  bool Read(void* buffer, uint32_t length, uint32_t* bytesRead) override;
  bool Write(const void* buffer, uint32_t length) override;

 private:
  QPlainTextEdit* control_;  // not owned
  std::string pending_;
};

class CShowLogDlg : public QDialog {
  Q_OBJECT

 public:
  // `suggestedName`: the path whose name (".qpx" or ".qpi" becoming ".log")
  // and folder the save dialog proposes.
  CShowLogDlg(const QPXFile::CLogger& log, QString suggestedName, QWidget* parent = nullptr);

  QPlainTextEdit* TextBox() const { return text_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* SaveButton() const { return save_; }

  // What "保存" proposes: the file name and the folder.
  QString SuggestedFileName() const;
  QString SuggestedFolder() const;

  // "保存".
  void OnSave();

  // The save-file dialog's options (tests use Qt's own dialog).
  static void SetFileDialogOptions(QFileDialog::Options options);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  const QPXFile::CLogger& log_;
  QString suggested_;
  QPlainTextEdit* text_;  // 1010
  QPushButton* ok_;       // 1
  QPushButton* save_;     // 1009
  bool sized_ = false;
};

}  // namespace app
