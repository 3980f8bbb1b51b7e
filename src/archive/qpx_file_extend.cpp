#include "archive/qpx_file_extend.h"

#include <new>

#include "host/string_table.h"

namespace QPXFile {
namespace {

bool IsString(uint32_t id, const std::u16string& text) {
  std::u16string value;
  return host::LoadString(id, value) && value == text;
}

}  // namespace

CQPXFileExtend::~CQPXFileExtend() {
  // The base destructor releases the stream; the sections must let go of it first.
  if (IsOpen()) DetachSections();
}

bool CQPXFileExtend::AcceptsFormatId(const std::u16string& id) const { return IsString(118, id); }

bool CQPXFileExtend::HasContent() const {
  if (CQPXFile::HasContent()) return true;
  return IsCreateMode() && io_ != nullptr && GetEntryCount() == 0 && folderList_ && folderList_->GetFolderCount() > 0;
}

bool CQPXFileExtend::AttachSections(CDividedFileIO* io) {
  try {
    fileList_ = NewFileList();
    folderList_ = NewFolderList();
    divisionInfo_ = std::make_unique<CQPXDivisionInfo>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (UsesSections()) {
    fileList_->AttachIO(io);
    folderList_->AttachIO(io);
    divisionInfo_->AttachIO(io);
  }
  return true;
}

void CQPXFileExtend::DetachSections() {
  if (fileList_) fileList_->DetachIO();
  if (folderList_) folderList_->DetachIO();
  if (divisionInfo_) divisionInfo_->DetachIO();
  fileList_.reset();
  folderList_.reset();
  divisionInfo_.reset();
  pathInformation_.Clear();
}

bool CQPXFileExtend::ReadListSection(CQPXHeader& section, const char16_t* name) {
  uint64_t position = 0;
  io_->GetPosition(position);
  error_.section = name;
  error_.offset = position;
  if (!section.PlaceAndRead()) return FailLoad(LoadFailure::kSection);
  error_.section.clear();
  error_.offset = 0;
  return true;
}

bool CQPXFileExtend::ReadSections() {
  const uint32_t level = header_->GetSectionLevel();
  if (level != 0 && !ReadListSection(*fileList_, u"FileList")) return false;
  if (level != 1 && !ReadListSection(*folderList_, u"FolderList")) return false;
  if (level != 2) {
    if (!ReadListSection(*divisionInfo_, u"Division_Info")) return false;
    if (divisionInfo_->IsSplit()) {
      uint64_t position = 0;
      if (!io_->GetPosition(position)) return FailLoad(LoadFailure::kSection);
      const uint64_t created = header_->GetCreationTime();
      QPXVolumeHead head;
      head.continued = 1;
      head.timeLow = static_cast<uint32_t>(created);
      head.timeHigh = static_cast<uint32_t>(created >> 32);
      head.valid = true;
      if (!io_->SetupDivision(head, divisionInfo_->GetVolumeSize())) {
        error_.division = io_->GetDivisionError();
        error_.volumePath = io_->GetDivisionErrorPath();
        error_.systemError = io_->GetDivisionSystemError();
        return FailLoad(LoadFailure::kVolume);
      }
      // Setting up the volumes moves the stream; the entries follow the sections.
      if (!io_->SeekTo(position)) return FailLoad(LoadFailure::kSection);
    }
  }
  return true;
}

bool CUQPXFileExtend::AttachSections(CDividedFileIO* io) {
  if (!CQPXFileExtend::AttachSections(io)) return false;
  try {
    categoryInfo_ = std::make_unique<CQPXCategoryInfo>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (UsesSections()) categoryInfo_->AttachIO(io);
  return true;
}

void CUQPXFileExtend::DetachSections() {
  CQPXFileExtend::DetachSections();
  if (categoryInfo_) categoryInfo_->DetachIO();
  categoryInfo_.reset();
}

bool CUQPXFileExtend::ReadSections() {
  if (!CQPXFileExtend::ReadSections()) return false;
  return ReadListSection(*categoryInfo_, u"CategoryInfo");
}

template <class Base>
bool CFakedArchive<Base>::Load() {
  this->error_ = LoadError{};
  if (!this->IsOpen() || this->IsCreateMode()) return this->FailLoad(LoadFailure::kNotOpen);
  if (this->loaded_) return true;
  if (!this->io_->SeekTo(0) || !this->ReadHeader()) return this->FailLoad(LoadFailure::kHeader);
  if (!this->CheckFormatId()) return this->FailLoad(LoadFailure::kFormatId);
  return true;
}

template class CFakedArchive<CQPXFileExtend>;
template class CFakedArchive<CUQPXFileExtend>;

bool CFakedQPXFile::AcceptsFormatId(const std::u16string& id) const { return IsString(118, id); }

}  // namespace QPXFile
