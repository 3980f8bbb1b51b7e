// Loads an archive from arbitrary bytes and reads everything it offers:
// header, lists, entry records and every entry's data.
//
// Input: byte 0 picks how many following volume files there are (0 to 3);
// the remaining bytes are shared out among the first file and those
// volumes, so split sets with broken heads and chains get explored too.
#include <cstdint>
#include <string>
#include <vector>

#include "archive/qpx_file_extend.h"
#include "archive/qpx_file_factory.h"
#include "io/null_file_io.h"
#include "io/volume_source.h"

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

// The input's files live in memory only, under a path no host file has.
const std::u16string kBase = u"Z:\\fuzz\\input.qpx";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned following = data[0] & 3;
  ++data;
  --size;
  const size_t share = size / (following + 1);
  QPXFile::CMemoryVolumes volumes;
  for (unsigned k = 0; k <= following; ++k) {
    const size_t begin = k * share;
    const size_t end = k == following ? size : begin + share;
    volumes.Add(k == 0 ? kBase : kBase + u"." + std::u16string(1, static_cast<char16_t>(u'0' + k)),
                std::vector<uint8_t>(data + begin, data + end));
  }
  QPXFile::CScopedVolumeSource source(volumes);

  QPXFile::OpenResult result = QPXFile::OpenArchive(kBase);
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
