// A stored file: its record and its data section.
#pragma once

#include "entry/backuped_file_data.h"
#include "entry/backuped_file_header.h"

namespace QPXFile {

// Something that can hand out a record and a data section (used by AttachFrom).
class IQPXBackupedFileProvider {
 public:
  virtual ~IQPXBackupedFileProvider() = default;
  virtual CQPXBackupedFileHeader* TakeHeader() = 0;
  virtual CQPXBackupedFileData* TakeData() = 0;
};

class IQPXBackupedFile {
 public:
  virtual ~IQPXBackupedFile() = default;
  virtual bool Attach(CQPXBackupedFileHeader* header, CQPXBackupedFileData* data) = 0;
  virtual bool AttachFrom(IQPXBackupedFileProvider& provider) = 0;
  virtual void Release() = 0;
  virtual void Reset() = 0;
  virtual CQPXBackupedFileHeader* GetHeader() const = 0;
  virtual CQPXBackupedFileData* GetData() const = 0;
  virtual bool IsValid() const = 0;
};

class CQPXBackupedFile : public IQPXBackupedFile {
 public:
  CQPXBackupedFile() = default;
  CQPXBackupedFile(const CQPXBackupedFile&) = delete;
  CQPXBackupedFile& operator=(const CQPXBackupedFile&) = delete;
  ~CQPXBackupedFile() override { Release(); }

  // Takes ownership of both; fails (taking nothing) when either is missing.
  bool Attach(CQPXBackupedFileHeader* header, CQPXBackupedFileData* data) override;
  bool AttachFrom(IQPXBackupedFileProvider& provider) override;
  void Release() override;
  void Reset() override;
  CQPXBackupedFileHeader* GetHeader() const override { return header_; }
  CQPXBackupedFileData* GetData() const override { return data_; }
  bool IsValid() const override { return header_ != nullptr && data_ != nullptr; }

 private:
  CQPXBackupedFileHeader* header_ = nullptr;  // owned
  CQPXBackupedFileData* data_ = nullptr;      // owned
};

}  // namespace QPXFile
