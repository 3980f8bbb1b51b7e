// The integrity test of a backup set: every entry of the shown generation,
// or every entry any generation stored, decoded and its CRC checked. The
// command-line tool's test and the desktop program's test dialog both run it.
//
// Like the tree, the set belongs to one thread while the test runs; the
// front end hands it to its worker and leaves it alone until the test ends.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "archive/load_error_text.h"
#include "entry/entry_check.h"
#include "generations/backup_set.h"

namespace IncrementalBackup {

enum class TestScope {
  kSelectedGeneration,  // the files present in the selected generation
  kWholeSet,            // every version any generation stored, each once
};

struct DamagedEntry {
  std::u16string path;  // stored form; empty when its names cannot be read
  bool named = true;
  long source = -1;     // generation whose archive holds it; -1 for an archive alone
  bool missing = false; // the archive that should hold it lacks it
  QPXFile::EntryFault fault;
};

struct IntegrityCounts {
  long tested = 0;
  long damaged = 0;
  bool stopped = false;  // `goOn` said no before every entry was tested
};

// How many entries TestEntries would test.
long CountEntriesToTest(const CBackupSet& set, TestScope scope);

// Tests each entry of `scope` in the tree's order (an archive alone in its
// own), telling `onDamaged` of each one that fails. `goOn`, when given, is
// asked before each entry with the number tested so far; false stops.
IntegrityCounts TestEntries(const CBackupSet& set, TestScope scope,
                            const std::function<void(const DamagedEntry&)>& onDamaged,
                            const std::function<bool(long tested)>& goOn = {});

// What is wrong with `entry`: in a set, naming the archive that holds it.
std::string DamageText(const CBackupSet& set, const DamagedEntry& entry, QPXFile::Wording wording);

// The archive the load could not open, when the user chose to see the
// generations before it (the later ones were not tried): its generation
// (0-based), host path and why, in `wording`.
struct UnopenedArchive {
  long generation = 0;
  std::string path;
  std::string reason;
};
std::vector<UnopenedArchive> UnopenedArchives(const CBackupSet& set, QPXFile::Wording wording);

}  // namespace IncrementalBackup
