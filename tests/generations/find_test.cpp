// Finding files and folders by name across the generations of a backup set:
// the name patterns, the generations each hit is present in, its distinct
// versions, and the bounds on size and time.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "generations/find.h"
#include "generations/incremental_manager.h"
#include "generations/restore_tree.h"
#include "host/host_path.h"
#include "support/backup_set_writer.h"

namespace fs = std::filesystem;
using namespace testsupport;
using IncrementalBackup::CNamePattern;
using IncrementalBackup::FindCriteria;
using IncrementalBackup::FindInTree;
using IncrementalBackup::FoundItem;

namespace {

bool Match(std::u16string_view pattern, std::u16string_view name) {
  CNamePattern p(pattern);
  std::u16string folded;
  CNamePattern::FoldName(name, folded);
  return p.Matches(folded);
}

TEST(NamePatternTest, WildcardsAndCaseAsNamesAreComparedElsewhere) {
  EXPECT_TRUE(Match(u"*.TXT", u"report.txt"));
  EXPECT_TRUE(Match(u"rep?rt.*", u"REPORT.doc"));
  EXPECT_TRUE(Match(u"*a*b*c", u"xaxbxbxc")) << "a star gives back what a later part needs";
  EXPECT_TRUE(Match(u"**", u""));
  EXPECT_FALSE(Match(u"?", u""));
  EXPECT_FALSE(Match(u"*.txt", u"report.txt.bak"));
  EXPECT_FALSE(Match(u"report", u"report.txt")) << "without a star the whole name must match";
  // Non-ASCII letters fold too: full-width, Greek, Cyrillic.
  EXPECT_TRUE(Match(u"\uFF21*", u"\uFF41bc"));
  EXPECT_TRUE(Match(u"\u03A3\u03C3", u"\u03C3\u03A3"));
  EXPECT_TRUE(Match(u"\u0424\u0410\u0419\u041B", u"\u0444\u0430\u0439\u043B"));
  // One ? is one character, also outside the Basic Multilingual Plane.
  EXPECT_TRUE(Match(u"a?b", u"a\U0001F600b"));
  EXPECT_FALSE(Match(u"a??b", u"a\U0001F600b"));
  EXPECT_TRUE(Match(u"\U00010400", u"\U00010428")) << "Deseret capital and small letter";
  // Japanese names as the archives hold them.
  EXPECT_TRUE(Match(u"\u8CC7\u6599*.xls", u"\u8CC7\u6599\u0031.XLS"));
}

TEST(NamePatternTest, ABackslashOrSlashMakesItAWholePathPattern) {
  EXPECT_FALSE(CNamePattern(u"*.txt").MatchesWholePath());
  CNamePattern slash(u"c:/data/*/b.txt");
  EXPECT_TRUE(slash.MatchesWholePath());
  std::u16string folded;
  CNamePattern::FoldName(u"C:\\Data\\Old\\b.txt", folded);
  EXPECT_TRUE(slash.Matches(folded));
  CNamePattern::FoldName(u"C:\\Data\\Old\\Deeper\\b.txt", folded);
  EXPECT_TRUE(slash.Matches(folded)) << "a star spans backslashes";
  CNamePattern::FoldName(u"D:\\Data\\Old\\b.txt", folded);
  EXPECT_FALSE(slash.Matches(folded));
}

class FindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tessera-find-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Load(const BackupSetSpec& set) {
    const BackupSetFiles files = WriteBackupSet(set, dir_);
    ASSERT_TRUE(manager_.LoadGenerations(host::ToEnginePath(files.archives[0].string()),
                                         host::ToEnginePath(files.management.string())));
    ASSERT_TRUE(creator_.Build(manager_));
  }

  std::vector<FoundItem> Find(const FindCriteria& criteria) {
    return FindInTree(*creator_.GetTree(), manager_.GetGenerationCount(), criteria);
  }
  std::vector<FoundItem> Find(std::u16string pattern) {
    FindCriteria c;
    c.pattern = std::move(pattern);
    return Find(c);
  }
  static std::vector<std::u16string> Paths(const std::vector<FoundItem>& hits) {
    std::vector<std::u16string> out;
    for (const FoundItem& h : hits) out.push_back(h.path);
    return out;
  }
  static std::vector<long> VersionGenerations(const FoundItem& hit) {
    std::vector<long> out;
    for (const auto& v : hit.versions) out.push_back(v.generation);
    return out;
  }

  fs::path dir_;
  IncrementalBackup::CIncrementalManager manager_;
  IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator creator_;
};

uint32_t Crc(const char* text) { return EntryCrc(reinterpret_cast<const uint8_t*>(text), std::strlen(text)); }

// SampleBackupSet: a.txt a0 / a1 / (unchanged) / a3; keep.txt stored once;
// Old\b.txt b0, removed, removed with Old, b3; c.txt added in 1, removed in 3.
TEST_F(FindTest, EachHitHasItsGenerationsAndDistinctVersions) {
  Load(SampleBackupSet());
  std::vector<FoundItem> a = Find(u"A.TXT");
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].path, u"C:\\Data\\a.txt");
  EXPECT_FALSE(a[0].folder);
  EXPECT_EQ(a[0].generations, (std::vector<long>{0, 1, 2, 3}));
  ASSERT_EQ(VersionGenerations(a[0]), (std::vector<long>{0, 1, 3}));
  EXPECT_EQ(a[0].versions[0].crc32, Crc("a0"));
  EXPECT_EQ(a[0].versions[0].size, 2u);
  EXPECT_EQ(a[0].versions[2].crc32, Crc("a3"));

  std::vector<FoundItem> b = Find(u"b.txt");
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].generations, (std::vector<long>{0, 3}));
  EXPECT_EQ(VersionGenerations(b[0]), (std::vector<long>{0, 3}));

  std::vector<FoundItem> keep = Find(u"keep.*");
  ASSERT_EQ(keep.size(), 1u);
  EXPECT_EQ(keep[0].generations, (std::vector<long>{0, 1, 2, 3}));
  EXPECT_EQ(keep[0].versions.size(), 1u);

  std::vector<FoundItem> old = Find(u"old");
  ASSERT_EQ(old.size(), 1u);
  EXPECT_TRUE(old[0].folder);
  EXPECT_EQ(old[0].generations, (std::vector<long>{0, 1, 3}));
  EXPECT_TRUE(old[0].versions.empty());

  // The drive no record names is present wherever something below it is.
  std::vector<FoundItem> drive = Find(u"c:");
  ASSERT_EQ(drive.size(), 1u);
  EXPECT_EQ(drive[0].generations, (std::vector<long>{0, 1, 2, 3}));
}

