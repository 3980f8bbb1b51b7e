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

static_assert(sizeof(CUQPXBackupedFileHeader) == sizeof(CQPXBackupedFileHeader));
static_assert(sizeof(CQPXBackupedNoCompressedFileData) == sizeof(CQPXBackupedFileData));

CQPXReadBackupedFile::CQPXReadBackupedFile(bool unicodeNames) {
  if (unicodeNames)
    new (header_) CUQPXBackupedFileHeader();
  else
    new (header_) CQPXBackupedFileHeader();
  new (data_) CQPXBackupedNoCompressedFileData();
}

CQPXReadBackupedFile::~CQPXReadBackupedFile() {
  GetData()->~CQPXBackupedFileData();
  GetHeader()->~CQPXBackupedFileHeader();
}

CQPXBackupedFileHeader* CQPXReadBackupedFile::GetHeader() const {
  return std::launder(reinterpret_cast<CQPXBackupedFileHeader*>(const_cast<unsigned char*>(header_)));
}

CQPXBackupedFileData* CQPXReadBackupedFile::GetData() const {
  return std::launder(reinterpret_cast<CQPXBackupedFileData*>(const_cast<unsigned char*>(data_)));
}

void CQPXReadBackupedFile::ChooseDataKind() {
  GetData()->~CQPXBackupedFileData();
  if (GetHeader()->IsCompressed())
    new (data_) CQPXBackupedFileData();
  else
    new (data_) CQPXBackupedNoCompressedFileData();
}

}  // namespace QPXFile
