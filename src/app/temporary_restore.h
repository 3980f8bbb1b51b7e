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

#include "generations/restore_job.h"

class QWidget;

namespace app {

class CQPXManagerApp;

// Entries of one pane folder as they were when the user acted on them. A
// restore run later (a paste long after the copy, when another generation
// is shown or the temporary folder setting changed) restores exactly these,
// into exactly the folder their file list named.
struct TemporaryEntries {
  QString folder;  // the pane path they are in ("C:\Data")
  QStringList names;
  long generation = 0;                            // shown, 1-based
  IncrementalBackup::RestoreSelection selection;  // their stored paths in it
  QString tempSetting;                            // the temporary folder setting then
  QString copyFolder;  // the host folder they are restored into; empty: none can be had
  bool holdsFolder = false;  // a folder is restored only from the generation shown
};

// The entries `names` of pane folder `folder` of the generation shown now,
// or with `generation` (1-based) the files among them as that one holds them.
TemporaryEntries CaptureEntries(CQPXManagerApp& app, QString folder, QStringList names, long generation = 0);

// Restores captured entries into their copy folder. Quiet: the dialog stays
// hidden and raises no error box (opening a file), and the restored file is
// made read-only; otherwise the dialog is shown over the main window, which
// is brought to the front first (a drop or a paste). True when the restore
// succeeded; what such a restore that failed or was cancelled left is
// removed again. Nothing is restored without a loaded set.
bool RunTemporaryRestore(CQPXManagerApp& app, const TemporaryEntries& entries, bool quiet);

// Removes every temporary restore folder this run made, with what it holds.
// Safe to call more than once; also runs when the process ends through
// exit() (Qt ends that way when the X connection is lost).
void RemoveTemporaryFolders();

}  // namespace app