TEST_F(FindTest, HitsComeInTreeOrderAndWholePathPatternsSeeThePath) {
  Load(SampleBackupSet());
  EXPECT_EQ(Paths(Find(u"*.txt")),
            (std::vector<std::u16string>{u"C:\\Data\\a.txt", u"C:\\Data\\keep.txt", u"C:\\Data\\c.txt",
                                         u"C:\\Data\\Old\\b.txt", u"C:\\Data\\New\\d.txt"}));
  EXPECT_EQ(Paths(Find(u"c:\\data\\*\\?.txt")),
            (std::vector<std::u16string>{u"C:\\Data\\Old\\b.txt", u"C:\\Data\\New\\d.txt"}));
  EXPECT_EQ(Paths(Find(u"C:/Data")), (std::vector<std::u16string>{u"C:\\Data"}));
  EXPECT_TRUE(Find(u"nothing*").empty());

  // The caller may stop early.
  int seen = 0;
  FindCriteria all;
  all.pattern = u"*";
  EXPECT_FALSE(FindInTree(*creator_.GetTree(), manager_.GetGenerationCount(), all,
                          [&seen](FoundItem&&) { return ++seen < 2; }));
  EXPECT_EQ(seen, 2);
}

TEST_F(FindTest, AFileStoredAgainUnchangedIsOneVersionAndAGapIsMissing) {
  BackupSetSpec set;
  set.generations.resize(3);
  set.generations[0].folders = {{u"C:\\Data"}};
  set.generations[0].files = {{u"C:\\Data\\same.txt", Bytes("same")}, {u"C:\\Data\\gap.txt", Bytes("g0")}};
  set.generations[1] = set.generations[0];
  set.generations[1].files[0].storeAgain = true;
  set.generations[1].files[1].data = Bytes("g1");
  set.generations[2] = set.generations[1];
  set.generations[2].files[0].storeAgain = false;
  set.generations[2].files[1].data = Bytes("g2");
  set.gaps = {{1, u"C:\\Data\\gap.txt"}};
  Load(set);

  std::vector<FoundItem> same = Find(u"same.txt");
  ASSERT_EQ(same.size(), 1u);
  EXPECT_EQ(VersionGenerations(same[0]), (std::vector<long>{0}));

  std::vector<FoundItem> gap = Find(u"gap.txt");
  ASSERT_EQ(gap.size(), 1u);
  ASSERT_EQ(VersionGenerations(gap[0]), (std::vector<long>{0, 1, 2}));
  EXPECT_FALSE(gap[0].versions[0].missing);
  EXPECT_TRUE(gap[0].versions[1].missing);
  EXPECT_FALSE(gap[0].versions[2].missing);
}

TEST_F(FindTest, BoundsKeepOnlyVersionsWithinThemAndLeaveFoldersOut) {
  BackupSetSpec set;
  set.generations.resize(2);
  set.generations[0].folders = {{u"C:\\Data"}};
  set.generations[0].files = {{u"C:\\Data\\grow.log", Bytes("12")}, {u"C:\\Data\\small.log", Bytes("1")}};
  set.generations[0].files[0].modified = kSetBaseTime;
  set.generations[0].files[1].modified = kSetBaseTime;
  set.generations[1] = set.generations[0];
  set.generations[1].files[0].data = Bytes("12345678");
  set.generations[1].files[0].modified = kSetBaseTime + 10 * kSetDay;
  Load(set);

  FindCriteria big;
  big.pattern = u"*";
  big.minSize = 5;
  std::vector<FoundItem> hits = Find(big);
  ASSERT_EQ(Paths(hits), (std::vector<std::u16string>{u"C:\\Data\\grow.log"})) << "no folders, no small files";
  EXPECT_EQ(VersionGenerations(hits[0]), (std::vector<long>{1}));
  EXPECT_EQ(hits[0].generations, (std::vector<long>{0, 1})) << "presence is not narrowed";

  FindCriteria window;
  window.pattern = u"*.log";
  window.maxSize = 2;
  window.olderThan = kSetBaseTime + 1;
  EXPECT_EQ(Paths(Find(window)), (std::vector<std::u16string>{u"C:\\Data\\grow.log", u"C:\\Data\\small.log"}));
  window.newerThan = kSetBaseTime + 1;  // and older than kSetBaseTime + 1: nothing
  EXPECT_TRUE(Find(window).empty());

  FindCriteria recent;
  recent.pattern = u"*.log";
  recent.newerThan = kSetBaseTime + 10 * kSetDay;  // at or after
  EXPECT_EQ(Paths(Find(recent)), (std::vector<std::u16string>{u"C:\\Data\\grow.log"}));
}

}  // namespace
