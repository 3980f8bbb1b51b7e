// The merged tree of a backup set: which node shows what in each
// generation, what a switch reports, check marks with their totals, folders
// no record names, and management files meant to break the build.
#include "generations/restore_tree.h"

#include <algorithm>
#include <random>
#include <tuple>

#include "entry/backuped_file.h"
#include "generation_set.h"
#include "host/text.h"
#include "support/samples.h"

using namespace IncrementalBackup;
using namespace testsupport;
using gentest::FakeLookup;
namespace fs = std::filesystem;

namespace {

using Updates = std::vector<QPMFile::CQPMUpdateContents>;

struct Selected {
  bool exists;
  int32_t applying;
};

Selected Select(const Updates& u, long g) {
  CGenerationInfo info;
  info.Attach(u);
  EXPECT_TRUE(info.SelectGeneration(g));
  return {info.Exists(), info.GetApplyingIndex()};
}

TEST(GenerationSelection, LatestUpdateAtOrBeforeTheGenerationApplies) {
  const Updates removedIn2{{0, 1}, {2, 3}};
  EXPECT_TRUE(Select(removedIn2, 0).exists);
  EXPECT_TRUE(Select(removedIn2, 1).exists);
  EXPECT_EQ(Select(removedIn2, 1).applying, 0);
  EXPECT_FALSE(Select(removedIn2, 2).exists);
  EXPECT_FALSE(Select(removedIn2, 5).exists);

  const Updates firstIn3{{3, 1}};
  for (long g : {0, 1, 2}) {
    EXPECT_FALSE(Select(firstIn3, g).exists);
    EXPECT_EQ(Select(firstIn3, g).applying, -1);
  }
  EXPECT_TRUE(Select(firstIn3, 3).exists);

  const Updates storedTwice{{0, 1}, {2, 1}};
  EXPECT_EQ(Select(storedTwice, 1).applying, 0);
  EXPECT_EQ(Select(storedTwice, 2).applying, 1);
  EXPECT_EQ(Select(storedTwice, 7).applying, 1);

  const Updates removedAndBack{{0, 1}, {1, 3}, {3, 1}};
  EXPECT_FALSE(Select(removedAndBack, 2).exists);
  EXPECT_TRUE(Select(removedAndBack, 3).exists);
}

TEST(GenerationSelection, OfTwoUpdatesInOneGenerationTheFirstApplies) {
  const Updates stored_then_removed{{1, 1}, {1, 3}};
  EXPECT_EQ(Select(stored_then_removed, 1).applying, 0);
  EXPECT_TRUE(Select(stored_then_removed, 1).exists);
  // Also when a later generation is selected.
  EXPECT_EQ(Select(stored_then_removed, 2).applying, 0);
  const Updates removed_then_stored{{0, 1}, {1, 3}, {1, 1}};
  EXPECT_FALSE(Select(removed_then_stored, 1).exists);
  EXPECT_FALSE(Select(removed_then_stored, 4).exists);
}

TEST(GenerationSelection, NothingToSelectChangesNothing) {
  CGenerationInfo info;
  EXPECT_FALSE(info.SelectGeneration(0));
  const Updates none;
  info.Attach(none);
  EXPECT_FALSE(info.SelectGeneration(0));
  const Updates one{{0, 1}};
  info.Attach(one);
  EXPECT_FALSE(info.SelectGeneration(-1));
  EXPECT_EQ(info.GetApplyingIndex(), -1);
  EXPECT_TRUE(info.Exists());
}

struct Call {
  std::string kind;
  std::u16string path;
  bool checked = false;
  bool operator==(const Call&) const = default;
};

class Recorder : public CRecieveIncrementalRestoreTreeChange {
 public:
  void FolderAdded(const std::u16string& path, bool checked) override { calls.push_back({"added", path, checked}); }
  void FolderRemoved(const std::u16string& path) override { calls.push_back({"removed", path}); }
  void Prune() override { calls.push_back({"prune", u""}); }
  void FileAdded(const CFSFile& file) override { calls.push_back({"file+", file.GetPath(), file.GetData().IsChecked()}); }
  void FileRemoved(const CFSFile& file) override { calls.push_back({"file-", file.GetPath()}); }
  void SwitchStarting() override { calls.push_back({"start", u""}); }
  void SwitchFinished() override { calls.push_back({"finish", u""}); }
  bool Has(const Call& c) const { return std::find(calls.begin(), calls.end(), c) != calls.end(); }
  std::vector<Call> calls;
};

// Four generations:
//   C:\Data\keep.txt   stored in 0
//   C:\Data\gone.txt   stored in 0, removed in 2
//   C:\Data\twice.txt  stored in 0 and 2
//   C:\Data\late.txt   first stored in 3
//   C:\Data\dup.txt    stored and removed in 1
//   C:\Data\Old        stored in 0, removed in 2, with o.txt likewise
//   C:\Deep\a\b\c.txt  stored in 0, removed in 1; no record for its folders
class RestoreTreeTest : public gentest::GenerationTest {
 protected:
  void SetUp() override {
    GenerationTest::SetUp();
    std::vector<ArchiveSpec> archives(4);
    for (size_t g = 0; g < 4; ++g) {
      archives[g].creationTime += g;
      archives[g].folders = {{u"C:\\Data", 0x10, 100 + g, 0, 0}};
    }
    archives[0].folders.push_back({u"C:\\Data\\Old", 0x12, 7, 8, 9});
    archives[0].entries = {{.folder = u"C:\\Data", .name = u"keep.txt", .data = Bytes("k0")},
                           {.folder = u"C:\\Data", .name = u"gone.txt", .data = Bytes("gone")},
                           {.folder = u"C:\\Data", .name = u"twice.txt", .data = Bytes("t0")},
                           {.folder = u"C:\\Data\\Old", .name = u"o.txt", .data = Bytes("old")},
                           {.folder = u"C:\\Deep\\a\\b", .name = u"c.txt", .data = Bytes("deep")}};
    archives[1].entries = {{.folder = u"C:\\Data", .name = u"dup.txt", .data = Bytes("dup")}};
    archives[2].entries = {{.folder = u"C:\\Data", .name = u"twice.txt", .data = Bytes("t2 longer")}};
    archives[3].entries = {{.folder = u"C:\\Data", .name = u"late.txt", .data = Bytes("late!")}};

    ManagementSpec plan;
    plan.folders1 = {{u"C:\\Data", {{0, 1}, {1, 1}, {2, 1}, {3, 1}}}, {u"C:\\Data\\Old", {{0, 1}, {2, 3}}}};
    plan.files1 = {{u"C:\\Data\\keep.txt", {{0, 1}}},
                   {u"C:\\Data\\gone.txt", {{0, 1}, {2, 3}}},
                   {u"C:\\Data\\twice.txt", {{0, 1}, {2, 1}}},
                   {u"C:\\Data\\Old\\o.txt", {{0, 1}, {2, 3}}},
                   {u"C:\\Deep\\a\\b\\c.txt", {{0, 1}, {1, 3}}}};
    plan.files2 = {{u"C:\\Data\\late.txt", {{3, 1}}}, {u"C:\\Data\\dup.txt", {{1, 1}, {1, 3}}}};
    WriteSet(plan, archives, lookup_);
    ASSERT_FALSE(HasFatalFailure());
    creator_.SetProgressInfo(&progress_);
    ASSERT_TRUE(creator_.Build(lookup_));
  }

