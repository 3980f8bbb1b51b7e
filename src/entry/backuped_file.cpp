#include "entry/backuped_file.h"

namespace QPXFile {

bool CQPXBackupedFile::Attach(CQPXBackupedFileHeader* header, CQPXBackupedFileData* data) {
  if (header == nullptr || data == nullptr) return false;
  if (header_ != header || data_ != data) Release();
  header_ = header;
  data_ = data;
  return true;
}

bool CQPXBackupedFile::AttachFrom(IQPXBackupedFileProvider& provider) {
  Release();
  CQPXBackupedFileHeader* header = provider.TakeHeader();
  CQPXBackupedFileData* data = provider.TakeData();
  if (data == nullptr) {
    delete header;
    return false;
  }
  header_ = header;
  data_ = data;
  return true;
}

void CQPXBackupedFile::Release() {
  delete header_;
  delete data_;
  header_ = nullptr;
  data_ = nullptr;
}

void CQPXBackupedFile::Reset() {
  header_ = nullptr;
  data_ = nullptr;
}

}  // namespace QPXFile
