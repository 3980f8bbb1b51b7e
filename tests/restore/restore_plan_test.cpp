// Restore plans of one archive: the drives it holds, where chosen paths land,
// and the destination folder chain.
#include "restore/restore_plan.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "archive/qpx_file_factory.h"
#include "host/host_path.h"
#include "support/archive_writer.h"
#include "support/bytes.h"

namespace fs = std::filesystem;

namespace {

class RestorePlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tessera-plan-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::u16string Engine(const fs::path& p) const { return host::ToEnginePath(p.string()); }
  fs::path dir_;
};

TEST_F(RestorePlanTest, ChosenPathsLandUnderTheirOwnNameAndDrivesUnderTheirLetter) {
  EXPECT_TRUE(QPXFile::IsDrive(u"d:"));
  EXPECT_FALSE(QPXFile::IsDrive(u"d:\\"));
  const QPXFile::RestoreTarget drive = QPXFile::ChosenTarget(u"Z:\\out", u"d:");
  EXPECT_EQ(drive.destinationRoot, u"Z:\\out\\D");
  EXPECT_EQ(drive.shownFolder, u"D:");
  const QPXFile::RestoreTarget folder = QPXFile::ChosenTarget(u"Z:\\out", u"C:\\Users\\me\\Docs");
  EXPECT_EQ(folder.destinationRoot, u"Z:\\out");
  EXPECT_EQ(folder.shownFolder, u"C:\\Users\\me");
}

TEST_F(RestorePlanTest, EntriesWithoutADriveAreCountedAsUnplaced) {
  testsupport::ArchiveSpec setPlan;
  setPlan.folders = {{u"C:\\Data"}, {u"e:\\x"}};
  setPlan.entries.push_back({.folder = u"C:\\Data", .name = u"a.txt", .data = testsupport::Bytes("abc")});
  setPlan.entries.push_back({.folder = u"Data", .name = u"loose.txt", .data = testsupport::Bytes("l")});
  testsupport::WriteArchive(setPlan, dir_ / "a.qpx");
  QPXFile::OpenResult opened = QPXFile::OpenArchive(Engine(dir_ / "a.qpx"));
  ASSERT_EQ(opened.failure, QPXFile::OpenFailure::kNone);
  auto& archive = dynamic_cast<QPXFile::CQPXFileExtend&>(*opened.archive);
  EXPECT_EQ(QPXFile::DrivesOf(archive), (std::set<char16_t>{u'C', u'E'}));

  QPXFile::RestorePlan plan;
  QPXFile::Problems problems;
  ASSERT_TRUE(QPXFile::PlanArchiveRuns(archive, Engine(dir_ / "a.qpx"), "a.qpx", u"Z:\\out", {}, plan, problems));
  EXPECT_EQ(plan.runs.size(), 2u);
  EXPECT_EQ(plan.unplaced, 1);
  EXPECT_EQ(plan.TotalFileSize(), 3u);
  EXPECT_EQ(plan.name, Engine(dir_ / "a.qpx"));
}

TEST_F(RestorePlanTest, DestinationChainIsMadeUnlessAFileStandsInTheWay) {
  std::string why;
  ASSERT_TRUE(QPXFile::MakeFolders(Engine(dir_ / "a" / "b" / "c"), why)) << why;
  EXPECT_TRUE(fs::is_directory(dir_ / "a" / "b" / "c"));
  EXPECT_TRUE(QPXFile::MakeFolders(Engine(dir_ / "a"), why));

  std::ofstream(dir_ / "file") << "x";
  EXPECT_FALSE(QPXFile::MakeFolders(Engine(dir_ / "file"), why));
  EXPECT_EQ(why, "not a folder");
  EXPECT_FALSE(QPXFile::MakeFolders(Engine(dir_ / "file" / "sub"), why));
  EXPECT_EQ(why, "cannot create the folder: " + (dir_ / "file").string() + " is not a folder");
}

}  // namespace
