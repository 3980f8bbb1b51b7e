#include "app/temporary_restore.h"

#include <QDir>

#include "app/main_frame.h"
#include "app/qpx_manager_app.h"

namespace app {

bool RunTemporaryRestore(CQPXManagerApp& app, const QString& folder, const QStringList& names, bool quiet) {
  (void)app;
  (void)folder;
  (void)names;
  (void)quiet;
  return false;
}

}  // namespace app
