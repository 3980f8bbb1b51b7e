// A stored file: its record and its data section.
#pragma once

#include <new>

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

// An entry as an archive reads it: the record and the data section live in
// the entry itself, so an archive of a million entries holds them in one
// block instead of making three allocations per entry. The two sections are
// the entry's for its whole life: Attach and AttachFrom refuse other ones,
// and Release and Reset leave them in place.
class CQPXReadBackupedFile final : public IQPXBackupedFile {
 public:
  // The record class the archive reads (Unicode names or code page bytes).
  explicit CQPXReadBackupedFile(bool unicodeNames);
  CQPXReadBackupedFile(const CQPXReadBackupedFile&) = delete;
  CQPXReadBackupedFile& operator=(const CQPXReadBackupedFile&) = delete;
  ~CQPXReadBackupedFile() override;

  bool Attach(CQPXBackupedFileHeader*, CQPXBackupedFileData*) override { return false; }
  bool AttachFrom(IQPXBackupedFileProvider&) override { return false; }
  void Release() override {}
  void Reset() override {}
  CQPXBackupedFileHeader* GetHeader() const override;
  CQPXBackupedFileData* GetData() const override;
  bool IsValid() const override { return true; }

  // Makes the data section anew, of the kind the record asks for: once the
  // record has been read, before the data section is used.
  void ChooseDataKind();

 private:
  // The Unicode record and the stored kind only override behaviour, so each
  // kind fits the space of its base class.
  alignas(CQPXBackupedFileHeader) unsigned char header_[sizeof(CQPXBackupedFileHeader)];
  alignas(CQPXBackupedFileData) unsigned char data_[sizeof(CQPXBackupedFileData)];
};

}  // namespace QPXFile
