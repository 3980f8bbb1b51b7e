#include "archive/qpx_file_factory.h"

#include <cerrno>
#include <new>

#include "archive/qpx_file_extend.h"
#include "host/string_ids.h"
#include "host/string_table.h"
#include "io/qpx_file_io.h"

namespace QPXFile {
namespace {

// The identifier texts, loaded once for the process. A magic static, since
// archives are opened from worker threads as well as from the first caller.
struct Identifiers {
  std::u16string qpx1, qpx2, qpx3, faked1, faked2;
  bool loaded = false;
};

Identifiers LoadIdentifiers() {
  namespace S = host::StringId;
  Identifiers ids;
  // The version texts are not kept, but a table without them is no table.
  std::u16string version;
  ids.loaded = host::LoadString(S::kQpx1Id, ids.qpx1) && host::LoadString(S::kQpx2Id, ids.qpx2) &&
               host::LoadString(S::kQpx3Id, ids.qpx3) && host::LoadString(S::kFakedQpx1Id, ids.faked1) &&
               host::LoadString(S::kQpx1Version, version) && host::LoadString(S::kQpx2Version, version) &&
               host::LoadString(S::kQpx3Version, version) && host::LoadString(S::kFakedQpx2Id, ids.faked2);
  return ids;
}

const Identifiers& Ids() {
  static const Identifiers ids = LoadIdentifiers();
  return ids;
}

}  // namespace

CQPXFileFactory::CQPXFileFactory() { Ids(); }

CQPXFile* CQPXFileFactory::CreateFromFormatId(const std::u16string& formatId, const std::u16string&) {
  const Identifiers& ids = Ids();
  if (!ids.loaded) return nullptr;
  if (formatId == ids.qpx3) return new (std::nothrow) CUQPXFileExtend();
  if (formatId == ids.qpx2 || formatId == ids.qpx1) return new (std::nothrow) CQPXFileExtend();
  if (formatId == ids.faked1) return new (std::nothrow) CFakedQPXFile();
  if (formatId == ids.faked2) return new (std::nothrow) CFakedUQPXFile();
  return nullptr;
}

CQPXFileHeader* CQPXFileFactory::ReadHeader(const std::u16string& path) {
  if (!Ids().loaded) return nullptr;
  CQPXFileIO stream;
  if (!stream.Open(path, kModeRead)) return nullptr;
  auto* header = new (std::nothrow) CQPXFileHeader();
  if (header == nullptr) return nullptr;
  header->AttachIO(&stream);
  const bool ok = stream.SeekTo(0) && header->MarkStart() && header->ReadSection();
  header->DetachIO();
  stream.Close();
  if (!ok) {
    delete header;
    return nullptr;
  }
  return header;
}

CQPXFile* CQPXFileFactory::CreateFromFile(const std::u16string& path) {
  std::unique_ptr<CQPXFileHeader> header(ReadHeader(path));
  if (!header) return nullptr;
  std::u16string formatId, version;
  if (!header->GetFormatId(formatId) || !header->GetVersionText(version)) return nullptr;
  return CreateFromFormatId(formatId, version);
}

OpenResult OpenArchive(const std::u16string& path) {
  OpenResult result;
  {
    CQPXFileIO probe;
    if (!probe.Open(path, kModeRead)) {
      result.failure = OpenFailure::kCannotOpen;
      result.systemError = probe.GetSystemError();
      return result;
    }
    probe.Close();
  }
  CQPXFileFactory factory;
  std::unique_ptr<CQPXFile> archive(factory.CreateFromFile(path));
  if (!archive) {
    result.failure = OpenFailure::kNotAnArchive;
    return result;
  }
  if (!archive->Open(path, kModeRead)) {
    result.failure = OpenFailure::kCannotOpen;
    result.systemError = archive->GetLoadError().systemError;
    return result;
  }
  if (!archive->Load()) {
    result.failure = OpenFailure::kLoad;
    result.load = archive->GetLoadError();
    return result;
  }
  result.archive = std::move(archive);
  return result;
}

}  // namespace QPXFile
