// What a restore restores: a selection value the restore job takes, made
// from entries a pane hands over. Nothing here marks the loaded set's tree:
// the marks are the job's own business.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "generations/restore_job.h"

namespace app {

class CQPXManagerApp;

// The entries `names` of pane folder `folder` present in the shown
// generation, as a selection; empty when none is. With `generation`
// (1-based) another than the shown one, the files among them present there,
// taken from that generation.
IncrementalBackup::RestoreSelection SelectEntries(const CQPXManagerApp& app, const QString& folder,
                                                  const QStringList& names, long generation = 0);
// Whether the selection takes a folder.
bool HoldsFolder(const CQPXManagerApp& app, const IncrementalBackup::RestoreSelection& selection);
// The bytes the selection restores, read without marking anything.
uint64_t SelectionBytes(const CQPXManagerApp& app, const IncrementalBackup::RestoreSelection& selection);

// The pane path of an entry in a folder.
QString EntryPath(const QString& folder, const QString& name);

}  // namespace app
