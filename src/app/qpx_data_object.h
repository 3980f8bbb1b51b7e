// Dragging entries out of the file list onto another program, or copying
// them to the clipboard.
//
// The data offers the files the entries will become in the temporary
// restore folder, as a file list (text/uri-list); a drag offers to move or
// copy them, and the target chooses. Nothing is restored while the drag
// goes on: the restore runs when the target asks for the data after the
// button was released, once per drag. A target that looks at the data while
// the pointer still moves gets the list without a restore. A drag that was
// cancelled, or whose restore failed or was cancelled, gives nothing.
//
// On the clipboard the same data is there at once, as a copy (with the
// copied-files list file managers paste from as well), and restores at the
// first request, however much later: it holds everything it restores by
// value, and is taken off the clipboard when the set it came from is
// released (DropCopiedFiles), since the restore reads that set.
//
// X11 delivers the data after QDrag::exec() has returned, so the state of a
// drag lives here, with the data, and not in the list pane. The target may
// stop waiting while the restore runs, and Qt then deletes the drag and this
// object inside the restore's own event loop: everything the restore needs
// is held by a state the running request keeps alive, never by this object.
#pragma once

#include <QList>
#include <QMimeData>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <memory>

class QWidget;

namespace app {

class CQPXDataObject : public QMimeData {
  Q_OBJECT

 public:
  // Restores the dragged entries into the temporary restore folder; true
  // when they are all there.
  using Restore = std::function<bool()>;

  // Told on the user-interface thread, after the request has returned,
  // when the target had stopped waiting before the restore ended; `pasted`:
  // the data was on the clipboard.
  using Abandoned = std::function<void(bool restored, bool pasted)>;

  CQPXDataObject(QList<QUrl> files, Restore restore, Abandoned abandoned = {});
  ~CQPXDataObject() override;

  // The file list as it is offered, one file URL a line.
  static QByteArray UriList(const QList<QUrl>& files);

  QStringList formats() const override;
  bool hasFormat(const QString& mimeType) const override;

  // The button was let go: the next request for the data restores.
  void Dropped();
  // Escape, or both buttons down: no restore, and no data, for this drag.
  void Cancelled();
  // Puts the data on the clipboard, which owns it from then on: no drag,
  // so the first request restores.
  void PutOnClipboard();
  bool OnClipboard() const { return state_->pasted; }
  bool IsDragging() const { return state_->stage == Stage::Dragging; }
  bool WasCancelled() const { return state_->stage == Stage::Cancelled; }
  // The restore of this drag has been run (whatever its outcome).
  bool RestoreMade() const { return state_->stage == Stage::Restored || state_->stage == Stage::Restoring; }
  bool RestoreSucceeded() const { return state_->succeeded; }

 protected:
  QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

 private:
  enum class Stage { Dragging, Dropped, Restoring, Restored, Cancelled };

  struct State {
    QList<QUrl> files;
    Restore restore;
    Abandoned abandoned;
    Stage stage = Stage::Dragging;
    // True from the start, so that requests during the drag are answered.
    bool succeeded = true;
    // This object is gone: the target no longer waits for the answer.
    bool orphaned = false;
    // Copied rather than dragged.
    bool pasted = false;
  };
  // Changed by the first request after the drop, which is const to Qt.
  std::shared_ptr<State> state_;
};

// The message after a drop or paste whose target stopped waiting before the
// restore ended: the files were not handed over and stay in `folder` (the
// temporary restore folder, removed when the program ends), which the user
// may open.
inline constexpr char kDropAbandoned[] =
    "ドロップ先のプログラムが復元の終了を待たずに受け取りをやめたため、ファイルは渡されませんでした。\n"
    "復元したファイルは次のフォルダにあります。このフォルダはTesseraの終了時に削除されます。\n\n%1";
inline constexpr char kPasteAbandoned[] =
    "貼り付け先のプログラムが復元の終了を待たずに受け取りをやめたため、ファイルは渡されませんでした。\n"
    "復元したファイルは次のフォルダにあります。このフォルダはTesseraの終了時に削除されます。\n\n%1";
void TellDropAbandoned(const QString& folder, QWidget* parent, bool pasted = false);

// Takes copied entries off the clipboard, if they are there: the set they
// were copied from is about to go.
void DropCopiedFiles();

// Watches the keyboard and the mouse while a drag runs: Escape, or the
// right button pressed with the left one, cancels it; letting go of the
// last button drops it. Must be installed once the drag's own loop runs, so
// that it sees the events before the drag machinery takes them.
class CQPXDropSource : public QObject {
  Q_OBJECT

 public:
  explicit CQPXDropSource(CQPXDataObject* data) : data_(data) {}
  ~CQPXDropSource() override;
  void Watch();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<CQPXDataObject> data_;
  bool watching_ = false;
};

}  // namespace app
