// Restore selections: the part of an archive at or below a chosen folder or
// file, borrowed from the archive it comes from.
#include "archive/restore_selection.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "archive/qpx_file_factory.h"
#include "restore/restore_driver.h"
#include "host/host_path.h"
#include "support/archive_writer.h"
#include "support/samples.h"

namespace fs = std::filesystem;
using namespace QPXFile;
using namespace testsupport;

namespace {

const uint64_t kSubModified = FileTime(2021, 3, 4, 5, 6, 7);

class RestoreSelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tessera-selection-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // An archive of `formatId` with a tree of folders, a drive-root file and a
  // second drive; the folder whose name only differs in case from a file's
  // folder tells a component match from a prefix match.
  std::unique_ptr<CQPXFileExtend> Open(const std::string& formatId = "QPX3.0  ") {
    ArchiveSpec plan;
    plan.formatId = formatId;
    plan.folders = {{u"C:\\Data", 0x10, 1, 2, 3},
                    {u"C:\\Data\\Sub", 0x12, 4, 5, kSubModified},
                    {u"C:\\DataOld", 0x10},
                    {u"D:\\Work", 0x10}};
    plan.fileList = {{u"C:\\Data", 1}};
    plan.entries = {
        {.folder = u"C:\\Data", .name = u"a.txt", .data = Bytes("a")},
        {.folder = u"C:\\Data\\Sub", .name = u"b.txt", .data = Bytes("bb")},
        {.folder = u"C:\\DataOld", .name = u"old.txt", .data = Bytes("old")},
        {.folder = u"C:", .name = u"root.txt", .data = Bytes("root")},
        {.folder = u"D:\\Work", .name = u"w.txt", .data = Bytes("w")},
    };
    const fs::path p = dir_ / "a.qpx";
    WriteArchive(plan, p);
    OpenResult r = OpenArchive(host::ToEnginePath(p.string()));
    EXPECT_EQ(r.failure, OpenFailure::kNone);
    auto* extend = dynamic_cast<CQPXFileExtend*>(r.archive.get());
    EXPECT_NE(extend, nullptr);
    r.archive.release();
    return std::unique_ptr<CQPXFileExtend>(extend);
  }

  static std::vector<std::u16string> EntryPaths(const CQPXFile& archive) {
    std::vector<std::u16string> out;
    for (long i = 0; i < archive.GetEntryCount(); ++i) {
      std::u16string p;
      EXPECT_TRUE(archive.GetEntryPath(p, i));
      out.push_back(p);
    }
    return out;
  }

  static std::vector<std::u16string> FolderPaths(const CQPXFileExtend& archive) {
    std::vector<std::u16string> out;
    for (int i = 0; i < archive.GetFolderList()->GetFolderCount(); ++i) {
      std::u16string p;
      EXPECT_TRUE(archive.GetFolderList()->GetFolder(i, &p, nullptr, nullptr, nullptr, nullptr));
      out.push_back(p);
    }
    return out;
  }

  fs::path dir_;
};

using Paths = std::vector<std::u16string>;

TEST_F(RestoreSelectionTest, FolderBringsItsSubtreeIgnoringCaseButNotItsNamesakes) {
  for (const char* id : {"QPX3.0  ", "QPX2.0  "}) {
    SCOPED_TRACE(id);
    auto source = Open(id);
    CRestoreSelectionQPXFileExtend selection;
    ASSERT_TRUE(SelectFromArchive(*source, u"c:\\DATA\\", selection));
    EXPECT_EQ(EntryPaths(selection), (Paths{u"C:\\Data\\a.txt", u"C:\\Data\\Sub\\b.txt"}));
    EXPECT_EQ(FolderPaths(selection), (Paths{u"C:\\Data", u"C:\\Data\\Sub"}));
    // The folders keep their attributes and times for the restore.
    uint32_t attributes = 0;
    uint64_t created = 0, accessed = 0, modified = 0;
    ASSERT_TRUE(selection.GetFolderList()->GetFolder(1, nullptr, &created, &attributes, &accessed, &modified));
    EXPECT_EQ(attributes, 0x12u);
    EXPECT_EQ(created, 4u);
    EXPECT_EQ(accessed, 5u);
    EXPECT_EQ(modified, kSubModified);
    // The stored entries are the source's own, not copies.
    EXPECT_EQ(selection.GetEntry(0), source->GetEntry(0));
    EXPECT_EQ(selection.GetLentFileList(), source->GetFileList());
  }
}

TEST_F(RestoreSelectionTest, FileAloneBringsNoFolder) {
  auto source = Open();
  CRestoreSelectionQPXFileExtend selection;
  ASSERT_TRUE(SelectFromArchive(*source, u"C:\\data\\SUB\\B.TXT", selection));
  EXPECT_EQ(EntryPaths(selection), (Paths{u"C:\\Data\\Sub\\b.txt"}));
  EXPECT_TRUE(FolderPaths(selection).empty());
}

