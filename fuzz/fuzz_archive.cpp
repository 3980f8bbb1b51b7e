// Loads an archive from arbitrary bytes and reads everything it offers:
// header, lists, entry records and every entry's data.
//
// Input: byte 0 picks how many following volume files there are (0 to 3);
// the remaining bytes are shared out among the first file and those
// volumes, so split sets with broken heads and chains get explored too.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "archive/qpx_file_extend.h"
#include "archive/qpx_file_factory.h"
#include "host/host_path.h"
#include "io/null_file_io.h"

namespace {

// Keeps nothing and stops an entry after 1 MiB, so an implode stream that
// expands hugely costs a bounded time per input.
class BoundedSink : public QPXFile::CNullFileIO {
 public:
  bool Write(const void* buffer, uint32_t length) override {
    return CNullFileIO::Write(buffer, length) && WrittenLength() <= (1u << 20);
  }
  // Each entry's extraction starts at the sink's beginning.
  bool Seek(const uint64_t&, int, bool) override {
    Rewind();
    return true;
  }
};

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

const std::string& Base() {
  static const std::string base = "/dev/shm/tessera-fuzz-" + std::to_string(::getpid()) + ".qpx";
  // The inputs' files go when the run ends, volumes included.
  static const int removed = std::atexit([] {
    std::remove(Base().c_str());
    for (int k = 1; k <= 3; ++k) std::remove((Base() + "." + std::to_string(k)).c_str());
  });
  (void)removed;
  return base;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned following = data[0] & 3;
  ++data;
  --size;
  const size_t share = size / (following + 1);
  for (unsigned k = 0; k <= following; ++k) {
    const size_t begin = k * share;
    const size_t end = k == following ? size : begin + share;
    WriteFile(k == 0 ? Base() : Base() + "." + std::to_string(k), data + begin, end - begin);
  }
  for (unsigned k = following + 1; k <= 3; ++k) std::remove((Base() + "." + std::to_string(k)).c_str());

  QPXFile::OpenResult result = QPXFile::OpenArchive(host::ToEnginePath(Base()));
  if (!result.archive) return 0;
  QPXFile::CQPXFile& archive = *result.archive;
  std::u16string text;
  archive.GetHeader()->GetDescription(text);
  if (auto* extend = dynamic_cast<QPXFile::CQPXFileExtend*>(&archive)) {
    for (int i = 0; i < extend->GetFolderList()->GetFolderCount(); ++i)
      extend->GetFolderList()->GetFolder(i, &text, nullptr, nullptr, nullptr, nullptr);
    for (int i = 0; i < extend->GetFileList()->GetFileCount(); ++i) {
      extend->GetFileList()->GetFile(i, nullptr, &text, nullptr);
      std::u16string found;
      extend->GetFileList()->FindFlaggedAncestor(text + u"\\x", found);
    }
  }
  BoundedSink sink;
  for (long i = 0; i < archive.GetEntryCount(); ++i) {
    if (archive.GetEntryPath(text, i)) archive.FindEntry(text);
    uint32_t crc = 0;
    archive.GetEntryData(i)->Extract(sink, crc, {});
  }
  archive.ComputeCRC();
  archive.Close();
  return 0;
}