  CFSTree& Tree() { return *creator_.GetTree(); }
  CFSFile& File(std::u16string_view path) {
    CFSObject* node = Tree().Find(path);
    EXPECT_TRUE(node && !node->IsFolder()) << host::WideToUtf8(path);
    return *static_cast<CFSFile*>(node);
  }
  CFolder& Folder(std::u16string_view path) {
    CFSObject* node = Tree().Find(path);
    EXPECT_TRUE(node && node->IsFolder()) << host::WideToUtf8(path);
    return *static_cast<CFolder*>(node);
  }
  bool Present(std::u16string_view path) { return Tree().Find(path)->Exists(); }
  QPXFile::IQPXBackupedFile* StoredIn(long g, std::u16string_view path) {
    return lookup_.FindGenerationEntry(g, path);
  }

  FakeLookup lookup_;
  CProgressInfo progress_;
  CIncrementalRestoreQPXFileExtendCreator creator_;
};

TEST_F(RestoreTreeTest, BuildReportsItsStepsAndHoldsEveryRecordedPath) {
  EXPECT_EQ(progress_.GetTotal(), 9);
  EXPECT_EQ(progress_.GetCurrent(), 9);
  EXPECT_EQ(progress_.GetMessageId(), 160);
  EXPECT_FALSE(progress_.HasError());
  EXPECT_TRUE(creator_.IsNotifying());
  ASSERT_EQ(Tree().GetRoots().size(), 1u);
  const CFolder& data = Folder(u"c:\\DATA");
  EXPECT_EQ(data.GetFiles().size(), 5u);
  EXPECT_EQ(data.GetFolders().size(), 1u);
  EXPECT_EQ(File(u"C:\\Data\\Old\\o.txt").GetPath(), u"C:\\Data\\Old\\o.txt");
  EXPECT_EQ(Tree().Find(u"C:\\Data\\keep.txt\\x"), nullptr);
  EXPECT_EQ(Tree().Find(u"D:"), nullptr);
}

TEST_F(RestoreTreeTest, EachGenerationShowsTheEntryOfItsLatestRecord) {
  struct Expect {
    long g;
    bool keep, gone, late, dup;
    long twiceFrom;
  };
  for (const Expect& e : {Expect{0, true, true, false, false, 0}, Expect{1, true, true, false, true, 0},
                          Expect{2, true, false, false, true, 2}, Expect{3, true, false, true, true, 2}}) {
    SCOPED_TRACE(e.g);
    ASSERT_TRUE(creator_.SwitchGeneration(e.g));
    EXPECT_EQ(creator_.GetSelectedGeneration(), e.g);
    EXPECT_EQ(Present(u"C:\\Data\\keep.txt"), e.keep);
    EXPECT_EQ(File(u"C:\\Data\\keep.txt").GetData().GetCurrentEntry(), StoredIn(0, u"C:\\Data\\keep.txt"));
    EXPECT_EQ(Present(u"C:\\Data\\gone.txt"), e.gone);
    EXPECT_EQ(Present(u"C:\\Data\\late.txt"), e.late);
    EXPECT_EQ(Present(u"C:\\Data\\dup.txt"), e.dup);
    const CIncrementalRestoreTreeFileData& twice = File(u"C:\\Data\\twice.txt").GetData();
    EXPECT_EQ(twice.GetCurrentEntry(), StoredIn(e.twiceFrom, u"C:\\Data\\twice.txt"));
    EXPECT_EQ(twice.GetFileSize(), e.twiceFrom == 0 ? 2u : 9u);
    // The folder shows its attributes of the applying generation.
    CAttributes a;
    ASSERT_TRUE(Folder(u"C:\\Data").GetData().GetCurrentAttributes(a));
    EXPECT_EQ(a.CreationTime, 100u + e.g);
    EXPECT_EQ(Present(u"C:\\Data\\Old"), e.g < 2);
  }
  // An absent file shows no data.
  EXPECT_EQ(File(u"C:\\Data\\gone.txt").GetData().GetFileSize(), 0u);
  EXPECT_EQ(File(u"C:\\Data\\gone.txt").GetData().GetCurrentEntry(), nullptr);
  CAttributes removed;
  ASSERT_TRUE(creator_.SwitchGeneration(0));
  ASSERT_TRUE(Folder(u"C:\\Data\\Old").GetData().GetCurrentAttributes(removed));
  EXPECT_EQ(removed.Attributes, 0x12u);
}

TEST_F(RestoreTreeTest, SwitchTellsTheReceiverWhatAppearedAndWhatWent) {
  creator_.SetChecked(u"C:\\Data\\Old", true);
  creator_.RecalcTotals();
  Recorder r;
  ASSERT_TRUE(creator_.SwitchGeneration(2, &r));
  EXPECT_TRUE(r.Has({"removed", u"C:\\Data\\Old"}));
  // Files are told apart from folders.
  EXPECT_TRUE(r.Has({"file-", u"C:\\Data\\gone.txt"}));
  EXPECT_TRUE(r.Has({"file+", u"C:\\Data\\dup.txt", false}));
  EXPECT_FALSE(r.Has({"removed", u"C:\\Data\\gone.txt"}));
  EXPECT_FALSE(r.Has({"added", u"C:\\Data\\dup.txt", false}));
  EXPECT_FALSE(r.Has({"file-", u"C:\\Data\\keep.txt"}));
  // One reset around everything, the prune just before its end.
  ASSERT_GE(r.calls.size(), 3u);
  EXPECT_EQ(r.calls.front(), (Call{"start", u""}));
  EXPECT_EQ(r.calls[r.calls.size() - 2], (Call{"prune", u""}));
  EXPECT_EQ(r.calls.back(), (Call{"finish", u""}));
  EXPECT_EQ(std::count(r.calls.begin(), r.calls.end(), Call{"prune", u""}), 1);
  EXPECT_EQ(std::count(r.calls.begin(), r.calls.end(), Call{"start", u""}), 1);

  r.calls.clear();
  ASSERT_TRUE(creator_.SwitchGeneration(0, &r));
  // The folder comes back with its check mark.
  EXPECT_TRUE(r.Has({"added", u"C:\\Data\\Old", true}));
  EXPECT_TRUE(r.Has({"file-", u"C:\\Data\\dup.txt"}));
  // No change, no call but the frame.
  r.calls.clear();
  ASSERT_TRUE(creator_.SwitchGeneration(0, &r));
  EXPECT_EQ(r.calls, (std::vector<Call>{{"start", u""}, {"prune", u""}, {"finish", u""}}));
}

TEST_F(RestoreTreeTest, CheckingAFileChecksEveryAncestorWithItsSizes) {
  const uint64_t size = 3, stored = File(u"C:\\Data\\Old\\o.txt").GetData().GetStoredSize();
  ASSERT_FALSE(Folder(u"C:\\Data").GetData().IsChecked());
  creator_.SetChecked(u"C:\\Data\\Old\\o.txt", true);
  for (const char16_t* path : {u"C:\\Data\\Old", u"C:\\Data", u"C:"}) {
    SCOPED_TRACE(host::WideToUtf8(path));
    const CIncrementalRestoreTreeFolderData& d = Folder(path).GetData();
    EXPECT_TRUE(d.IsChecked());
    EXPECT_EQ(d.GetTotalFileSize(), size);
    EXPECT_EQ(d.GetTotalStoredSize(), stored);
    EXPECT_EQ(d.GetCheckedFileCount(), 1);
  }
  // The creator's totals are current at once, and a recalculation agrees.
  EXPECT_EQ(creator_.GetCheckedFileCount(), 1);
  ASSERT_TRUE(creator_.RecalcTotals());
  EXPECT_EQ(creator_.GetCheckedFileCount(), 1);
  EXPECT_EQ(creator_.GetTotalFileSize(), size);
  EXPECT_EQ(creator_.GetCheckedFolderCount(), 2);  // Data and Old; the drive is no folder of its own

  creator_.SetChecked(u"C:\\Data\\Old\\o.txt", false);
  EXPECT_FALSE(Folder(u"C:\\Data\\Old").GetData().IsChecked());
  EXPECT_FALSE(Folder(u"C:\\Data").GetData().IsChecked());
  EXPECT_EQ(Folder(u"C:\\Data").GetData().GetTotalFileSize(), 0u);
  ASSERT_TRUE(creator_.RecalcTotals());
  EXPECT_EQ(creator_.GetCheckedFileCount(), 0);
  EXPECT_EQ(creator_.GetCheckedFolderCount(), 0);
}

TEST_F(RestoreTreeTest, CheckingAFolderChecksItsSubtreeAndTotalsCountPresentFilesOnly) {
  creator_.SetChecked(u"C:\\data", true);
  EXPECT_TRUE(File(u"C:\\Data\\late.txt").GetData().GetCheckedFlag());
  EXPECT_FALSE(File(u"C:\\Data\\late.txt").GetData().IsChecked());  // absent in 0
  EXPECT_TRUE(Folder(u"C:\\Data\\Old").GetData().IsChecked());
  ASSERT_TRUE(creator_.RecalcTotals());
  EXPECT_EQ(creator_.GetCheckedFileCount(), 4);  // keep, gone, twice, o.txt
  EXPECT_EQ(creator_.GetTotalFileSize(), 2u + 4u + 2u + 3u);
  ASSERT_TRUE(creator_.SwitchGeneration(3));
  EXPECT_EQ(creator_.GetCheckedFileCount(), 4);  // keep, twice, late, dup
  EXPECT_EQ(creator_.GetTotalFileSize(), 2u + 9u + 5u + 3u);
  EXPECT_EQ(creator_.GetCheckedFolderCount(), 1);  // Old is gone

  creator_.SetChecked(u"C:\\Data", false);
  ASSERT_TRUE(creator_.RecalcTotals());
  EXPECT_EQ(creator_.GetCheckedFileCount(), 0);
  EXPECT_FALSE(Folder(u"C:\\Data").GetData().IsChecked());
  // A path that names nothing changes nothing.
  creator_.SetChecked(u"C:\\Nowhere\\x", true);
  EXPECT_TRUE(creator_.IsNotifying());
}

// The tree makes C:\Deep, C:\Deep\a and C:\Deep\a\b for c.txt although no
// record names them; they follow c.txt in and out of the generations.
TEST_F(RestoreTreeTest, FoldersNoRecordNamesFollowTheirChildren) {
  EXPECT_TRUE(Folder(u"C:\\Deep\\a").GetData().IsAncestorOnly());
  EXPECT_FALSE(Folder(u"C:\\Data").GetData().IsAncestorOnly());
  EXPECT_TRUE(Present(u"C:\\Deep\\a\\b"));
  Recorder r;
  ASSERT_TRUE(creator_.SwitchGeneration(1, &r));
  for (const char16_t* path : {u"C:\\Deep", u"C:\\Deep\\a", u"C:\\Deep\\a\\b"}) {
    EXPECT_FALSE(Present(path)) << host::WideToUtf8(path);
    EXPECT_TRUE(r.Has({"removed", path})) << host::WideToUtf8(path);
  }
  r.calls.clear();
  ASSERT_TRUE(creator_.SwitchGeneration(0, &r));
  EXPECT_TRUE(r.Has({"added", u"C:\\Deep", false}));
  EXPECT_TRUE(Present(u"C:\\Deep\\a"));

  creator_.SetChecked(u"C:\\Deep", true);
  ASSERT_TRUE(creator_.RecalcTotals());
  EXPECT_EQ(creator_.GetCheckedFileCount(), 1);
  EXPECT_TRUE(Folder(u"C:\\Deep\\a\\b").GetData().IsChecked());
}

// Every node's place as a view asks for it: parent, index among all
// children of its kind, row among the present ones; the present arrays hold
// exactly the present children, in order.
void ExpectPlacesAgree(const CFSTree& tree) {
  std::vector<const CFolder*> folders;
  for (size_t i = 0; i < tree.GetRoots().size(); ++i) {
    const CFolder* root = tree.GetRoots()[i];
    EXPECT_EQ(root->GetIndex(), i);
    EXPECT_EQ(root->GetParent(), nullptr);
    folders.push_back(root);
  }
  auto check = [](const auto& all, const auto& present, const CFolder* parent) {
    size_t row = 0;
    for (size_t i = 0; i < all.size(); ++i) {
      const CFSObject* node = all[i];
      EXPECT_EQ(node->GetIndex(), i) << host::WideToUtf8(node->GetPath());
      EXPECT_EQ(node->GetParent(), parent);
      if (!node->Exists()) {
        EXPECT_EQ(node->GetRow(), -1) << host::WideToUtf8(node->GetPath());
        continue;
      }
      ASSERT_LT(row, present.size());
      EXPECT_EQ(present[row], node);
      EXPECT_EQ(node->GetRow(), static_cast<int32_t>(row));
      ++row;
    }
    EXPECT_EQ(row, present.size());
  };
  check(tree.GetRoots(), tree.GetPresentRoots(), nullptr);
  for (size_t k = 0; k < folders.size(); ++k) {
    const CFolder* f = folders[k];
    check(f->GetFiles(), f->GetPresentFiles(), f);
    check(f->GetFolders(), f->GetPresentFolders(), f);
    folders.insert(folders.end(), f->GetFolders().begin(), f->GetFolders().end());
  }
}

TEST_F(RestoreTreeTest, NodesKnowTheirPlaceAndFoldersListTheirPresentChildren) {
  ExpectPlacesAgree(Tree());
  const CFolder& data = Folder(u"C:\\Data");
  std::vector<std::u16string> names;
  for (const CFSFile* f : data.GetPresentFiles()) names.emplace_back(f->GetName());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"keep.txt", u"gone.txt", u"twice.txt"}));
  EXPECT_EQ(File(u"C:\\Data\\late.txt").GetIndex(), 3u);
  EXPECT_EQ(File(u"C:\\Data\\late.txt").GetRow(), -1);
  for (long g : {2, 3, 1, 0}) {
    SCOPED_TRACE(g);
    ASSERT_TRUE(creator_.SwitchGeneration(g));
    ExpectPlacesAgree(Tree());
  }
  ASSERT_TRUE(creator_.SwitchGeneration(2));
  names.clear();
  for (const CFSFile* f : data.GetPresentFiles()) names.emplace_back(f->GetName());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"keep.txt", u"twice.txt", u"dup.txt"}));
  EXPECT_EQ(File(u"C:\\Data\\dup.txt").GetRow(), 2);
  EXPECT_TRUE(data.GetPresentFolders().empty()) << "Old is gone in 2";
  EXPECT_EQ(Folder(u"C:\\Deep").GetRow(), -1);
  // Marks move no rows.
  creator_.SetChecked(u"C:\\Data", true);
  ExpectPlacesAgree(Tree());
}

