// Dragging entries out of the file list onto another program.
//
// The drag offers the files the entries will become in the temporary restore
// folder, as a file list (text/uri-list), with the move action only, so the
// target moves them out of that folder. Nothing is restored while the drag
// goes on: the restore runs when the target asks for the data after the
// button was released, once per drag. A target that looks at the data while
// the pointer still moves gets the list without a restore. A drag that was
// cancelled, or whose restore failed or was cancelled, gives nothing.
//
// X11 delivers the data after QDrag::exec() has returned, so the state of a
// drag lives here, with the data, and not in the list pane.
#pragma once

#include <QList>
#include <QMimeData>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <functional>

namespace app {

class CQPXDataObject : public QMimeData {
  Q_OBJECT

 public:
  // Restores the dragged entries into the temporary restore folder; true
  // when they are all there.
  using Restore = std::function<bool()>;

  CQPXDataObject(QList<QUrl> files, Restore restore);

  // The file list as it is offered, one file URL a line.
  static QByteArray UriList(const QList<QUrl>& files);

  QStringList formats() const override;
  bool hasFormat(const QString& mimeType) const override;

  // The button was let go: the next request for the data restores.
  void Dropped();
  // Escape, or both buttons down: no restore, and no data, for this drag.
  void Cancelled();
  bool IsDragging() const { return stage_ == Stage::Dragging; }
  bool WasCancelled() const { return stage_ == Stage::Cancelled; }
  // The restore of this drag has been run (whatever its outcome).
  bool RestoreMade() const { return stage_ == Stage::Restored || stage_ == Stage::Restoring; }
  bool RestoreSucceeded() const { return succeeded_; }

 protected:
  QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

 private:
  enum class Stage { Dragging, Dropped, Restoring, Restored, Cancelled };

  QList<QUrl> files_;
  Restore restore_;
  // Changed by the first request after the drop, which is const to Qt.
  mutable Stage stage_ = Stage::Dragging;
  // True from the start, so that requests during the drag are answered.
  mutable bool succeeded_ = true;
};

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