TEST_F(RestoreSelectionTest, DriveBringsEverythingOnIt) {
  auto source = Open();
  CRestoreSelectionQPXFileExtend selection;
  ASSERT_TRUE(SelectFromArchive(*source, u"C:", selection));
  EXPECT_EQ(EntryPaths(selection),
            (Paths{u"C:\\Data\\a.txt", u"C:\\Data\\Sub\\b.txt", u"C:\\DataOld\\old.txt", u"C:\\root.txt"}));
  EXPECT_EQ(FolderPaths(selection).size(), 3u);
  uint64_t total = 0;
  ASSERT_TRUE(selection.GetTotalFileSize(total));
  EXPECT_EQ(total, 1u + 2u + 3u + 4u);
}

TEST_F(RestoreSelectionTest, NothingMatchingIsRefused) {
  auto source = Open();
  for (const char16_t* path : {u"C:\\Dat", u"C:\\Data\\a", u"E:", u"", u"\\"}) {
    CRestoreSelectionQPXFileExtend selection;
    EXPECT_FALSE(SelectFromArchive(*source, path, selection));
    EXPECT_EQ(selection.GetEntryCount(), 0);
  }
}

TEST_F(RestoreSelectionTest, BehavesAsAnOpenLoadedArchiveThatOutlivesNothing) {
  auto source = Open();
  {
    auto selection = std::make_unique<CRestoreSelectionQPXFileExtend>();
    selection->SetName(u"Z:\\backups\\a.qpx");
    ASSERT_TRUE(SelectFromArchive(*source, u"D:\\Work", *selection));
    EXPECT_TRUE(selection->IsOpen());
    EXPECT_TRUE(selection->Load());
    std::u16string name;
    ASSERT_TRUE(selection->GetPathName(name));
    EXPECT_EQ(name, u"Z:\\backups\\a.qpx");
    EXPECT_EQ(selection->FindEntry(u"d:\\work\\W.TXT"), 0);
    // Destroying the selection must leave the borrowed entries alone.
  }
  ASSERT_NE(source->GetEntryHeader(4), nullptr);
  std::u16string path;
  EXPECT_TRUE(source->GetEntryPath(path, 4));
  EXPECT_EQ(path, u"D:\\Work\\w.txt");
}

TEST_F(RestoreSelectionTest, FolderListHoldsNamesNoCodePageCanWrite) {
  CRestoreSelectionQPXFileExtend selection;
  const std::u16string name = u"C:\\Ünïcödé \U0001F600";
  ASSERT_TRUE(selection.AddFolder(name, 0x10, 0, 0, 0));
  EXPECT_EQ(FolderPaths(selection), (Paths{name}));
}

// The driver sees a selection as an archive of its own: a folder chosen in
// its parent lands below the destination under its own name with the stored
// folders' times, a file chosen alone lands directly in the destination.
TEST_F(RestoreSelectionTest, RestoresBelowTheDestinationAsTheDesktopSelectionDoes) {
  auto source = Open();
  const fs::path dest = dir_ / "out";
  fs::create_directories(dest);
  std::vector<int> events;
  const RestoreEventCallback answer = [&](const RestoreEvent& e) {
    events.push_back(e.code);
    return true;
  };
  const RestoreTarget target{true, host::ToEnginePath(dest.string()), u"C:"};

  CRestoreSelectionQPXFileExtend folder;
  ASSERT_TRUE(SelectFromArchive(*source, u"c:\\data", folder));
  ASSERT_TRUE(QPXFile::RestoreArchive(folder, answer, {}, target));
  EXPECT_EQ(events.front(), kEventRunStarted);
  EXPECT_EQ(events.back(), kEventRunEnded);
  EXPECT_EQ(std::count(events.begin(), events.end(), kEventEntryDone), 2);
  EXPECT_TRUE(fs::is_regular_file(dest / "Data" / "a.txt"));
  EXPECT_EQ(fs::file_size(dest / "Data" / "Sub" / "b.txt"), 2u);
  EXPECT_FALSE(fs::exists(dest / "DataOld"));
  struct stat st {};
  ASSERT_EQ(::stat((dest / "Data" / "Sub").c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_mtim.tv_sec), (kSubModified - 116444736000000000ull) / 10000000u);

  CRestoreSelectionQPXFileExtend file;
  ASSERT_TRUE(SelectFromArchive(*source, u"C:\\DATA\\sub\\b.txt", file));
  ASSERT_TRUE(QPXFile::RestoreArchive(file, answer, {}, RestoreTarget{true, host::ToEnginePath(dest.string()), u"C:\\DATA\\sub"}));
  EXPECT_EQ(fs::file_size(dest / "b.txt"), 2u);
  // The destination keeps its own times; the stored folder's belong to the stored folder.
  ASSERT_EQ(::stat(dest.c_str(), &st), 0);
  EXPECT_GT(static_cast<uint64_t>(st.st_mtim.tv_sec), (kSubModified - 116444736000000000ull) / 10000000u);
}

}  // namespace