TEST_F(RestoreTreeTest, MarkingANodeReportsTheFoldersWhoseTotalsChanged) {
  CFolder& data = Folder(u"C:\\Data");
  CFolder& old = Folder(u"C:\\Data\\Old");
  CFolder& drive = *Tree().GetRoots()[0];
  std::vector<CFolder*> changed;
  creator_.SetChecked(File(u"C:\\Data\\Old\\o.txt"), true, &changed);
  EXPECT_EQ(changed, (std::vector<CFolder*>{&old, &data, &drive}));
  EXPECT_EQ(creator_.GetTotalFileSize(), 3u);

  changed.clear();
  creator_.SetChecked(File(u"C:\\Data\\Old\\o.txt"), true, &changed);
  EXPECT_TRUE(changed.empty()) << "nothing changed";

  // An absent file changes no total.
  creator_.SetChecked(File(u"C:\\Data\\late.txt"), true, &changed);
  EXPECT_TRUE(changed.empty());

  creator_.SetChecked(data, true, &changed);
  EXPECT_EQ(changed, (std::vector<CFolder*>{&data, &drive}));
  EXPECT_EQ(creator_.GetCheckedFileCount(), 4);
  EXPECT_EQ(creator_.GetTotalFileSize(), 2u + 4u + 2u + 3u);

  changed.clear();
  creator_.SetChecked(File(u"C:\\Data\\keep.txt"), false, &changed);
  EXPECT_EQ(changed, (std::vector<CFolder*>{&data, &drive}));
  EXPECT_EQ(creator_.GetTotalFileSize(), 4u + 2u + 3u);
}

