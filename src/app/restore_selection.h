// Marking entries of the loaded set's tree for a restore. Marking checks
// the entry's node (a folder with everything below it); the folder tree
// pane hears nothing of it meanwhile.
#pragma once

#include <QString>
#include <QStringList>

namespace app {

class CQPXManagerApp;

// Marks each of `names` in `folder` (a pane path such as "C:\Data") and
// makes `folder` the application's current folder, the base the restore
// places the entries below its target by. False when nothing could be
// marked (no set loaded, or no name present in the generation).
bool MarkForRestore(CQPXManagerApp& app, const QString& folder, const QStringList& names);

// Unmarks `folder` and everything below it.
void UnmarkFolder(CQPXManagerApp& app, const QString& folder);

// The pane path of an entry in a folder.
QString EntryPath(const QString& folder, const QString& name);

}  // namespace app
