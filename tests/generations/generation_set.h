// A backup set on disk for the generation tests: one archive per
// generation, the management file listing them, and a lookup that answers
// the tree's questions from them the way the generation manager does.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/qpx_file_extend.h"
#include "archive/qpx_file_factory.h"
#include "generations/generation_lookup.h"
#include "generations/qpm_file.h"
#include "host/host_path.h"
#include "support/archive_writer.h"
#include "support/management_writer.h"

namespace gentest {

namespace fs = std::filesystem;

class FakeLookup : public IncrementalBackup::IGenerationLookup {
 public:
  const QPMFile::CQPMFile& GetManagement() const override { return qpm; }
  long GetGenerationCount() const override { return count; }
  QPXFile::CQPXFile* GetGenerationArchive(long g) const override {
    return g >= 0 && g < static_cast<long>(archives.size()) ? archives[static_cast<size_t>(g)].get() : nullptr;
  }
  QPXFile::IQPXBackupedFile* FindGenerationEntry(long g, std::u16string_view path) const override {
    Check(g);
    QPXFile::CQPXFile* a = GetGenerationArchive(g);
    if (!a) return nullptr;
    const long i = a->FindEntry(std::u16string(path));
    return i < 0 ? nullptr : a->GetEntry(i);
  }
  bool GetFolderAttributes(long g, std::u16string_view path, IncrementalBackup::CAttributes& out) const override {
    Check(g);
    auto* a = dynamic_cast<QPXFile::CQPXFileExtend*>(GetGenerationArchive(g));
    const int i = a && a->GetFolderList() ? a->GetFolderList()->FindFolder(path) : -1;
    if (i < 0) {
      if (!anyFolder) return false;
      out = {0x10, static_cast<uint64_t>(g), 0, 0};
      return true;
    }
    return a->GetFolderList()->GetFolder(i, nullptr, &out.CreationTime, &out.Attributes, &out.LastAccessTime,
                                         &out.LastWriteTime);
  }

  QPMFile::CQPMFile qpm;
  std::vector<std::unique_ptr<QPXFile::CQPXFile>> archives;  // slots may be null
  long count = 0;
  // Folders missing from an archive (or without archives) still answer.
  bool anyFolder = false;

 private:
  void Check(long g) const {
    if (g < 0 || g >= count) throw std::out_of_range("generation");
  }
};

class GenerationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tessera-gen-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::u16string Engine(const std::string& name) const { return host::ToEnginePath((dir_ / name).string()); }

  // Writes one archive per plan (generation order) and the management file
  // `plan` with their paths, then opens everything into `lookup`.
  void WriteSet(testsupport::ManagementSpec plan, const std::vector<testsupport::ArchiveSpec>& archives,
                FakeLookup& lookup, const std::string& qpmName = "backup.qpm") {
    plan.archives.clear();
    for (size_t g = 0; g < archives.size(); ++g) {
      const std::string name = g == 0 ? "backup.qpx" : "backup" + std::to_string(g) + ".qpi";
      testsupport::WriteArchive(archives[g], dir_ / name);
      plan.archives.push_back({static_cast<uint16_t>(g), Engine(name), 0, archives[g].creationTime});
      QPXFile::OpenResult r = QPXFile::OpenArchive(Engine(name));
      ASSERT_EQ(r.failure, QPXFile::OpenFailure::kNone) << name;
      lookup.archives.push_back(std::move(r.archive));
    }
    LoadManagement(plan, lookup, qpmName);
    lookup.count = static_cast<long>(archives.size());
  }

  // A management file alone; the lookup has no archives.
  void LoadManagement(const testsupport::ManagementSpec& plan, FakeLookup& lookup,
                      const std::string& qpmName = "backup.qpm") {
    testsupport::WriteManagement(plan, dir_ / qpmName);
    ASSERT_TRUE(lookup.qpm.Open(Engine(qpmName)));
    ASSERT_TRUE(lookup.qpm.Load()) << static_cast<int>(lookup.qpm.GetLastFailure());
    lookup.count = plan.archives.empty() ? 0 : static_cast<long>(plan.archives.size());
  }

  fs::path dir_;
};

// Archive paths for a management file whose archives the lookup never opens.
inline std::vector<testsupport::ManagementArchive> PlaceholderArchives(int n) {
  std::vector<testsupport::ManagementArchive> out;
  for (int g = 0; g < n; ++g)
    out.push_back({static_cast<uint16_t>(g), u"C:\\set\\g" + std::u16string(1, static_cast<char16_t>(u'0' + g)) + u".qpi", 0, 0});
  return out;
}

}  // namespace gentest