// What a view shows of the marks: each folder's totals and mark, and the
// creator's.
struct MarkState {
  std::vector<std::tuple<uint64_t, uint64_t, int32_t, int32_t, bool, bool>> folders;
  uint64_t size, stored;
  int32_t files, subfolders;
  bool operator==(const MarkState&) const = default;
};

MarkState Snapshot(const CIncrementalRestoreQPXFileExtendCreator& creator) {
  MarkState out{{}, creator.GetTotalFileSize(), creator.GetTotalStoredSize(), creator.GetCheckedFileCount(),
                creator.GetCheckedFolderCount()};
  std::vector<const CFolder*> folders(creator.GetTree()->GetRoots().begin(), creator.GetTree()->GetRoots().end());
  for (size_t k = 0; k < folders.size(); ++k) {
    const CIncrementalRestoreTreeFolderData& d = folders[k]->GetData();
    out.folders.emplace_back(d.GetTotalFileSize(), d.GetTotalStoredSize(), d.GetCheckedFileCount(),
                             d.GetCheckedFolderCount(), d.IsChecked(), d.Exists());
    folders.insert(folders.end(), folders[k]->GetFolders().begin(), folders[k]->GetFolders().end());
  }
  return out;
}

TEST_F(RestoreTreeTest, MarkingNodesKeepsEveryTotalAsARecalculationMakesIt) {
  std::vector<CFSObject*> nodes;
  std::vector<CFolder*> folders(Tree().GetRoots().begin(), Tree().GetRoots().end());
  for (size_t k = 0; k < folders.size(); ++k) {
    nodes.push_back(folders[k]);
    nodes.insert(nodes.end(), folders[k]->GetFiles().begin(), folders[k]->GetFiles().end());
    folders.insert(folders.end(), folders[k]->GetFolders().begin(), folders[k]->GetFolders().end());
  }
  std::mt19937 random(7);
  for (int step = 0; step < 600; ++step) {
    if (step % 50 == 49) {
      ASSERT_TRUE(creator_.SwitchGeneration(static_cast<long>(random() % 4)));
    }
    CFSObject& node = *nodes[random() % nodes.size()];
    const bool state = random() % 3 != 0;
    std::vector<CFolder*> changed;
    const MarkState before = Snapshot(creator_);
    creator_.SetChecked(node, state, &changed);
    const MarkState marked = Snapshot(creator_);
    ASSERT_TRUE(creator_.RecalcTotals());
    ASSERT_EQ(marked, Snapshot(creator_)) << "step " << step << " " << host::WideToUtf8(node.GetPath()) << " " << state;
    if (before == marked) {
      EXPECT_TRUE(changed.empty()) << "step " << step;
    }
    // Nearest first: each folder listed lies above the one before it.
    for (size_t i = 1; i < changed.size(); ++i) {
      const CFolder* a = changed[i - 1]->GetParent();
      while (a && a != changed[i]) a = a->GetParent();
      EXPECT_EQ(a, changed[i]) << "step " << step;
    }
  }
}

