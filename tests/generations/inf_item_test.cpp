// The category items of a backup set and the mail-data notice before a restore.
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "generations/incremental_manager.h"
#include "host/host_path.h"
#include "host/string_ids.h"
#include "host/string_table.h"
#include "support/backup_set_writer.h"

namespace fs = std::filesystem;
using namespace INFFile;
using namespace testsupport;

namespace {

struct Item {
  std::u16string name, value;
  int32_t type;
  bool operator==(const Item&) const = default;
};

std::vector<Item> Items(const CINFItemArray& items) {
  std::vector<Item> out;
  for (const auto& item : items) {
    EXPECT_TRUE(item->GetThirdText().empty());
    out.push_back({item->GetName(), item->GetValue(), item->GetType()});
  }
  return out;
}

class INFItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tessera-inf-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A two-generation set whose first archive has the given format and
  // category items, with a version 2.0 management file carrying its own block.
  std::vector<Item> Collect(const std::string& formatId, std::vector<CategoryItem> archiveItems) {
    BackupSetSpec set = SampleBackupSet();
    set.generations.resize(2);
    set.generations[0].formatId = formatId;
    set.generations[0].categoryItems = std::move(archiveItems);
    set.generations[1].categoryItems = {{u"Later", u"ignored", 1}};
    set.version = kManage20;
    set.managementCategoryItems = {{u"Mail", u"Outlook", 2}, {u"Address", u"Book", 3}};
    const BackupSetFiles files = WriteBackupSet(set, dir_);
    IncrementalBackup::CIncrementalManager manager;
    EXPECT_TRUE(manager.LoadGenerations(host::ToEnginePath(files.archives[0].string()),
                                        host::ToEnginePath(files.management.string())));
    EXPECT_TRUE(manager.CollectINFItems());
    return Items(manager.GetINFItems());
  }

  fs::path dir_;
};

TEST_F(INFItemTest, UnicodeFirstArchiveSuppliesItsOwnCategoryInfo) {
  EXPECT_EQ(Collect("QPX3.0  ", {{u"メール", u"受信箱", 8}, {u"Other", u"", 0x7FFF}}),
            (std::vector<Item>{{u"メール", u"受信箱", 8}, {u"Other", u"", 0x7FFF}}));
  EXPECT_EQ(Collect("QPX3.0  ", {}), std::vector<Item>{}) << "the management block is not used";
}

TEST_F(INFItemTest, AnsiFirstArchiveTakesTheManagementBlock) {
  EXPECT_EQ(Collect("QPX2.0  ", {}), (std::vector<Item>{{u"Mail", u"Outlook", 2}, {u"Address", u"Book", 3}}));
}

TEST_F(INFItemTest, NoFirstGenerationNoItems) {
  QPMFile::CQPMFile management;
  CINFItemArray items;
  items.push_back(std::make_unique<CINFItemInfo>(u"stale", u"", 1));
  EXPECT_FALSE(CollectINFItems(nullptr, management, items));
  EXPECT_TRUE(items.empty());
}

CINFItemArray Typed(std::initializer_list<int32_t> types) {
  CINFItemArray out;
  for (int32_t type : types) out.push_back(std::make_unique<CINFItemInfo>(u"n", u"v", type));
  return out;
}

bool NoText(uint32_t, std::u16string&) { return false; }

TEST_F(INFItemTest, MailNoticeOnceForMailTypesOnly) {
  std::u16string notice;
  ASSERT_TRUE(host::LoadString(host::StringId::kMailNotice, notice));
  for (int32_t type : {1, 2, 8}) EXPECT_EQ(MailDataNotice(Typed({3, type})), notice) << type;
  EXPECT_EQ(MailDataNotice(Typed({2, 8})), notice) << "two mail items, one notice";
  for (int32_t type : {0, 3, 4, 7, 9, -1}) EXPECT_EQ(MailDataNotice(Typed({type})), std::nullopt) << type;
  EXPECT_EQ(MailDataNotice(Typed({})), std::nullopt);
  EXPECT_EQ(MailDataNotice(Typed({1}), NoText), std::u16string(kMailNoticeFallback));
}

}  // namespace
