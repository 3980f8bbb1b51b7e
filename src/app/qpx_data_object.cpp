#include "app/qpx_data_object.h"

#include <QApplication>
#include <QDrag>
#include <QKeyEvent>
#include <QMouseEvent>

namespace app {
namespace {

const QString& UriListType() {
  static const QString type = QStringLiteral("text/uri-list");
  return type;
}

}  // namespace

CQPXDataObject::CQPXDataObject(QList<QUrl> files, Restore restore) : files_(std::move(files)), restore_(std::move(restore)) {}

QByteArray CQPXDataObject::UriList(const QList<QUrl>& files) {
  QByteArray list;
  for (const QUrl& file : files) {
    list += file.toEncoded();
    list += "\r\n";
  }
  return list;
}

QStringList CQPXDataObject::formats() const { return {UriListType()}; }

bool CQPXDataObject::hasFormat(const QString& mimeType) const { return mimeType == UriListType(); }

void CQPXDataObject::Dropped() {
  if (stage_ == Stage::Dragging) stage_ = Stage::Dropped;
}

void CQPXDataObject::Cancelled() {
  if (stage_ == Stage::Dragging) stage_ = Stage::Cancelled;
}

QVariant CQPXDataObject::retrieveData(const QString& mimeType, QMetaType) const {
  if (mimeType != UriListType()) return {};
  switch (stage_) {
    case Stage::Dragging:
      break;
    case Stage::Dropped:
      stage_ = Stage::Restoring;
      succeeded_ = restore_ && restore_();
      stage_ = Stage::Restored;
      break;
    case Stage::Restoring:
      // The target asked again while the restore of its first request runs
      // (its loop serves requests meanwhile): the files are not there yet.
      return {};
    case Stage::Restored:
      break;
    case Stage::Cancelled:
      return {};
  }
  if (!succeeded_) return {};
  // Qt turns these bytes into URLs for a target in this process, and sends
  // them as they are to one in another.
  return UriList(files_);
}

CQPXDropSource::~CQPXDropSource() {
  if (watching_) qApp->removeEventFilter(this);
}

void CQPXDropSource::Watch() {
  if (watching_) return;
  watching_ = true;
  qApp->installEventFilter(this);
}

bool CQPXDropSource::eventFilter(QObject*, QEvent* event) {
  if (data_ == nullptr) return false;
  switch (event->type()) {
    case QEvent::KeyPress:
      if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) data_->Cancelled();
      break;
    case QEvent::MouseButtonPress: {
      const Qt::MouseButtons buttons = static_cast<QMouseEvent*>(event)->buttons();
      if ((buttons & (Qt::LeftButton | Qt::RightButton)) == (Qt::LeftButton | Qt::RightButton)) {
        data_->Cancelled();
        QDrag::cancel();
        return true;
      }
      break;
    }
    case QEvent::MouseButtonRelease:
      // The same release reaches the window and then its widget; the first
      // one counts.
      if ((static_cast<QMouseEvent*>(event)->buttons() & (Qt::LeftButton | Qt::RightButton)) == 0) data_->Dropped();
      break;
    default:
      break;
  }
  return false;
}

}  // namespace app
