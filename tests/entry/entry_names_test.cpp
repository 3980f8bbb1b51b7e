// The block store that holds the names of an archive's entry records.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "entry/entry_names.h"

using QPXFile::CEntryNameStore;

namespace {

std::string_view View(const uint8_t* bytes, size_t length) { return {reinterpret_cast<const char*>(bytes), length}; }

TEST(EntryNames, FoldersAreSharedAndEveryCopyOutlivesLoadingAndLaterBlocks) {
  CEntryNameStore store;
  std::vector<std::string> folders, names;
  std::vector<const uint8_t*> folderCopies, nameCopies;
  // Interleaved folders (no two neighbours alike) and enough names to fill
  // several blocks.
  for (int i = 0; i < 40000; ++i) {
    folders.push_back("C:\\folder" + std::to_string(i % 97));
    names.push_back("file-" + std::to_string(i) + std::string(static_cast<size_t>(i % 23), 'x'));
    folderCopies.push_back(store.AddFolder(folders.back()));
    nameCopies.push_back(store.Add(names.back()));
  }
  EXPECT_EQ(folderCopies[0], folderCopies[97]);
  EXPECT_NE(folderCopies[0], folderCopies[1]);
  // A folder that only differs in letter case is another folder.
  EXPECT_NE(store.AddFolder("C:\\FOLDER0"), folderCopies[0]);
  EXPECT_EQ(store.AddFolder(""), store.AddFolder(""));
  store.EndLoading();
  for (size_t i = 0; i < names.size(); ++i) {
    ASSERT_EQ(View(folderCopies[i], folders[i].size()), folders[i]) << i;
    ASSERT_EQ(View(nameCopies[i], names[i].size()), names[i]) << i;
  }
  // After loading, folders are no longer looked up: a new copy is made.
  EXPECT_NE(store.AddFolder(folders[0]), folderCopies[0]);
}

TEST(EntryNames, LongestNamesFitWhereverTheBlockStands) {
  CEntryNameStore store;
  const std::string longest(65535, 'n');
  const uint8_t* small = store.Add("a");
  const uint8_t* big = store.AddFolder(longest);
  const uint8_t* bigger = store.Add(longest + std::string(300000, 'm'));
  EXPECT_EQ(View(small, 1), "a");
  EXPECT_EQ(View(big, longest.size()), longest);
  EXPECT_EQ(std::memcmp(bigger + 65535, "mmm", 3), 0);
  EXPECT_EQ(store.Add(""), nullptr);
}

}  // namespace
