#include "app/qpx_data_object.h"

#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QMouseEvent>
#include <QTimer>

#include "app/app_texts.h"
#include "app/desktop_integration.h"

namespace app {
namespace {

const QString& UriListType() {
  static const QString type = QStringLiteral("text/uri-list");
  return type;
}

// What file managers paste from: the action, then one file URL a line.
const QString& CopiedFilesType() {
  static const QString type = QStringLiteral("x-special/gnome-copied-files");
  return type;
}

QByteArray CopiedFiles(const QList<QUrl>& files) {
  QByteArray list = "copy";
  for (const QUrl& file : files) list += '\n' + file.toEncoded();
  return list;
}

}  // namespace

CQPXDataObject::CQPXDataObject(QList<QUrl> files, Restore restore, Abandoned abandoned)
    : state_(std::make_shared<State>()) {
  state_->files = std::move(files);
  state_->restore = std::move(restore);
  state_->abandoned = std::move(abandoned);
}

CQPXDataObject::~CQPXDataObject() { state_->orphaned = true; }

QByteArray CQPXDataObject::UriList(const QList<QUrl>& files) {
  QByteArray list;
  for (const QUrl& file : files) {
    list += file.toEncoded();
    list += "\r\n";
  }
  return list;
}

QStringList CQPXDataObject::formats() const {
  if (state_->pasted) return {UriListType(), CopiedFilesType()};
  return {UriListType()};
}

bool CQPXDataObject::hasFormat(const QString& mimeType) const { return formats().contains(mimeType); }

namespace {

// The copy on the clipboard. Qt deletes it when anything else takes the
// clipboard's place, in this program or another, so while it lives it is
// on the clipboard; asking the clipboard would ask the other program.
QPointer<CQPXDataObject>& OnTheClipboard() {
  static QPointer<CQPXDataObject> copied;
  return copied;
}

}  // namespace

void CQPXDataObject::PutOnClipboard() {
  state_->pasted = true;
  state_->stage = Stage::Dropped;
  QGuiApplication::clipboard()->setMimeData(this);
  OnTheClipboard() = this;
}

void DropCopiedFiles() {
  if (OnTheClipboard() != nullptr) QGuiApplication::clipboard()->clear();
}

void CQPXDataObject::Dropped() {
  if (state_->stage == Stage::Dragging) state_->stage = Stage::Dropped;
}

void CQPXDataObject::Cancelled() {
  if (state_->stage == Stage::Dragging) state_->stage = Stage::Cancelled;
}

QVariant CQPXDataObject::retrieveData(const QString& mimeType, QMetaType) const {
  if (!hasFormat(mimeType)) return {};
  // Past the restore, `this` may be gone: only `state` is used after it.
  const std::shared_ptr<State> state = state_;
  const auto answer = [&state, copied = mimeType == CopiedFilesType()] {
    return copied ? CopiedFiles(state->files) : UriList(state->files);
  };
  switch (state->stage) {
    case Stage::Dragging:
      break;
    case Stage::Dropped: {
      // A paste may come while the program is in a dialog, a restore or a
      // load among them, which a second restore must not run beside: the
      // target gets nothing this time, and a later paste restores.
      if (state->pasted && QApplication::activeModalWidget() != nullptr) return {};
      state->stage = Stage::Restoring;
      const Restore restore = state->restore;
      state->succeeded = restore && restore();
      state->stage = Stage::Restored;
      if (state->orphaned) {
        // Told once this request is over, not inside Qt's answer to it.
        if (state->abandoned) {
          QTimer::singleShot(0, qApp, [abandoned = state->abandoned, restored = state->succeeded, pasted = state->pasted] {
            abandoned(restored, pasted);
          });
        }
        // Whoever still reads the answer gets the list, not an empty value
        // that would send it asking the deleted object for other formats.
        return answer();
      }
      break;
    }
    case Stage::Restoring:
      // The target asked again while the restore of its first request runs
      // (its loop serves requests meanwhile): the files are not there yet.
      return {};
    case Stage::Restored:
      break;
    case Stage::Cancelled:
      return {};
  }
  if (!state->succeeded) return {};
  // Qt turns these bytes into URLs for a target in this process, and sends
  // them as they are to one in another.
  return answer();
}

void TellDropAbandoned(const QString& folder, QWidget* parent, bool pasted) {
  QMessageBox box(QMessageBox::Information, AppText(Text::kCaption),
                  QString::fromUtf8(pasted ? kPasteAbandoned : kDropAbandoned).arg(folder), QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("dropAbandoned"));
  QPushButton* open = box.addButton(QStringLiteral("フォルダを開く"), QMessageBox::ActionRole);
  open->setObjectName(QStringLiteral("openFolder"));
  box.setDefaultButton(QMessageBox::Ok);
  box.exec();
  if (box.clickedButton() == open) OpenWithDesktop(folder);
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