TEST_F(RestoreTreeTest, LargeFoldersAreFoundByPathWithoutSearching) {
  // Beyond the indexing size a folder's children are found by hash; the
  // answer is the plain lookup's, letter case ignored.
  ManagementSpec plan;
  plan.archives = gentest::PlaceholderArchives(1);
  plan.folders1 = {{u"C:\\Big", {{0, 1}}}};
  for (int i = 0; i < 300; ++i)
    plan.files1.push_back({u"C:\\Big\\f" + host::Utf8ToWide(std::to_string(i)) + u".txt", {{0, 1}}});
  plan.folders2 = {{u"C:\\Big\\Sub", {{0, 1}}}};
  gentest::FakeLookup lookup;
  lookup.anyFolder = true;
  LoadManagement(plan, lookup, "big.qpm");
  CIncrementalRestoreQPXFileExtendCreator creator;
  ASSERT_TRUE(creator.Build(lookup));
  for (const char16_t* path : {u"C:\\Big\\f0.txt", u"c:\\BIG\\F299.TXT", u"C:\\Big\\Sub", u"C:\\Big\\f300.txt",
                               u"C:\\Big\\f1.txt\\x", u"C:\\Big\\sub\\none"}) {
    SCOPED_TRACE(host::WideToUtf8(path));
    EXPECT_EQ(creator.FindNode(path), creator.GetTree()->Find(path));
  }
  creator.SetChecked(u"C:\\big\\F7.TXT", true);
  EXPECT_EQ(creator.GetCheckedFileCount(), 1);
}

