// What a restore restores: a selection value the restore job takes, made
// from entries a pane hands over or from the marks on the loaded set's
// tree. Marking checks the entry's node (a folder with everything below
// it); the folder tree pane hears nothing of it meanwhile.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "generations/restore_job.h"

namespace app {

class CQPXManagerApp;

// Marks each of `names` in `folder` (a pane path such as "C:\Data") and
// makes `folder` the application's current folder, the base the restore
// places the entries below its target by. False when nothing could be
// marked (no set loaded, or no name present in the generation).
bool MarkForRestore(CQPXManagerApp& app, const QString& folder, const QStringList& names);

// Unmarks `folder` and everything below it.
void UnmarkFolder(CQPXManagerApp& app, const QString& folder);

// The entries `names` of pane folder `folder` present in the shown
// generation, as a selection; empty when none is. With `generation`
// (1-based) another than the shown one, the files among them present there,
// taken from that generation.
IncrementalBackup::RestoreSelection SelectEntries(const CQPXManagerApp& app, const QString& folder,
                                                  const QStringList& names, long generation = 0);
// Whether the selection takes a folder.
bool HoldsFolder(const CQPXManagerApp& app, const IncrementalBackup::RestoreSelection& selection);
// What is marked in the application's current folder, as a selection.
IncrementalBackup::RestoreSelection MarkedSelection(const CQPXManagerApp& app);
// The bytes the selection restores, read without marking anything.
uint64_t SelectionBytes(const CQPXManagerApp& app, const IncrementalBackup::RestoreSelection& selection);

// The pane path of an entry in a folder.
QString EntryPath(const QString& folder, const QString& name);

}  // namespace app
