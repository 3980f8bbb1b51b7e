#include "archive/archive_facts.h"

#include "archive/qpx_file_extend.h"

namespace QPXFile {

std::vector<std::string> SectionsPresent(const CQPXFile& archive) {
  std::vector<std::string> sections{"Header"};
  // The base kind and the header-only kinds read no list sections.
  if (dynamic_cast<const CQPXFileExtend*>(&archive) == nullptr ||
      dynamic_cast<const CFakedQPXFile*>(&archive) != nullptr ||
      dynamic_cast<const CFakedUQPXFile*>(&archive) != nullptr)
    return sections;
  const uint32_t level = archive.GetHeader()->GetSectionLevel();
  if (level != 0) sections.push_back("FileList");
  if (level != 1) sections.push_back("FolderList");
  if (level != 2) sections.push_back("Division_Info");
  if (dynamic_cast<const CUQPXFileExtend*>(&archive) != nullptr) sections.push_back("CategoryInfo");
  return sections;
}

SplitFacts SplitOf(const CQPXFile& archive) {
  SplitFacts facts;
  const auto* extend = dynamic_cast<const CQPXFileExtend*>(&archive);
  if (extend != nullptr && extend->GetDivisionInfo() != nullptr && archive.IsLoaded()) {
    facts.split = extend->GetDivisionInfo()->IsSplit();
    facts.volumeSize = extend->GetDivisionInfo()->GetVolumeSize();
  }
  if (archive.GetIO() != nullptr && archive.GetIO()->IsSplit()) facts.volumes = archive.GetIO()->GetVolumeCount();
  return facts;
}

}  // namespace QPXFile