class FolderSink : public IRestoreTreeFolderSink {
 public:
  bool InsertFolderPath(const std::u16string& path) override {
    paths.push_back(path);
    return path != refuse;
  }
  std::vector<std::u16string> paths;
  std::u16string refuse;
};

TEST_F(RestoreTreeTest, TraversalVisitsFilesBeforeSubfoldersAndNeverTheRoots) {
  ASSERT_TRUE(creator_.SwitchGeneration(2));
  FolderSink sink;
  CRegisterOperator op(sink);
  ASSERT_TRUE(Tree().Traverse(op));
  // Old is absent in 2, and so are the Deep folders.
  EXPECT_EQ(sink.paths, (std::vector<std::u16string>{u"C:\\Data"}));

  ASSERT_TRUE(creator_.SwitchGeneration(0));
  sink.paths.clear();
  sink.refuse = u"C:\\Data";
  EXPECT_FALSE(Tree().Traverse(op));
  EXPECT_EQ(sink.paths, (std::vector<std::u16string>{u"C:\\Data"}));
}

// ---------------------------------------------------------------------------
// Management files that must not break the build

class HostileTreeTest : public gentest::GenerationTest {
 protected:
  bool Build(const ManagementSpec& plan) {
    lookup_.anyFolder = true;
    LoadManagement(plan, lookup_);
    if (HasFatalFailure()) return false;
    creator_.SetProgressInfo(&progress_);
    return creator_.Build(lookup_);
  }
  FakeLookup lookup_;
  CProgressInfo progress_;
  CIncrementalRestoreQPXFileExtendCreator creator_;
};

TEST_F(HostileTreeTest, ThousandsOfComponentsCostNoStack) {
  std::u16string deep = u"C:";
  for (int i = 0; i < 12000; ++i) deep += u"\\d";
  ManagementSpec plan;
  plan.archives = gentest::PlaceholderArchives(2);
  plan.folders1 = {{deep, {{0, 1}}}};
  plan.files1 = {{deep + u"\\f.txt", {{0, 1}, {1, 3}}}, {deep + u"\\d\\g.txt", {{1, 1}}}};
  ASSERT_TRUE(Build(plan));
  CFSObject* file = creator_.GetTree()->Find(deep + u"\\f.txt");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->GetPath(), deep + u"\\f.txt");
  creator_.SetChecked(u"C:\\d", true);
  ASSERT_TRUE(creator_.RecalcTotals());
  EXPECT_EQ(creator_.GetCheckedFileCount(), 1);
  Recorder r;
  ASSERT_TRUE(creator_.SwitchGeneration(1, &r));
  EXPECT_EQ(creator_.GetCheckedFileCount(), 1);  // g.txt
  // A checked file without an entry stops the archive, nothing else.
  EXPECT_EQ(creator_.CreateRestoreArchive(), nullptr);
  ASSERT_TRUE(creator_.Build(lookup_));  // rebuilding frees the deep tree
}

TEST_F(HostileTreeTest, RecordsMeetingANodeOfTheOtherKindAreSkipped) {
  ManagementSpec plan;
  plan.archives = gentest::PlaceholderArchives(1);
  // Folders are registered before files.
  plan.folders1 = {{u"C:\\x", {{0, 1}}}};
  plan.folders2 = {{u"C:\\y\\z", {{0, 1}}}};
  plan.files1 = {{u"C:\\x", {{0, 1}}},            // a folder already
                 {u"C:\\Y", {{0, 1}}},            // likewise, made as z's parent
                 {u"C:", {{0, 1}}},                // the drive itself
                 {u"C:\\f.txt", {{0, 1}}},
                 {u"C:\\f.txt\\below", {{0, 1}}},  // a file as a folder
                 {u"C:\\x\\in.txt", {{0, 1}}}};
  ASSERT_TRUE(Build(plan));
  CFSTree& tree = *creator_.GetTree();
  EXPECT_TRUE(tree.Find(u"C:\\x")->IsFolder());
  EXPECT_TRUE(tree.Find(u"C:\\y")->IsFolder());
  EXPECT_NE(tree.Find(u"C:\\y\\z"), nullptr);
  EXPECT_NE(tree.Find(u"C:\\X\\IN.TXT"), nullptr);
  EXPECT_EQ(tree.Find(u"C:\\f.txt\\below"), nullptr);
  const CFolder& root = *tree.GetRoots()[0];
  EXPECT_EQ(root.GetFolders().size(), 2u);
  ASSERT_EQ(root.GetFiles().size(), 1u);
  EXPECT_EQ(root.GetFiles()[0]->GetName(), u"f.txt");
  // Each is kept for the front ends to report; a rebuild starts afresh.
  const std::vector<std::u16string> skipped = {u"C:\\x", u"C:\\Y", u"C:", u"C:\\f.txt\\below"};
  EXPECT_EQ(creator_.GetSkippedRecords(), skipped);
  ASSERT_TRUE(creator_.Build(lookup_));
  EXPECT_EQ(creator_.GetSkippedRecords(), skipped);
}

