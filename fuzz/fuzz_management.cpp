// Loads a management file from arbitrary bytes and walks everything it holds,
// lookups included.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "generations/qpm_file.h"
#include "host/host_path.h"

namespace {

const std::string& Base() {
  static const std::string base = "/dev/shm/tessera-fuzz-" + std::to_string(::getpid()) + ".qpm";
  return base;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(Base().c_str(), "wb");
  if (f == nullptr) return 0;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);

  QPMFile::CQPMFile file;
  if (!file.Open(host::ToEnginePath(Base()))) return 0;
  if (!file.Load()) return 0;
  for (long g = 0; g < file.GetArchiveCount(); ++g) file.GetArchive(g);
  QPMFile::RecordCursor cursor;
  for (int t = 0; t < 2; ++t) {
    for (const auto& folder : file.GetFolderTable(t)) file.FindFolderRecord(t, folder->Path, cursor);
    for (const auto& record : file.GetFileTable(t)) file.FindFileRecord(t, record->Path, cursor);
  }
  file.Reset();
  return 0;
}
