// An archive made of a chosen part of other archives, for restoring just
// that part: its folder list holds the chosen folders with their attributes
// and times, and its entry table the chosen stored entries, which stay owned
// by the archives they come from. It behaves like an open, loaded archive in
// read mode and is never opened, loaded or closed itself; those archives must
// outlive it.
#pragma once

#include <string>

#include "archive/qpx_file_extend.h"

namespace QPXFile {

class CRestoreSelectionQPXFileExtend : public CQPXFileExtend {
 public:
  CRestoreSelectionQPXFileExtend();
  ~CRestoreSelectionQPXFileExtend() override;

  bool Open(const std::u16string&, uint16_t) override { return false; }
  bool Close() override { return true; }
  bool GetPathName(std::u16string& out) const override {
    out = name_;
    return true;
  }
  bool IsOpen() const override { return true; }
  bool IsLoaded() const override { return true; }
  uint16_t GetOpenMode() const override { return kModeRead; }
  bool Load() override { return true; }
  bool IsCreateMode() const override { return false; }
  bool IsReadMode() const override { return true; }

  // The name callers show and log for this archive.
  void SetName(std::u16string name) { name_ = std::move(name); }
  // Adds a folder to the folder list (paths are kept as UTF-16, whatever the
  // source archive's encoding was).
  bool AddFolder(std::u16string_view path, uint32_t attributes, uint64_t creation, uint64_t lastAccess,
                 uint64_t lastWrite);
  // Adds a stored entry of another archive; it must be valid and give its
  // full path. Only the pointer is kept.
  bool AddStoredEntry(IQPXBackupedFile* entry) { return AppendEntry(entry); }
  // Lends another archive's file list for this object's lifetime.
  void LendFileList(CQPXFileList* list) { lentFileList_ = list; }
  CQPXFileList* GetLentFileList() const { return lentFileList_; }

 private:
  std::u16string name_;
  CQPXFileList* lentFileList_ = nullptr;
};

// Gathers the part of `source` that lies at or below `path` (a stored folder
// or file path, matched ignoring case) into `out`: the folder itself and
// every folder below it, and every entry in them (or the one entry `path`
// names). False when nothing matches.
bool SelectFromArchive(CQPXFileExtend& source, std::u16string_view path, CRestoreSelectionQPXFileExtend& out);

}  // namespace QPXFile