TEST_F(HostileTreeTest, RecordsLeadingOutsideTheirDriveAreLeftOutAndTheRestIsBuilt) {
  // An archive without its management file: the records come from its
  // entries, whatever their paths.
  ArchiveSpec archive;
  archive.folders = {{u"C:\\Data"}, {u"C:\\Data\\..\\..\\etc"}};
  archive.entries = {{.folder = u"C:\\Data", .name = u"keep.txt", .data = Bytes("k")},
                     {.folder = u"\\etc", .name = u"passwd", .data = Bytes("absolute")},
                     {.folder = u"..\\..", .name = u"up.txt", .data = Bytes("relative")},
                     {.folder = u"C:\\Data\\..\\..\\..", .name = u"bashrc", .data = Bytes("climbing")},
                     {.folder = u"C:\\Data\\.", .name = u"here.txt", .data = Bytes("still")},
                     {.folder = u"C:\\Data\\..x", .name = u"fine.txt", .data = Bytes("a name with dots")}};
  WriteArchive(archive, dir_ / "lone.qpx");
  std::unique_ptr<QPXFile::CQPXFile> opened;
  ASSERT_TRUE(lookup_.qpm.RebuildFromArchive(Engine("lone.qpx"), &opened));
  lookup_.archives.push_back(std::move(opened));
  lookup_.count = 1;
  creator_.SetProgressInfo(&progress_);
  ASSERT_TRUE(creator_.Build(lookup_));
  EXPECT_FALSE(progress_.HasError());

  CFSTree& tree = *creator_.GetTree();
  ASSERT_EQ(tree.GetRoots().size(), 1u);
  ASSERT_NE(tree.Find(u"C:\\Data"), nullptr);
  const CFolder& data = static_cast<const CFolder&>(*tree.Find(u"C:\\Data"));
  ASSERT_EQ(data.GetFolders().size(), 1u);
  EXPECT_EQ(data.GetFolders()[0]->GetName(), u"..x");
  ASSERT_EQ(data.GetFiles().size(), 1u);
  EXPECT_TRUE(data.GetFiles()[0]->Exists());
  EXPECT_EQ(creator_.GetLeftOutRecords(),
            (std::vector<std::u16string>{u"C:\\Data\\..\\..\\etc", u"\\etc\\passwd", u"..\\..\\up.txt",
                                         u"C:\\Data\\..\\..\\..\\bashrc", u"C:\\Data\\.\\here.txt"}));
  EXPECT_TRUE(creator_.GetSkippedRecords().empty());
  creator_.SetChecked(u"C:", true);
  EXPECT_EQ(creator_.GetCheckedFileCount(), 2);
}

TEST_F(HostileTreeTest, AGenerationBeyondTheOpenedArchivesFailsTheBuild) {
  ManagementSpec plan;
  plan.archives = gentest::PlaceholderArchives(3);
  plan.files1 = {{u"C:\\a.txt", {{0, 1}, {2, 1}}}};
  lookup_.anyFolder = true;
  LoadManagement(plan, lookup_);
  lookup_.count = 2;  // the third archive did not open
  creator_.SetProgressInfo(&progress_);
  EXPECT_FALSE(creator_.Build(lookup_));
  EXPECT_EQ(progress_.GetErrorId(), 158);
  EXPECT_EQ(creator_.GetTree(), nullptr);
  EXPECT_FALSE(creator_.SwitchGeneration(0));
  EXPECT_EQ(creator_.CreateRestoreArchive(), nullptr);
}

// Counts what the front end would show.
class CountingSink : public CProgressInfo {
 public:
  void SetError(int32_t id) override {
    CProgressInfo::SetError(id);
    errors.push_back(id);
  }
  std::vector<int32_t> errors;
};

TEST_F(HostileTreeTest, ABuildFailureIsReportedOnceThroughTheSink) {
  ManagementSpec plan;
  plan.archives = gentest::PlaceholderArchives(1);
  plan.folders1 = {{u"C:\\a", {{0, 1}}}, {u"C:\\b", {{0, 1}}}};
  LoadManagement(plan, lookup_);
  CountingSink sink;
  creator_.SetProgressInfo(&sink);
  EXPECT_FALSE(creator_.Build(lookup_));
  EXPECT_EQ(sink.errors, std::vector<int32_t>{158});
}

TEST_F(HostileTreeTest, AFolderWithoutAttributesFailsTheBuild) {
  ManagementSpec plan;
  plan.archives = gentest::PlaceholderArchives(1);
  plan.folders1 = {{u"C:\\a", {{0, 1}}}};
  LoadManagement(plan, lookup_);
  creator_.SetProgressInfo(&progress_);
  EXPECT_FALSE(creator_.Build(lookup_));  // anyFolder is off
  EXPECT_EQ(progress_.GetErrorId(), 158);
}

