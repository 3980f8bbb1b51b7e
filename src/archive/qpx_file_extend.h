// Archive classes with list sections: the ANSI extended archive, the Unicode
// archive and the two header-only kinds.
#pragma once

#include <memory>

#include "archive/category_info.h"
#include "archive/file_list.h"
#include "archive/folder_list.h"
#include "archive/qpx_file.h"
#include "io/division_info.h"
#include "paths/path.h"

namespace QPXFile {

// The ANSI archive with a file list, a folder list and a division info. It
// also reads "QPX1.0  " archives.
class CQPXFileExtend : public CQPXFile {
 public:
  ~CQPXFileExtend() override;

  bool HasContent() const override;
  bool AttachSections(CDividedFileIO* io) override;
  void DetachSections() override;
  bool ReadSections() override;

  CQPXFileList* GetFileList() const { return fileList_.get(); }
  CQPXFolderList* GetFolderList() const { return folderList_.get(); }
  CQPXDivisionInfo* GetDivisionInfo() const { return divisionInfo_.get(); }
  // Paths a restore run of this archive leaves out.
  paths::CPathInformationArray& GetPathInformation() { return pathInformation_; }
  const paths::CPathInformationArray& GetPathInformation() const { return pathInformation_; }

 protected:
  uint32_t FormatIdString() const override { return 116; }
  uint32_t VersionTextString() const override { return 117; }
  uint32_t SectionLevelValue() const override { return 3; }
  bool AcceptsFormatId(const std::u16string& id) const override;

  // The section kinds of this class.
  virtual std::unique_ptr<CQPXFileList> NewFileList() const { return std::make_unique<CQPXFileList>(); }
  virtual std::unique_ptr<CQPXFolderList> NewFolderList() const { return std::make_unique<CQPXFolderList>(); }
  // Whether the sections are bound to the stream and read.
  virtual bool UsesSections() const { return true; }

  // Reads one list section at the stream's position; records where it was
  // for the error report.
  bool ReadListSection(CQPXHeader& section, const char16_t* name);

  std::unique_ptr<CQPXFileList> fileList_;
  std::unique_ptr<CQPXFolderList> folderList_;
  std::unique_ptr<CQPXDivisionInfo> divisionInfo_;
  paths::CPathInformationArray pathInformation_;
  // Used by the restore driver.
  uint8_t restoreFlagA_ = 0;
  uint8_t restoreFlagB_ = 1;
};

// The Unicode archive: UTF-16 names, description and lists, and a category info.
class CUQPXFileExtend : public CQPXFileExtend {
 public:
  bool AttachSections(CDividedFileIO* io) override;
  void DetachSections() override;
  bool ReadSections() override;

  CQPXUnicodeFileList* GetUnicodeFileList() const { return static_cast<CQPXUnicodeFileList*>(fileList_.get()); }
  CUQPXFolderList* GetUnicodeFolderList() const { return static_cast<CUQPXFolderList*>(folderList_.get()); }
  CQPXCategoryInfo* GetCategoryInfo() const { return categoryInfo_.get(); }

 protected:
  std::unique_ptr<CQPXFileHeader> NewHeader() const override { return std::make_unique<CUQPXFileHeader>(); }
  bool UnicodeEntryNames() const override { return true; }
  uint32_t FormatIdString() const override { return 121; }
  uint32_t VersionTextString() const override { return 123; }
  uint32_t SectionLevelValue() const override { return 4; }
  bool AcceptsFormatId(const std::u16string&) const override { return false; }
  std::unique_ptr<CQPXFileList> NewFileList() const override { return std::make_unique<CQPXUnicodeFileList>(); }
  std::unique_ptr<CQPXFolderList> NewFolderList() const override { return std::make_unique<CUQPXFolderList>(); }

  std::unique_ptr<CQPXCategoryInfo> categoryInfo_;
};

// Header-only behaviour shared by both faked kinds: no entries, no sections
// read, and Load reads the header alone each time.
template <class Base>
class CFakedArchive : public Base {
 public:
  bool Load() override;
  bool HasContent() const override { return this->IsCreateMode(); }

  IQPXBackupedFile* GetEntry(long) const override { return nullptr; }
  CQPXBackupedFileHeader* GetEntryHeader(long) const override { return nullptr; }
  CQPXBackupedFileData* GetEntryData(long) const override { return nullptr; }
  bool GetEntryPath(std::u16string& out, long) const override {
    out.clear();
    return false;
  }
  long GetEntryCount() const override { return 0; }
  long FindEntry(const std::u16string&) const override { return -1; }
  bool GetTotalFileSize(uint64_t& out) const override {
    out = 0;
    return true;
  }
  bool GetTotalStoredSize(uint64_t& out) const override {
    out = 0;
    return true;
  }

 protected:
  bool UsesSections() const override { return false; }
};

class CFakedQPXFile : public CFakedArchive<CQPXFileExtend> {
 protected:
  uint32_t FormatIdString() const override { return 122; }
  uint32_t VersionTextString() const override { return 116; }
  uint32_t SectionLevelValue() const override { return 0; }
  bool AcceptsFormatId(const std::u16string& id) const override;
};

class CFakedUQPXFile : public CFakedArchive<CUQPXFileExtend> {
 protected:
  uint32_t FormatIdString() const override { return 124; }
  uint32_t VersionTextString() const override { return 121; }
  uint32_t CompressionTextString() const override { return 126; }
  uint32_t SectionLevelValue() const override { return 0; }
  std::unique_ptr<CQPXFileList> NewFileList() const override { return std::make_unique<CUQPXFileList>(); }
};

}  // namespace QPXFile
