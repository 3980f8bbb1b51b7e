// Loads a management file from arbitrary bytes and walks everything it holds,
// lookups included; a file that loads is then built into the merged tree and
// switched through every generation, checked and unchecked, and turned into a
// restore archive. Generations answer from nothing: no archive exists, every
// entry is missing, and folders get attributes made from their path (a few
// are refused, so a build also fails part-way).
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "generations/generation_lookup.h"
#include "generations/qpm_file.h"
#include "generations/restore_tree.h"
#include "io/volume_source.h"

namespace {

// The input's file lives in memory only, under a path no host file has.
const std::u16string kPath = u"Z:\\fuzz\\input.qpm";

class EmptyGenerations : public IncrementalBackup::IGenerationLookup {
 public:
  explicit EmptyGenerations(const QPMFile::CQPMFile& file) : file_(file) {}
  const QPMFile::CQPMFile& GetManagement() const override { return file_; }
  long GetGenerationCount() const override { return file_.GetArchiveCount(); }
  QPXFile::CQPXFile* GetGenerationArchive(long) const override { return nullptr; }
  QPXFile::IQPXBackupedFile* FindGenerationEntry(long generation, std::u16string_view) const override {
    Check(generation);
    return nullptr;
  }
  bool GetFolderAttributes(long generation, std::u16string_view path,
                           IncrementalBackup::CAttributes& out) const override {
    Check(generation);
    if (path.size() % 61 == 60) return false;
    out.Attributes = 0x10 | static_cast<uint32_t>(path.size());
    out.CreationTime = out.LastAccessTime = out.LastWriteTime = static_cast<uint64_t>(generation);
    return true;
  }

 private:
  void Check(long generation) const {
    if (generation < 0 || generation >= GetGenerationCount()) throw std::out_of_range("generation");
  }
  const QPMFile::CQPMFile& file_;
};

// Asks for every changed node's path, as the folder pane does.
class PathReceiver : public IncrementalBackup::CRecieveIncrementalRestoreTreeChange {
 public:
  void FolderAdded(const std::u16string& path, bool) override { length_ += path.size(); }
  void FolderRemoved(const std::u16string& path) override { length_ += path.size(); }
  void Prune() override {}

 private:
  size_t length_ = 0;
};

void WalkTree(const QPMFile::CQPMFile& file) {
  EmptyGenerations lookup(file);
  IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator creator;
  if (!creator.Build(lookup)) return;
  PathReceiver receiver;
  const long count = lookup.GetGenerationCount();
  for (long g = count - 1; g >= 0; --g) creator.SwitchGeneration(g, &receiver);
  // Check the first roots and records, then switch with the marks set.
  const IncrementalBackup::CFSTree& tree = *creator.GetTree();
  for (size_t i = 0; i < tree.GetRoots().size() && i < 4; ++i) creator.SetChecked(tree.GetRoots()[i]->GetName(), true);
  for (int t = 0; t < 2; ++t) {
    const auto& files = file.GetFileTable(t);
    for (size_t i = 0; i < files.size() && i < 8; ++i) creator.SetChecked(files[i].Path(), i % 2 == 0);
    const auto& folders = file.GetFolderTable(t);
    for (size_t i = 0; i < folders.size() && i < 8; ++i) creator.SetChecked(folders[i].Path(), i % 3 != 0);
  }
  creator.RecalcTotals();
  for (long g = 0; g < count; ++g) {
    creator.SwitchGeneration(g, &receiver);
    creator.CreateRestoreArchive();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QPXFile::CMemoryVolumes volumes;
  volumes.Add(kPath, std::vector<uint8_t>(data, data + size));
  QPXFile::CScopedVolumeSource source(volumes);

  QPMFile::CQPMFile file;
  if (!file.Open(kPath)) return 0;
  if (!file.Load()) return 0;
  for (long g = 0; g < file.GetArchiveCount(); ++g) file.GetArchive(g);
  QPMFile::RecordCursor cursor;
  for (int t = 0; t < 2; ++t) {
    for (const auto& folder : file.GetFolderTable(t)) file.FindFolderRecord(t, folder.Path(), cursor);
    for (const auto& record : file.GetFileTable(t)) file.FindFileRecord(t, record.Path(), cursor);
  }
  file.Reset();
  WalkTree(file);
  return 0;
}
