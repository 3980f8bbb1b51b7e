// The integrity test of a set: the selected generation or every stored
// version, the archive of each damaged entry named, stopping on request, and
// the archives a load left unopened.
#include "generations/integrity_test.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "generation_set.h"
#include "support/backup_set_writer.h"
#include "support/corrupt.h"

namespace {

using IncrementalBackup::CBackupSet;
using IncrementalBackup::DamagedEntry;
using IncrementalBackup::TestScope;

struct ShowEarlier : IncrementalBackup::IManagerUser {
  void Notice(int32_t) override {}
  bool AskYesNo(int32_t) override { return false; }
  bool AskShowEarlier(const IncrementalBackup::FailedArchive&) override { return true; }
};

class IntegrityTest : public gentest::GenerationTest {
 protected:
  std::unique_ptr<CBackupSet> Load(const testsupport::BackupSetSpec& plan, bool damageA1) {
    files_ = testsupport::WriteBackupSet(plan, dir_);
    if (damageA1) {
      // a.txt's data as generation 2 stored it.
      const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(files_.archives[1]);
      const std::string text(bytes.begin(), bytes.end());
      testsupport::FlipBits(files_.archives[1], text.find("a1"), 0x01);
    }
    auto set = std::make_unique<CBackupSet>(files_.archives[0].string());
    QPXFile::Problems problems;
    EXPECT_TRUE(set->Load(user_, problems));
    return set;
  }
  std::vector<DamagedEntry> Run(const CBackupSet& set, TestScope scope, IncrementalBackup::IntegrityCounts& counts) {
    std::vector<DamagedEntry> damaged;
    counts = IncrementalBackup::TestEntries(set, scope, [&](const DamagedEntry& d) { damaged.push_back(d); });
    return damaged;
  }

  testsupport::BackupSetFiles files_;
  ShowEarlier user_;
};

TEST_F(IntegrityTest, WholeSetTestsEveryStoredVersionOnceAndNamesItsArchive) {
  std::unique_ptr<CBackupSet> set = Load(testsupport::SampleBackupSet(), true);
  IncrementalBackup::IntegrityCounts counts;

  // Generation 1 does not reach the damaged version.
  EXPECT_TRUE(Run(*set, TestScope::kSelectedGeneration, counts).empty());
  EXPECT_EQ(counts.tested, 3);

  // a0 k b0 | a1 c1 | d | a3 b3: unchanged files are not tested again.
  EXPECT_EQ(IncrementalBackup::CountEntriesToTest(*set, TestScope::kWholeSet), 8);
  std::vector<DamagedEntry> damaged = Run(*set, TestScope::kWholeSet, counts);
  EXPECT_EQ(counts.tested, 8);
  EXPECT_EQ(counts.damaged, 1);
  EXPECT_FALSE(counts.stopped);
  ASSERT_EQ(damaged.size(), 1u);
  EXPECT_EQ(damaged[0].path, u"C:\\Data\\a.txt");
  EXPECT_EQ(damaged[0].source, 1);
  EXPECT_EQ(damaged[0].fault.kind, QPXFile::EntryFault::kCrcDiffers);
  const std::string holder = files_.archives[1].string();
  EXPECT_EQ(IncrementalBackup::DamageText(*set, damaged[0], QPXFile::Wording::kEnglish).substr(0, 12), "CRC differs:");
  const std::string ja = IncrementalBackup::DamageText(*set, damaged[0], QPXFile::Wording::kJapanese);
  EXPECT_EQ(ja.rfind("CRC が違います", 0), 0u) << ja;
  EXPECT_NE(ja.find(holder), std::string::npos) << ja;

  // Generation 3 shows generation 2's a.txt.
  QPXFile::Problems problems;
  ASSERT_TRUE(set->SelectGeneration(3, problems));
  EXPECT_EQ(Run(*set, TestScope::kSelectedGeneration, counts).size(), 1u);
  EXPECT_TRUE(IncrementalBackup::UnopenedArchives(*set, QPXFile::Wording::kEnglish).empty());
}

TEST_F(IntegrityTest, StopsWhenToldAndListsArchivesTheLoadLeftOut) {
  testsupport::BackupSetSpec plan = testsupport::SampleBackupSet();
  plan.missingArchives = {2};
  plan.gaps = {{1, u"C:\\Data\\c.txt"}};
  std::unique_ptr<CBackupSet> set = Load(plan, false);
  ASSERT_EQ(set->Count(), 2);

  const auto unopened = IncrementalBackup::UnopenedArchives(*set, QPXFile::Wording::kEnglish);
  ASSERT_EQ(unopened.size(), 1u);
  EXPECT_EQ(unopened[0].generation, 2);
  EXPECT_EQ(unopened[0].path, files_.archives[2].string());
  EXPECT_FALSE(unopened[0].reason.empty());

  std::vector<DamagedEntry> damaged;
  auto counts = IncrementalBackup::TestEntries(
      *set, TestScope::kWholeSet, [&](const DamagedEntry& d) { damaged.push_back(d); },
      [](long tested) { return tested < 4; });
  EXPECT_TRUE(counts.stopped);
  EXPECT_EQ(counts.tested, 4);
  damaged.clear();
  counts = IncrementalBackup::TestEntries(*set, TestScope::kWholeSet, [&](const DamagedEntry& d) { damaged.push_back(d); });
  EXPECT_EQ(counts.tested, 5);
  ASSERT_EQ(damaged.size(), 1u);
  EXPECT_TRUE(damaged[0].missing);
  EXPECT_EQ(IncrementalBackup::DamageText(*set, damaged[0], QPXFile::Wording::kEnglish),
            "missing from " + files_.archives[1].string());
}

}  // namespace
