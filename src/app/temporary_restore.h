// The restore behind opening a file from the list and behind a drag out of
// it: the entries are marked, restored into the temporary restore folder
// ("TesseraRestore" below the temporary-folder setting) by the automatic
// restore dialog, and unmarked again.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace app {

class CQPXManagerApp;

// `folder` is the pane path the entries are in ("C:\Data"), `names` their
// texts. Quiet: the dialog stays hidden and raises no error box (opening a
// file); otherwise it is shown over the main window, which is brought to the
// front first (a drop). True when the restore succeeded; what a drop's
// restore that failed or was cancelled left is removed again. The arguments
// are copies: a drop's own may be deleted while the restore runs.
bool RunTemporaryRestore(CQPXManagerApp& app, QString folder, QStringList names, bool quiet);

}  // namespace app
