// Test-only writer of whole backup sets: one archive per generation and the
// management file, derived from a plain description of what each generation
// held. The management file's tables and updates follow from comparing
// neighbouring generations, the way the backup product records them:
//   - an object present for the first time, or again after a removal: stored (kind 1);
//   - a file whose contents, method, attributes or times changed (or marked
//     storeAgain): stored again, and its entry is in that generation's archive;
//   - an unchanged object: no update, and no entry in the later archive;
//   - an object gone since the previous generation: removed (kind 3).
// Every archive's folder list holds all folders present in its generation, so
// each folder update can be answered from the archive it names.
//
// Example:
//   testsupport::BackupSetSpec set;
//   set.generations.resize(2);
//   set.generations[0].folders = {{u"C:\\Data"}};
//   set.generations[0].files = {{u"C:\\Data\\a.txt", Bytes("one")}};
//   set.generations[1] = set.generations[0];
//   set.generations[1].files[0].data = Bytes("two");           // stored again
//   testsupport::BackupSetFiles out = testsupport::WriteBackupSet(set, dir);
//   // out.archives[0] == dir/"set.qpx", out.archives[1] == dir/"set_2.qpi", out.management == dir/"set.qpm"
//
// Damage is declared in the description (missing, overwritten, gaps, case,
// duplicate updates) or applied afterwards to out.managementPlan and written
// again with WriteManagement.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/archive_writer.h"
#include "support/management_writer.h"

namespace testsupport {

struct SetFolder {
  std::u16string path;  // drive-rooted engine form, "C:\\Data"
  uint32_t attributes = 0x10;
  uint64_t created = 0, accessed = 0, modified = 0;
};

struct SetFile {
  std::u16string path;  // drive-rooted engine form, "C:\\Data\\a.txt"; "C:\\a.txt" for a root file
  std::vector<uint8_t> data;
  Method method = Method::Stored;
  uint32_t attributes = 0x20;
  uint64_t created = 0, accessed = 0, modified = 0;
  bool storeAgain = false;  // stored in this generation even when nothing changed
};

struct SetGeneration {
  std::vector<SetFolder> folders;
  std::vector<SetFile> files;
  std::string formatId = "QPX3.0  ";
  uint64_t creationTime = 0;  // 0: kSetBaseTime + one day per generation
  std::vector<CategoryItem> categoryItems;  // Unicode archives only
  // Flagged file-list records; empty: every folder whose parent is not a folder of the generation.
  std::vector<std::u16string> fileListRoots;
};

enum class ArchivePathForm {
  DriveRooted,  // the engine path of the archive, "Z:\\tmp\\x\\set.qpx"
  Relative,     // the bare file name, "set.qpx"
  DotRelative,  // ".\\set.qpx"
};

enum class PathCase { AsGiven, Upper, Lower };

// An extra update written right after the last update of `path` whose
// generation is at or before `generation` (so two updates may share one).
struct ExtraUpdate {
  std::u16string path;
  uint16_t generation = 0;
  uint16_t kind = 1;
};

// An entry the management file says is stored in `generation` but whose
// archive lacks it.
struct EntryGap {
  unsigned generation = 0;
  std::u16string path;
};

inline constexpr uint64_t kSetBaseTime = 132000000000000000ull;
inline constexpr uint64_t kSetDay = 864000000000ull;

struct BackupSetSpec {
  std::string name = "set";
  std::vector<SetGeneration> generations;

  // The management file.
  bool writeManagement = true;
  std::string version = kManage30;
  ArchivePathForm archivePaths = ArchivePathForm::DriveRooted;
  bool splitTables = false;  // records first seen after generation 0 go to the second tables
  uint8_t compress = 0;
  std::vector<ManagementCategoryItem> managementCategoryItems;  // written by version 2.0 only

  // Damage.
  std::vector<unsigned> missingArchives;      // not written at all
  std::vector<unsigned> overwrittenArchives;  // written with a creation time the management file does not record
  std::vector<EntryGap> gaps;
  PathCase managementCase = PathCase::AsGiven;  // folder and file record paths in the management file
  std::vector<ExtraUpdate> extraUpdates;
};

struct BackupSetFiles {
  std::vector<std::filesystem::path> archives;  // generation i, written or not
  std::filesystem::path management;             // written unless writeManagement is off
  ManagementSpec managementPlan;                // what was (or would have been) written
};

// The file name of generation i: "<name>.qpx", then "<name>_2.qpi", "<name>_3.qpi" ...
std::string GenerationFileName(const BackupSetSpec& set, unsigned generation);
// The creation time generation i records.
uint64_t GenerationTime(const BackupSetSpec& set, unsigned generation);

// The archive of generation i as written (the entries stored in it).
ArchiveSpec GenerationArchive(const BackupSetSpec& set, unsigned generation);
// The management file's content for archives placed in `folder`.
ManagementSpec SetManagement(const BackupSetSpec& set, const std::filesystem::path& folder);

// Four generations of C:\Data that exercise every kind of update:
//   gen 0: folders Data, Data\Old; files a.txt "a0", keep.txt "k", Old\b.txt "b0"
//   gen 1: a.txt "a1" (stored again), b.txt removed, c.txt "c1" added
//   gen 2: Old removed, New added with New\d.txt (imploded); nothing else changes
//   gen 3: Old and Old\b.txt "b3" added again, a.txt "a3", c.txt removed
// keep.txt is stored in generation 0 only. Management version 3.0.
BackupSetSpec SampleBackupSet();

// Writes every archive and the management file into `folder` (created when
// missing). Throws std::invalid_argument for a description that cannot be
// written (a path that is not drive-rooted, a file listed twice).
BackupSetFiles WriteBackupSet(const BackupSetSpec& set, const std::filesystem::path& folder);

}  // namespace testsupport
