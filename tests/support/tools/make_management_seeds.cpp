// Writes management files of a four-generation set as fuzzing seeds, every
// version, with the checksum field 0 so that mutated copies still load:
//   tessera-make-management-seeds OUTDIR
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "support/backup_set_writer.h"
#include "support/management_writer.h"

namespace {

void Write(testsupport::BackupSetSpec set, const std::filesystem::path& path) {
  testsupport::ManagementSpec plan = testsupport::SetManagement(set, path.parent_path());
  plan.checksum = 0;
  testsupport::WriteManagement(plan, path);
  std::printf("%s\n", path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  try {
    using namespace testsupport;
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    const char* versions[] = {kManage30, kManage20, kManage11, kManage10};
    const char* names[] = {"set-3.0.qpm", "set-2.0.qpm", "set-1.1.qpm", "set-1.0.qpm"};
    for (int i = 0; i < 4; ++i) {
      BackupSetSpec set = SampleBackupSet();
      set.version = versions[i];
      Write(set, folder / names[i]);
    }
    BackupSetSpec split = SampleBackupSet();
    split.splitTables = true;
    split.managementCase = PathCase::Upper;
    split.extraUpdates = {{u"C:\\Data\\a.txt", 1, 3}, {u"C:\\Data\\keep.txt", 0, 1}};
    Write(split, folder / "set-split-upper.qpm");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
