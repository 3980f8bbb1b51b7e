// The restore behind opening a file from the list and behind a drag out of
// it: the entries, as a selection, are restored into the temporary restore
// folder by the automatic restore dialog.
//
// The temporary restore folder is this user's alone. Below the temporary
// folder setting (by default a per-user place) it is "TesseraRestore" when
// nobody else can add names there, or a folder with a new unpredictable name
// made in this run when the setting names a shared place such as /tmp. It is
// made 0700, checked by descriptor before every use, and removed at exit by
// descriptor, without following links and without changing any mode.
// Copies are kept per generation and pane folder below it
// ("TesseraRestore/<generation>/C/Data/a.txt"), so no copy of another
// generation or folder is ever taken for the one asked for.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace app {

class CQPXManagerApp;

// Shown when the temporary restore folder cannot be made or is not private.
inline constexpr int kTemporaryFolderRefused = 199;

// `folder` is the pane path the entries are in ("C:\Data"), `names` their
// texts; both are taken by value, so a caller that goes away while the
// dialog runs takes nothing with it. Quiet: the dialog stays hidden and
// raises no error box (opening a file), and the restored file is made
// read-only; otherwise the dialog is shown over the main window, which is
// brought to the front first (a drop). True when the restore succeeded;
// what a drop's restore that failed or was cancelled left is removed again.
// With `generation` (1-based; 0: the shown one) the files are restored as
// that generation holds them, into that generation's copies.
bool RunTemporaryRestore(CQPXManagerApp& app, QString folder, QStringList names, bool quiet, long generation = 0);

// The host folder the entries of pane folder `folder` of the shown
// generation are restored into. Makes the temporary restore folder when
// this run has none yet; empty when it cannot be had.
QString TemporaryCopyFolder(CQPXManagerApp& app, const QString& folder, long generation = 0);

// Removes every temporary restore folder this run made, with what it holds.
// Safe to call more than once; also runs when the process ends through
// exit() (Qt ends that way when the X connection is lost).
void RemoveTemporaryFolders();

}  // namespace app