TEST_F(HostileTreeTest, RecordsWithoutUpdatesNeitherExistNorStopASwitch) {
  ManagementSpec plan;
  plan.archives = gentest::PlaceholderArchives(2);
  plan.folders1 = {{u"C:\\empty", {}}, {u"C:\\empty\\sub", {{1, 1}}}};
  plan.files1 = {{u"C:\\nothing.txt", {}}};
  ASSERT_TRUE(Build(plan));
  CFSTree& tree = *creator_.GetTree();
  EXPECT_FALSE(tree.Find(u"C:\\nothing.txt")->Exists());
  EXPECT_FALSE(tree.Find(u"C:\\empty")->Exists());
  ASSERT_TRUE(creator_.SwitchGeneration(1));
  EXPECT_TRUE(tree.Find(u"C:\\empty")->Exists());
  EXPECT_FALSE(tree.Find(u"C:\\nothing.txt")->Exists());
}

// Paths that differ only by case meet one node; its record is the one whose
// path is the node's.
TEST_F(HostileTreeTest, PathsDifferingInCaseShareANodeAndItsRecord) {
  ManagementSpec plan;
  plan.archives = gentest::PlaceholderArchives(3);
  plan.folders1 = {{u"C:\\Data", {{0, 1}}}};
  plan.folders2 = {{u"C:\\DATA", {{2, 1}}}};
  plan.files1 = {{u"C:\\Data\\a.txt", {{0, 1}}}};
  plan.files2 = {{u"c:\\data\\A.TXT", {{2, 1}}}};
  for (int i = 0; i < 100; ++i) plan.files2.push_back({u"C:\\DATA\\A.txt", {{1, 1}}});
  ASSERT_TRUE(Build(plan));
  const CFolder* data = static_cast<CFolder*>(creator_.GetTree()->Find(u"C:\\data"));
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(data->GetFiles().size(), 1u);
  EXPECT_EQ(data->GetFiles()[0]->GetData().GetGeneration().GetUpdates().data(),
            lookup_.qpm.GetFileTable(0)[0].Updates.data());
  EXPECT_EQ(data->GetData().GetGeneration().GetUpdates().data(), lookup_.qpm.GetFolderTable(0)[0].Updates.data());
}

// Many siblings registered out of order take the slow path every time; the
// index behind it must find what the plain search finds.
TEST_F(HostileTreeTest, ManySiblingsInAnyOrderEachGetOneNode) {
  ManagementSpec plan;
  plan.archives = gentest::PlaceholderArchives(1);
  std::vector<std::u16string> names;
  for (int i = 0; i < 3000; ++i) {
    const std::string n = "n" + std::to_string(i);
    names.emplace_back(n.begin(), n.end());
  }
  std::mt19937 rng(7);
  std::shuffle(names.begin(), names.end(), rng);
  for (const auto& n : names) plan.folders1.push_back({u"C:\\big\\" + n, {{0, 1}}});
  std::shuffle(names.begin(), names.end(), rng);
  // A file beside each folder and one inside it, the table jumping between folders.
  for (const auto& n : names) {
    plan.files1.push_back({u"C:\\big\\" + n + u".txt", {{0, 1}}});
    plan.files1.push_back({u"C:\\big\\" + n + u"\\in.txt", {{0, 1}}});
  }
  // The same folders again in other case: no new nodes.
  for (int i = 0; i < 50; ++i) plan.folders2.push_back({u"C:\\BIG\\" + names[i], {{0, 1}}});
  ASSERT_TRUE(Build(plan));
  const CFolder* big = static_cast<CFolder*>(creator_.GetTree()->Find(u"C:\\big"));
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->GetFolders().size(), 3000u);
  EXPECT_EQ(big->GetFiles().size(), 3000u);
  for (const CFolder* f : big->GetFolders()) ASSERT_EQ(f->GetFiles().size(), 1u) << host::WideToUtf8(f->GetName());
}

TEST_F(HostileTreeTest, AnyNumberOfDrivesEachGetOneRoot) {
  ManagementSpec plan;
  plan.archives = gentest::PlaceholderArchives(1);
  for (int i = 0; i < 2000; ++i) {
    const std::string root = "r" + std::to_string(i) + ":";
    plan.files1.push_back({std::u16string(root.begin(), root.end()) + u"\\a.txt", {{0, 1}}});
    plan.files2.push_back({u"R" + std::u16string(root.begin() + 1, root.end()) + u"\\b.txt", {{0, 1}}});
  }
  ASSERT_TRUE(Build(plan));
  const CFSTree& tree = *creator_.GetTree();
  ASSERT_EQ(tree.GetRoots().size(), 2000u);
  EXPECT_EQ(tree.GetRoots()[1234]->GetFiles().size(), 2u);
  EXPECT_NE(tree.Find(u"R77:\\A.TXT"), nullptr);
}

TEST(RestoreTreeNodes, StayCompact) {
  // Every file record costs one of these plus its slot in the folder.
  EXPECT_LE(sizeof(CFSFile), 56u);
  EXPECT_LE(sizeof(CIncrementalRestoreTreeFileData), 24u);
}

TEST(RestoreTreeNodes, TheTreeMakesEachNodeInItsParent) {
  CFSTree tree;
  CFolder* root = tree.AddRoot(u"C:");
  CFolder* sub = tree.AddFolder(*root, u"a");
  CFSFile* f = tree.AddFile(*sub, u"f");
  CFSFile* g = tree.AddFile(*sub, u"g");
  EXPECT_TRUE(g->IsRegistered());
  EXPECT_EQ(g->GetParent(), sub);
  EXPECT_EQ(f->GetIndex(), 0u);
  EXPECT_EQ(g->GetIndex(), 1u);
  EXPECT_EQ(tree.Find(u"c:\\A\\G"), g);
  EXPECT_EQ(g->GetPath(), u"C:\\a\\g");
}

}  // namespace
