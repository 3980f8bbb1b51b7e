// Writes the sample archives, and a backup set of four generations in OUTDIR/set,
// into a folder, for trying the tools by hand:
//   tessera-make-sample OUTDIR
#include <cstdio>
#include <exception>
#include <filesystem>

#include "support/archive_writer.h"
#include "support/backup_set_writer.h"
#include "support/samples.h"

namespace {

void Write(const testsupport::ArchiveSpec& plan, const std::filesystem::path& path) {
  testsupport::WriteArchive(plan, path);
  for (unsigned k = 0;; ++k) {
    const std::filesystem::path volume = testsupport::VolumePath(path, k);
    if (!std::filesystem::exists(volume) || (k > 0 && plan.volumeSize == 0)) break;
    std::printf("%s\n", volume.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  try {
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    Write(testsupport::SampleArchive(), folder / "sample.qpx");
    Write(testsupport::SampleAnsiArchive(), folder / "sample-ansi.qpx");
    Write(testsupport::SampleSplitArchive(), folder / "sample-split.qpx");
    const testsupport::BackupSetFiles set = testsupport::WriteBackupSet(testsupport::SampleBackupSet(), folder / "set");
    for (const auto& archive : set.archives) std::printf("%s\n", archive.c_str());
    std::printf("%s\n", set.management.c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
