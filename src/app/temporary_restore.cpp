#include "app/temporary_restore.h"

#include <QDir>
#include <QTimer>

#include "app/auto_restore_dlg.h"
#include "app/main_frame.h"
#include "app/qpx_manager_app.h"
#include "app/restore_selection.h"
#include "host/remove_tree.h"

namespace app {
namespace {

// The automatic restore dialog behind a drop. The drop target is waiting
// for the data meanwhile (file managers give up after about five seconds),
// so the dialog closes as soon as the restore has ended rather than at its
// next look.
class CDropRestoreDlg : public CAutoRestoreDlg {
 public:
  using CAutoRestoreDlg::CAutoRestoreDlg;

  void RestoreFinished() override {
    CAutoRestoreDlg::RestoreFinished();
    // The worker is still inside the call that brought this here.
    QTimer::singleShot(0, this, [this] { done(QDialog::Accepted); });
  }
};

}  // namespace

bool RunTemporaryRestore(CQPXManagerApp& app, QString folder, QStringList names, bool quiet) {
  const QString target = app.Config().RestoreFolder();
  // A folder that cannot be made is reported by the dialog's own checks.
  QDir().mkpath(target);
  if (!MarkForRestore(app, folder, names)) {
    UnmarkFolder(app, folder);
    return false;
  }
  QWidget* window = app.MainFrame();
  bool succeeded = false;
  if (quiet) {
    CAutoRestoreDlg dialog(app, target, window);
    dialog.SetQuiet(true);
    dialog.exec();
    succeeded = dialog.Succeeded();
  } else {
    // The user is looking at the target program: show where the wait comes from.
    if (window != nullptr) {
      window->raise();
      window->activateWindow();
    }
    CDropRestoreDlg dialog(app, target, window);
    dialog.exec();
    succeeded = dialog.Succeeded();
  }
  UnmarkFolder(app, folder);
  // A drop that did not deliver leaves nothing half restored behind.
  if (!quiet && !succeeded) {
    for (const QString& name : names) host::RemoveTreeAt(target.toStdString(), name.toStdString());
  }
  return succeeded;
}

}  // namespace app
