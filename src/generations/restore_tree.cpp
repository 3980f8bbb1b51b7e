#include "generations/restore_tree.h"

#include <algorithm>
#include <functional>
#include <new>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <utility>

#include "entry/backuped_file.h"
#include "entry/backuped_file_header.h"
#include "host/string_ids.h"
#include "host/text.h"

namespace IncrementalBackup {

// ---------------------------------------------------------------------------
// Generation selection and payloads

bool CGenerationInfo::SelectGeneration(long g) {
  if (!HasUpdates() || g < 0) return false;
  const Updates u = GetUpdates();
  int32_t applying = -1;
  for (size_t i = 0; i < u.size(); ++i) {
    if (u[i].Generation < g) {
      // Of several updates with one generation the first applies, whether g
      // is that generation or a later one.
      if (applying < 0 || u[static_cast<size_t>(applying)].Generation != u[i].Generation)
        applying = static_cast<int32_t>(i);
      continue;
    }
    if (u[i].Generation == g) applying = static_cast<int32_t>(i);
    break;
  }
  applying_ = static_cast<uint16_t>(applying + 1);
  exists_ = applying >= 0 && u[static_cast<size_t>(applying)].Kind != QPMFile::kKindRemoved;
  return true;
}

QPXFile::IQPXBackupedFile* CIncrementalRestoreTreeFileData::GetCurrentEntry() const {
  const int32_t i = generation_.GetApplyingIndex();
  if (!Exists() || i < 0) return nullptr;
  return GetEntry(static_cast<uint32_t>(i));
}

uint64_t CIncrementalRestoreTreeFileData::GetFileSize() const {
  const QPXFile::IQPXBackupedFile* entry = GetCurrentEntry();
  const QPXFile::CQPXBackupedFileHeader* header = entry ? entry->GetHeader() : nullptr;
  return header ? header->GetFileSize() : 0;
}

uint64_t CIncrementalRestoreTreeFileData::GetStoredSize() const {
  const QPXFile::IQPXBackupedFile* entry = GetCurrentEntry();
  const QPXFile::CQPXBackupedFileHeader* header = entry ? entry->GetHeader() : nullptr;
  return header ? header->GetDataSize() : 0;
}

bool CIncrementalRestoreTreeFolderData::GetCurrentAttributes(CAttributes& out) const {
  const int32_t i = generation_.GetApplyingIndex();
  if (!Exists() || i < 0 || static_cast<uint32_t>(i) >= attributes_.size()) return false;
  out = attributes_[static_cast<uint32_t>(i)];
  return true;
}

// ---------------------------------------------------------------------------
// Nodes

bool CFSObject::Exists() const {
  return IsFolder() ? static_cast<const CFolder*>(this)->GetData().Exists()
                    : static_cast<const CFSFile*>(this)->GetData().Exists();
}

std::u16string CFSObject::GetPath() const {
  size_t length = 0;
  for (const CFSObject* n = this; n; n = n->parent_) length += n->nameLength_ + 1;
  std::u16string out(length - 1, u'\\');
  size_t end = out.size();
  for (const CFSObject* n = this; n; n = n->parent_) {
    end -= n->nameLength_;
    std::copy(n->name_, n->name_ + n->nameLength_, out.begin() + static_cast<std::ptrdiff_t>(end));
    if (end > 0) --end;
  }
  return out;
}

CFSFile::CFSFile(CNodeKey, std::u16string_view name, CFolder* parent) : CFSObject(name, parent, false) {
  if (parent_) registered_ = parent_->AddChild(this);
}

CFolder::CFolder(CNodeKey, std::u16string_view name, CFolder* parent) : CFSObject(name, parent, true) {
  if (parent_) registered_ = parent_->AddChild(this);
}

bool CFolder::AddChild(CFSObject* child) {
  if (child->IsFolder()) {
    child->index_ = static_cast<uint32_t>(folders_.size());
    folders_.push_back(static_cast<CFolder*>(child));
  } else {
    child->index_ = static_cast<uint32_t>(files_.size());
    files_.push_back(static_cast<CFSFile*>(child));
  }
  return true;
}


CFSFile* CFolder::FindFile(std::u16string_view name) const {
  for (size_t i = files_.size(); i-- > 0;)
    if (host::EqualsNoCase(files_[i]->GetName(), name)) return files_[i];
  return nullptr;
}

CFolder* CFolder::FindFolder(std::u16string_view name) const {
  for (size_t i = folders_.size(); i-- > 0;)
    if (host::EqualsNoCase(folders_[i]->GetName(), name)) return folders_[i];
  return nullptr;
}

CFSObject* CFolder::FindChild(std::u16string_view name) const {
  if (CFSFile* f = FindFile(name)) return f;
  return FindFolder(name);
}

bool CFolder::HasExistingChild() const {
  for (const CFSFile* f : files_)
    if (f->GetData().Exists()) return true;
  for (const CFolder* f : folders_)
    if (f->GetData().Exists()) return true;
  return false;
}

namespace {

// Splits a path the way the path class does: at every backslash, keeping
// empty inner components and dropping one trailing empty component.
class PathPieces {
 public:
  explicit PathPieces(std::u16string_view path) : rest_(path), more_(!path.empty()) {}
  bool Next(std::u16string_view& piece) {
    if (!more_) return false;
    const size_t cut = rest_.find(u'\\');
    piece = rest_.substr(0, cut);
    if (cut == std::u16string_view::npos) {
      more_ = false;
    } else {
      rest_ = rest_.substr(cut + 1);
      more_ = !rest_.empty();
    }
    return true;
  }
  bool HasMore() const { return more_; }

 private:
  std::u16string_view rest_;
  bool more_;
};

// Post-order over the folders below and including `top`, without recursion.
template <class Fn>
void ForEachFolderBottomUp(CFolder& top, Fn&& fn) {
  std::vector<std::pair<CFolder*, size_t>> stack;
  stack.emplace_back(&top, 0);
  while (!stack.empty()) {
    CFolder* f = stack.back().first;
    size_t& next = stack.back().second;
    if (next < f->GetFolders().size()) {
      CFolder* sub = f->GetFolders()[next++];
      stack.emplace_back(sub, 0);
    } else {
      stack.pop_back();
      fn(*f);
    }
  }
}

// Pre-order over the folders strictly below `top`.
template <class Fn>
void ForEachFolderBelow(CFolder& top, Fn&& fn) {
  std::vector<CFolder*> stack(top.GetFolders().rbegin(), top.GetFolders().rend());
  while (!stack.empty()) {
    CFolder* f = stack.back();
    stack.pop_back();
    fn(*f);
    stack.insert(stack.end(), f->GetFolders().rbegin(), f->GetFolders().rend());
  }
}

}  // namespace

// Entry runs are short (one per update of a file), so their blocks are kept
// small enough for a set of a few files.
CFSTree::CFSTree() : entryRuns_(1024) {}
CFSTree::~CFSTree() = default;

CFolder* CFSTree::AddRoot(std::u16string_view name) {
  roots_.reserve(roots_.size() + 1);
  CFolder* root = &folders_.emplace_back(CNodeKey(), name, nullptr);
  root->index_ = static_cast<uint32_t>(roots_.size());
  roots_.push_back(root);
  return root;
}

CFolder* CFSTree::AddFolder(CFolder& parent, std::u16string_view name) {
  return &folders_.emplace_back(CNodeKey(), name, &parent);
}

CFSFile* CFSTree::AddFile(CFolder& parent, std::u16string_view name) {
  return &files_.emplace_back(CNodeKey(), name, &parent);
}

CFolder* CFSTree::FindRoot(std::u16string_view name) const {
  for (size_t i = roots_.size(); i-- > 0;)
    if (host::EqualsNoCase(roots_[i]->GetName(), name)) return roots_[i];
  return nullptr;
}

CFSObject* CFSTree::Find(std::u16string_view path) const {
  PathPieces pieces(path);
  std::u16string_view piece;
  if (!pieces.Next(piece)) return nullptr;
  CFSObject* node = FindRoot(piece);
  while (node && pieces.Next(piece)) {
    if (!node->IsFolder()) return nullptr;
    node = static_cast<CFolder*>(node)->FindChild(piece);
  }
  return node;
}

FolderTotals TotalsBelow(const CFolder& folder) {
  FolderTotals totals;
  if (!folder.Exists()) return totals;
  std::vector<const CFolder*> pending{&folder};
  while (!pending.empty()) {
    const CFolder* at = pending.back();
    pending.pop_back();
    for (const CFSFile* file : at->GetFiles()) {
      if (!file->Exists()) continue;
      ++totals.files;
      totals.fileSize += file->GetData().GetFileSize();
      totals.storedSize += file->GetData().GetStoredSize();
    }
    for (const CFolder* sub : at->GetFolders()) {
      if (!sub->Exists()) continue;
      ++totals.folders;
      pending.push_back(sub);
    }
  }
  return totals;
}

bool CFSTree::Traverse(CFSTreeOperator& op) const {
  std::vector<std::pair<CFolder*, size_t>> stack;
  auto enter = [&](CFolder& f) {
    for (CFSFile* file : f.GetFiles())
      if (!op.VisitFile(*file, file->GetData())) return false;
    stack.emplace_back(&f, 0);
    return true;
  };
  for (CFolder* root : roots_) {
    if (!enter(*root)) return false;
    while (!stack.empty()) {
      CFolder* f = stack.back().first;
      size_t& next = stack.back().second;
      if (next >= f->GetFolders().size()) {
        stack.pop_back();
        continue;
      }
      CFolder* sub = f->GetFolders()[next++];
      if (!op.VisitFolder(*sub, sub->GetData())) return false;
      if (!enter(*sub)) return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Visitors

bool CRegisterOperator::VisitFolder(CFolder& folder, CIncrementalRestoreTreeFolderData& data) {
  if (!data.Exists()) return true;
  return sink_.InsertFolderPath(folder.GetPath());
}

bool CSwitchGenerationOperator::Select(CFSObject& node, CGenerationInfo& info) {
  if (generation_ < 0) return false;
  // Nothing recorded to select from: an ancestor-only folder (settled from
  // its children later) or a record without updates, which never exists.
  if (!info.HasUpdates()) return true;
  const bool before = info.Exists();
  if (!info.SelectGeneration(generation_)) return false;
  if (receiver_ && before != info.Exists()) {
    if (!node.IsFolder()) {
      const CFSFile& file = static_cast<CFSFile&>(node);
      if (info.Exists()) receiver_->FileAdded(file);
      else receiver_->FileRemoved(file);
    } else if (!info.Exists()) {
      receiver_->FolderRemoved(node.GetPath());
    } else {
      receiver_->FolderAdded(node.GetPath(), static_cast<CFolder&>(node).GetData().IsChecked());
    }
  }
  return true;
}

bool CSwitchGenerationOperator::VisitFile(CFSFile& file, CIncrementalRestoreTreeFileData& data) {
  return Select(file, data.generation_);
}

bool CSwitchGenerationOperator::VisitFolder(CFolder& folder, CIncrementalRestoreTreeFolderData& data) {
  return Select(folder, data.generation_);
}

// ---------------------------------------------------------------------------
// Building

namespace {

uint64_t FoldedHash(std::u16string_view name) { return QPMFile::FoldedPathHash(name); }

}  // namespace

// Child lookup for folders with many children; the plain backwards search
// is kept for the rest. The answer is the plain search's: the last file of
// the name, else the last folder. Names are keyed by the hash of their
// folded text; two different names under one hash send that name back to
// the plain search.
class CIncrementalRestoreQPXFileExtendCreator::ChildIndex {
 public:
  explicit ChildIndex(const CFolder& folder) {
    Grow(2 * (folder.GetFiles().size() + folder.GetFolders().size()));
    for (CFSFile* f : folder.GetFiles()) Note(f);
    for (CFolder* f : folder.GetFolders()) Note(f);
  }
  void Note(CFSObject* child) {
    if (2 * (used_ + 1) > slots_.size()) Grow(2 * slots_.size());
    const uint64_t hash = FoldedHash(child->GetName());
    Slot& s = slots_[IndexFor(hash)];
    if (s.Empty()) {
      s.hash = hash;
      s.node = reinterpret_cast<uintptr_t>(child);
      ++used_;
      return;
    }
    if (!host::EqualsNoCase(s.Known()->GetName(), child->GetName())) s.node |= kCollided;
    if (!child->IsFolder()) {
      // The file takes the slot; a folder of the same name moves aside.
      if (s.Known()->IsFolder()) foldersBesideFiles_[hash] = static_cast<CFolder*>(s.Known());
      s.node = reinterpret_cast<uintptr_t>(child) | (s.node & kCollided);
    } else if (s.Known()->IsFolder()) {
      s.node = reinterpret_cast<uintptr_t>(child) | (s.node & kCollided);
    } else {
      foldersBesideFiles_[hash] = static_cast<CFolder*>(child);
    }
  }
  // False when the index cannot tell; `out` is then to be searched plainly.
  bool Find(std::u16string_view name, bool foldersOnly, CFSObject*& out) const {
    out = nullptr;
    const uint64_t hash = FoldedHash(name);
    const Slot& s = slots_[IndexFor(hash)];
    if (s.Empty()) return true;
    if (s.node & kCollided) return false;
    CFSObject* known = s.Known();
    if (!host::EqualsNoCase(known->GetName(), name)) return true;
    if (foldersOnly && !known->IsFolder()) {
      auto it = foldersBesideFiles_.find(hash);
      out = it != foldersBesideFiles_.end() ? it->second : nullptr;
    } else {
      out = known;
    }
    return true;
  }

 private:
  // One flat table of 16-byte slots probed in place: a lookup in a folder
  // of many thousand files touches one slot and the child, where a
  // node-based map adds a bucket and a node at random places, which is what
  // it costs once a large folder no longer fits the cache. The child is the
  // file of the name if there is one (the plain search's answer), else the
  // folder; the rare folder named like a file waits beside the table. Bit 0
  // of the child's address (nodes are aligned) says that two names share
  // the hash.
  static constexpr uintptr_t kCollided = 1;
  struct Slot {
    uint64_t hash = 0;
    uintptr_t node = 0;
    bool Empty() const { return node == 0; }
    CFSObject* Known() const { return reinterpret_cast<CFSObject*>(node & ~kCollided); }
  };

  // The slot holding `hash`, or the empty one where it would go.
  size_t IndexFor(uint64_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t i = static_cast<size_t>(hash ^ (hash >> 29)) & mask;; i = (i + 1) & mask) {
      if (slots_[i].Empty() || slots_[i].hash == hash) return i;
    }
  }
  void Grow(size_t wanted) {
    size_t size = 64;
    while (size < wanted) size *= 2;
    std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(size));
    for (const Slot& s : old) {
      if (!s.Empty()) slots_[IndexFor(s.hash)] = s;
    }
  }

  std::vector<Slot> slots_;
  size_t used_ = 0;
  std::unordered_map<uint64_t, CFolder*> foldersBesideFiles_;
};

namespace {

// Lookup of a record by path, ignoring case, table 1 before table 2. A
// table with paths that differ from the tree's only by case would make
// every lookup a scan of both tables, so after a few scans an index of the
// folded paths takes over (collisions fall back to the scan).
template <class Record>
class RecordFinder {
 public:
  using Table = QPMFile::CQPMTable<Record>;
  RecordFinder(const Table& t1, const Table& t2) : tables_{&t1, &t2} {}

  bool Find(std::u16string_view path, Record& out) {
    if (++lookups_ > kScansBeforeIndex) {
      if (!indexed_) BuildIndex();
      auto it = index_.find(FoldedHash(path));
      if (it == index_.end()) return false;
      if (!it->second.collided) {
        const Record r = (*tables_[it->second.table])[it->second.index];
        if (!r.PathEqualsNoCase(path)) return false;
        out = r;
        return true;
      }
    }
    for (int t = 0; t < 2; ++t) {
      for (const Record r : *tables_[t]) {
        if (!r.PathEqualsNoCase(path)) continue;
        out = r;
        return true;
      }
    }
    return false;
  }

 private:
  static constexpr int kScansBeforeIndex = 32;

  void BuildIndex() {
    for (uint32_t t = 0; t < 2; ++t) {
      for (uint32_t i = 0; i < tables_[t]->size(); ++i) {
        const std::u16string path = (*tables_[t])[i].Path();
        auto [it, added] = index_.try_emplace(FoldedHash(path), Slot{t, i, false});
        if (!added && !(*tables_[it->second.table])[it->second.index].PathEqualsNoCase(path))
          it->second.collided = true;
      }
    }
    indexed_ = true;
  }

  struct Slot {
    uint32_t table, index;  // the first in table order
    bool collided;
  };
  const Table* tables_[2];
  std::unordered_map<uint64_t, Slot> index_;
  bool indexed_ = false;
  int lookups_ = 0;
};

enum class Outcome { kAdded, kSkipped, kLeftOut, kFailed };

// A path the tree cannot place under a drive: it does not start with one
// (absolute, relative), or it climbs or stands still on the way ("..",
// "."). One such record in a crafted or damaged management file must not
// hide the rest of the set.
bool LeadsOutsideItsDrive(std::u16string_view path) {
  PathPieces pieces(path);
  std::u16string_view piece;
  if (!pieces.Next(piece) || piece.size() < 2 || piece.back() != u':') return true;
  // Almost every path has no component starting with a dot.
  if (path.find(u"\\.") == std::u16string_view::npos) return false;
  while (pieces.Next(piece)) {
    if (piece == u"." || piece == u"..") return true;
  }
  return false;
}

constexpr uint32_t kRecordsPerYield = 256;

}  // namespace

class CIncrementalRestoreQPXFileExtendCreator::BuildState {
 public:
  BuildState(CIncrementalRestoreQPXFileExtendCreator& creator, const IGenerationLookup& lookup)
      : creator_(creator),
        lookup_(lookup),
        qpm_(lookup.GetManagement()),
        generationCount_(lookup.GetGenerationCount()),
        folderRecords_(qpm_.GetFolderTable(0), qpm_.GetFolderTable(1)),
        fileRecords_(qpm_.GetFileTable(0), qpm_.GetFileTable(1)) {}

  // The path of the record being registered, whole.
  std::u16string_view PathOf(const QPMFile::CQPMFileInfo& r) {
    record_ = &r;
    path_.clear();
    if (r.Nested) {
      path_.append(r.Folder);
      path_.push_back(u'\\');
    }
    path_.append(r.Name);
    return path_;
  }

  Outcome RegisterFolder(const QPMFile::CQPMFolderInfo& r) {
    const std::u16string_view path = PathOf(r);
    if (LeadsOutsideItsDrive(path)) return Outcome::kLeftOut;
    std::u16string_view parentText, name;
    Split(path, parentText, name);
    if (name.empty()) return Outcome::kSkipped;
    CFolder* node = nullptr;
    QPMFile::CQPMFolderInfo record = r;
    if (folderCacheNode_ && parentText == folderCache_) {
      node = NewFolder(*folderCacheNode_, Kept(name));
    } else {
      CFSObject* found = nullptr;
      const Outcome walked = Walk(path, true, found);
      if (walked != Outcome::kAdded) return walked;
      node = static_cast<CFolder*>(found);
      if (node->GetPath() != path && !folderRecords_.Find(node->GetPath(), record)) return Outcome::kFailed;
    }
    folderCache_.assign(path);
    folderCache_.push_back(u'\\');
    folderCacheNode_ = node;
    return FillFolder(*node, record, path) ? Outcome::kAdded : Outcome::kFailed;
  }

  Outcome RegisterFile(const QPMFile::CQPMFileInfo& r) {
    const std::u16string_view path = PathOf(r);
    if (LeadsOutsideItsDrive(path)) return Outcome::kLeftOut;
    std::u16string_view parentText, name;
    Split(path, parentText, name);
    if (name.empty()) return Outcome::kSkipped;
    CFSFile* node = nullptr;
    QPMFile::CQPMFileInfo record = r;
    if (fileCacheNode_ && parentText == fileCache_) {
      node = NewFile(*fileCacheNode_, Kept(name));
    } else {
      CFSObject* found = nullptr;
      const Outcome walked = Walk(path, false, found);
      if (walked != Outcome::kAdded) return walked;
      node = static_cast<CFSFile*>(found);
      if (node->GetPath() != path && !fileRecords_.Find(node->GetPath(), record)) return Outcome::kFailed;
      fileCache_.assign(node->GetParent()->GetPath());
      fileCache_.push_back(u'\\');
      fileCacheNode_ = node->GetParent();
    }
    return FillFile(*node, record, path) ? Outcome::kAdded : Outcome::kFailed;
  }

 private:
  static constexpr size_t kIndexedChildren = 48;

  // A piece of the path being registered as the same text in the
  // management data's storage, which outlives the tree: a node's name.
  std::u16string_view Kept(std::u16string_view piece) const {
    const QPMFile::CQPMFileInfo& r = *record_;
    const size_t at = static_cast<size_t>(piece.data() - path_.data());
    if (!r.Nested) return r.Name.substr(at, piece.size());
    if (at < r.Folder.size()) return r.Folder.substr(at, piece.size());
    return r.Name.substr(at - r.Folder.size() - 1, piece.size());
  }

  static void Split(std::u16string_view path, std::u16string_view& parentText, std::u16string_view& name) {
    const size_t cut = path.rfind(u'\\');
    parentText = cut == std::u16string_view::npos ? std::u16string_view() : path.substr(0, cut + 1);
    name = cut == std::u16string_view::npos ? path : path.substr(cut + 1);
  }

  bool GenerationOk(const QPMFile::CQPMUpdateContents& u) const { return u.Generation < generationCount_; }

  ChildIndex* IndexOf(const CFolder& folder) {
    auto& indexes = creator_.indexes_;
    auto it = indexes.find(&folder);
    if (it != indexes.end()) return it->second.get();
    if (folder.GetFiles().size() + folder.GetFolders().size() < kIndexedChildren) return nullptr;
    auto index = std::make_unique<ChildIndex>(folder);
    ChildIndex* raw = index.get();
    indexes.emplace(&folder, std::move(index));
    return raw;
  }

  CFSObject* Lookup(CFolder& folder, std::u16string_view name, bool foldersOnly) {
    CFSObject* found = nullptr;
    if (ChildIndex* index = IndexOf(folder); index && index->Find(name, foldersOnly, found)) return found;
    return foldersOnly ? folder.FindFolder(name) : folder.FindChild(name);
  }
  CFSFile* LookupFile(CFolder& folder, std::u16string_view name) {
    CFSObject* found = nullptr;
    if (ChildIndex* index = IndexOf(folder); index && index->Find(name, false, found))
      return found && !found->IsFolder() ? static_cast<CFSFile*>(found) : nullptr;
    return folder.FindFile(name);
  }

  // A folder filled through the fast path grows past the indexing size
  // without a lookup; it is indexed then, so that FindNode finds it later.
  void Noted(CFolder& parent, CFSObject* child) {
    auto& indexes = creator_.indexes_;
    auto it = indexes.find(&parent);
    if (it != indexes.end()) it->second->Note(child);
    else IndexOf(parent);
  }
  CFolder* NewFolder(CFolder& parent, std::u16string_view name) {
    CFolder* f = creator_.tree_->AddFolder(parent, name);
    Noted(parent, f);
    return f;
  }
  CFSFile* NewFile(CFolder& parent, std::u16string_view name) {
    CFSFile* f = creator_.tree_->AddFile(parent, name);
    Noted(parent, f);
    return f;
  }

  // Any first component ending in a colon makes a root, so a hostile file
  // can make very many; they are found by hash like a big folder's children.
  CFolder* FindRoot(const CFSTree& tree, std::u16string_view name) const {
    auto it = roots_.find(FoldedHash(name));
    if (it == roots_.end()) return nullptr;
    if (it->second.collided) return tree.FindRoot(name);
    return host::EqualsNoCase(it->second.last->GetName(), name) ? it->second.last : nullptr;
  }

  // Finds or makes the nodes along `path`; the last component becomes a
  // folder or a file as asked. A record that meets a node of the other kind
  // is skipped.
  Outcome Walk(std::u16string_view path, bool asFolder, CFSObject*& out) {
    PathPieces pieces(path);
    std::u16string_view piece;
    if (!pieces.Next(piece) || piece.size() < 2 || piece.back() != u':') return Outcome::kFailed;
    CFSTree& tree = *creator_.tree_;
    CFolder* folder = FindRoot(tree, piece);
    if (!folder) {
      folder = tree.AddRoot(Kept(piece));
      RootSlot& slot = roots_[FoldedHash(piece)];
      if (slot.last && !host::EqualsNoCase(slot.last->GetName(), piece)) slot.collided = true;
      slot.last = folder;
    }
    if (!pieces.HasMore()) {
      if (!asFolder) return Outcome::kSkipped;
      out = folder;
      return Outcome::kAdded;
    }
    while (pieces.Next(piece)) {
      if (pieces.HasMore()) {
        CFolder* next = static_cast<CFolder*>(Lookup(*folder, piece, true));
        if (!next) {
          if (LookupFile(*folder, piece)) return Outcome::kSkipped;
          next = NewFolder(*folder, Kept(piece));
        }
        folder = next;
        continue;
      }
      CFSObject* node = Lookup(*folder, piece, false);
      if (!node)
        node = asFolder ? static_cast<CFSObject*>(NewFolder(*folder, Kept(piece))) : NewFile(*folder, Kept(piece));
      if (node->IsFolder() != asFolder) return Outcome::kSkipped;
      out = node;
    }
    return Outcome::kAdded;
  }

  bool FillFolder(CFolder& node, const QPMFile::CQPMFolderInfo& record, std::u16string_view path) {
    CIncrementalRestoreTreeFolderData& d = node.GetData();
    const CGenerationInfo::Updates updates = record.Updates;
    d.generation_.Attach(updates);
    d.generation_.SelectGeneration(0);
    d.attributes_.Reset(static_cast<uint32_t>(updates.size()));
    for (uint32_t i = 0; i < updates.size(); ++i) {
      const QPMFile::CQPMUpdateContents& u = updates[i];
      if (!GenerationOk(u)) return false;
      if (u.Kind == QPMFile::kKindRemoved) {
        if (i == 0) return false;
        d.attributes_[i] = d.attributes_[i - 1];
      } else if (!lookup_.GetFolderAttributes(u.Generation, path, d.attributes_[i])) {
        return false;
      }
    }
    d.checked_ = false;
    d.generation_.SelectGeneration(creator_.selected_);
    return true;
  }

  bool FillFile(CFSFile& node, const QPMFile::CQPMFileInfo& record, std::u16string_view path) {
    CIncrementalRestoreTreeFileData& d = node.GetData();
    d.generation_.Attach(record.Updates);
    const CGenerationInfo::Updates updates = d.generation_.GetUpdates();
    QPXFile::IQPXBackupedFile** entries = &d.entries_.one;
    if (updates.size() > 1) entries = d.entries_.many = creator_.tree_->AllocateEntries(static_cast<uint32_t>(updates.size()));
    else d.entries_.one = nullptr;
    for (uint32_t i = 0; i < updates.size(); ++i) {
      const QPMFile::CQPMUpdateContents& u = updates[i];
      if (!GenerationOk(u)) return false;
      entries[i] = u.Kind == QPMFile::kKindRemoved ? nullptr : lookup_.FindGenerationEntry(u.Generation, path);
    }
    d.checked_ = false;
    // A record without updates names a file that no generation holds.
    if (!d.generation_.SelectGeneration(creator_.selected_)) d.generation_.SetExists(false);
    return true;
  }

  CIncrementalRestoreQPXFileExtendCreator& creator_;
  const IGenerationLookup& lookup_;
  const QPMFile::CQPMFile& qpm_;
  long generationCount_;
  RecordFinder<QPMFile::CQPMFolderInfo> folderRecords_;
  RecordFinder<QPMFile::CQPMFileInfo> fileRecords_;
  std::u16string folderCache_, fileCache_;
  std::u16string path_;
  const QPMFile::CQPMFileInfo* record_ = nullptr;
  CFolder* folderCacheNode_ = nullptr;
  CFolder* fileCacheNode_ = nullptr;
  struct RootSlot {
    CFolder* last = nullptr;
    bool collided = false;
  };
  std::unordered_map<uint64_t, RootSlot> roots_;
};

CIncrementalRestoreQPXFileExtendCreator::CIncrementalRestoreQPXFileExtendCreator() = default;
CIncrementalRestoreQPXFileExtendCreator::~CIncrementalRestoreQPXFileExtendCreator() = default;

void CIncrementalRestoreQPXFileExtendCreator::ResetTree() {
  indexes_.clear();
  tree_.reset();
  totalFileSize_ = totalStoredSize_ = 0;
  checkedFiles_ = checkedFolders_ = 0;
}

bool CIncrementalRestoreQPXFileExtendCreator::Build(const IGenerationLookup& lookup) {
  bool ok = false;
  try {
    ResetTree();
    lookup_ = &lookup;
    tree_ = std::make_unique<CFSTree>();
    skipped_.clear();
    leftOut_.clear();
    notify_ = false;
    if (selected_ < 0 || selected_ >= lookup.GetGenerationCount()) selected_ = 0;
    BuildState state(*this, lookup);
    ok = RunBuild(lookup, state);
  } catch (const std::exception&) {
    // Allocation failure, or a lookup refusing a generation.
    ok = false;
  }
  if (!ok) {
    ResetTree();
    Error(host::StringId::kTreeFailed);
    return false;
  }
  return true;
}

bool CIncrementalRestoreQPXFileExtendCreator::RunBuild(const IGenerationLookup& lookup, BuildState& state) {
  const QPMFile::CQPMFile& qpm = lookup.GetManagement();
  int32_t total = 0;
  if (sink_) {
    sink_->ClearError();
    sink_->ClearMessage();
    uint64_t records = 0;
    for (int t = 0; t < 2; ++t) records += qpm.GetFolderTable(t).size() + qpm.GetFileTable(t).size();
    total = static_cast<int32_t>(std::min<uint64_t>(records, INT32_MAX));
    sink_->SetTotal(total);
    sink_->SetCurrent(0);
  }
  int32_t current = 0;
  // The position goes to the sink (whose setters yield the processor to the
  // display) every few hundred records: a display refreshed ten times a
  // second shows no difference, and a yield after every record would hand
  // the processor to every busy process on the machine a million times.
  auto step = [&] {
    if (current < INT32_MAX) ++current;
    if (sink_ && current % kRecordsPerYield == 0) sink_->SetCurrent(current);
  };

  Message(host::StringId::kRegisteringFolders);
  for (int t = 0; t < 2; ++t) {
    for (const QPMFile::CQPMFolderInfo r : qpm.GetFolderTable(t)) {
      const Outcome outcome = state.RegisterFolder(r);
      if (outcome == Outcome::kFailed) return false;
      if (outcome == Outcome::kSkipped) skipped_.push_back(r.Path());
      if (outcome == Outcome::kLeftOut) leftOut_.push_back(r.Path());
      step();
    }
  }
  Message(host::StringId::kRegisteringFiles);
  for (int t = 0; t < 2; ++t) {
    for (const QPMFile::CQPMFileInfo r : qpm.GetFileTable(t)) {
      const Outcome outcome = state.RegisterFile(r);
      if (outcome == Outcome::kFailed) return false;
      if (outcome == Outcome::kSkipped) skipped_.push_back(r.Path());
      if (outcome == Outcome::kLeftOut) leftOut_.push_back(r.Path());
      step();
    }
  }
  if (sink_) sink_->SetCurrent(std::min(current, total));
  RecalcTotals();
  SettlePresence();
  notify_ = true;
  return true;
}

// ---------------------------------------------------------------------------
// Generations and totals

bool CIncrementalRestoreQPXFileExtendCreator::SwitchGeneration(long g, CRecieveIncrementalRestoreTreeChange* receiver) {
  if (!tree_) return false;
  if (receiver) receiver->SwitchStarting();
  selected_ = g;
  CSwitchGenerationOperator op(g, receiver);
  bool ok = tree_->Traverse(op);
  if (ok) {
    SettleAncestorOnlyFolders(receiver);
    ok = RecalcTotals();
  }
  // Also after a failure: a view must never meet a row of a node that is
  // no longer present.
  SettlePresence();
  if (ok && receiver) receiver->Prune();
  if (receiver) receiver->SwitchFinished();
  return ok;
}

void CIncrementalRestoreQPXFileExtendCreator::SettleAncestorOnlyFolders(
    CRecieveIncrementalRestoreTreeChange* receiver) {
  if (!tree_) return;
  for (CFolder* root : tree_->GetRoots()) {
    ForEachFolderBottomUp(*root, [&](CFolder& f) {
      CIncrementalRestoreTreeFolderData& d = f.GetData();
      if (!f.GetParent() || !d.IsAncestorOnly()) return;
      const bool before = d.Exists();
      d.generation_.SetExists(f.HasExistingChild());
      if (!receiver || before == d.Exists()) return;
      if (d.Exists()) receiver->FolderAdded(f.GetPath(), d.IsChecked());
      else receiver->FolderRemoved(f.GetPath());
    });
  }
}

void CIncrementalRestoreQPXFileExtendCreator::SettlePresence() {
  if (!tree_) return;
  auto fill = [](auto& present, const auto& all) {
    size_t count = 0;
    for (const auto* node : all) count += node->Exists() ? 1 : 0;
    present.clear();
    // Exactly the size needed: a tree of a million nodes keeps these.
    if (present.capacity() > 2 * count + 8) present.shrink_to_fit();
    present.reserve(count);
    for (auto* node : all) {
      node->row_ = node->Exists() ? static_cast<int32_t>(present.size()) : -1;
      if (node->Exists()) present.push_back(node);
    }
  };
  for (CFolder* root : tree_->GetRoots()) {
    ForEachFolderBottomUp(*root, [&](CFolder& f) {
      fill(f.presentFiles_, f.files_);
      fill(f.presentFolders_, f.folders_);
    });
  }
  fill(tree_->presentRoots_, tree_->roots_);
}

// Recalculate of one folder from its children, whose totals are current.
void CIncrementalRestoreQPXFileExtendCreator::RecalcFolder(CFolder& f) {
  CIncrementalRestoreTreeFolderData& d = f.GetData();
  uint64_t fileSize = 0, storedSize = 0;
  int32_t files = 0, folders = 0;
  bool anyExists = false;
  for (const CFSFile* file : f.GetFiles()) {
    const CIncrementalRestoreTreeFileData& fd = file->GetData();
    anyExists = anyExists || fd.Exists();
    if (!fd.IsChecked()) continue;
    ++files;
    fileSize += fd.GetFileSize();
    storedSize += fd.GetStoredSize();
  }
  for (const CFolder* sub : f.GetFolders()) {
    const CIncrementalRestoreTreeFolderData& sd = sub->GetData();
    anyExists = anyExists || sd.Exists();
    if (!sd.IsChecked()) continue;
    files += sd.GetCheckedFileCount();
    fileSize += sd.GetTotalFileSize();
    storedSize += sd.GetTotalStoredSize();
    folders += 1 + sd.GetCheckedFolderCount();
  }
  d.fileSize_ = fileSize;
  d.storedSize_ = storedSize;
  d.checkedFiles_ = files;
  d.checkedFolders_ = folders;
  if (f.GetParent() && d.IsAncestorOnly()) d.generation_.SetExists(anyExists);
  if (files != 0) d.checked_ = true;
  else if (folders != 0 || anyExists) d.checked_ = folders != 0;
}

bool CIncrementalRestoreQPXFileExtendCreator::RecalcTotals() {
  totalFileSize_ = totalStoredSize_ = 0;
  checkedFiles_ = checkedFolders_ = 0;
  if (!tree_) return true;
  for (CFolder* root : tree_->GetRoots()) {
    ForEachFolderBottomUp(*root, RecalcFolder);
    SettleRoot(*root);
    AddRootTotals(*root, +1);
  }
  return true;
}

void CIncrementalRestoreQPXFileExtendCreator::SettleRoot(CFolder& root) {
  // Roots are never switched; their presence follows their children. A
  // root has a checked child exactly when its counts are not 0 (a checked
  // file adds one file, a checked folder one folder).
  CIncrementalRestoreTreeFolderData& rd = root.GetData();
  if (rd.checkedFiles_ != 0 || rd.checkedFolders_ != 0) {
    rd.generation_.SetExists(true);
    rd.checked_ = true;
  } else {
    rd.generation_.SetExists(root.HasExistingChild());
    rd.checked_ = false;
  }
}

void CIncrementalRestoreQPXFileExtendCreator::AddRootTotals(const CFolder& root, int sign) {
  const CIncrementalRestoreTreeFolderData& rd = root.GetData();
  const uint64_t s = static_cast<uint64_t>(static_cast<int64_t>(sign));
  totalFileSize_ += s * rd.GetTotalFileSize();
  totalStoredSize_ += s * rd.GetTotalStoredSize();
  checkedFiles_ += sign * rd.GetCheckedFileCount();
  checkedFolders_ += sign * rd.GetCheckedFolderCount();
}

// ---------------------------------------------------------------------------
// Check marks

void CIncrementalRestoreQPXFileExtendCreator::ChildFolderChecked(CFolder* folder) {
  for (; folder; folder = folder->GetParent()) {
    CIncrementalRestoreTreeFolderData& d = folder->GetData();
    ++d.checkedFolders_;
    if (d.checked_) return;
    d.checked_ = true;
    if (!notify_) return;
  }
}

void CIncrementalRestoreQPXFileExtendCreator::ChildFolderUnchecked(CFolder* folder) {
  for (; folder; folder = folder->GetParent()) {
    CIncrementalRestoreTreeFolderData& d = folder->GetData();
    --d.checkedFolders_;
    if (d.checkedFiles_ != 0 || d.checkedFolders_ != 0 || !d.checked_) return;
    d.checked_ = false;
    if (!notify_) return;
  }
}

void CIncrementalRestoreQPXFileExtendCreator::FileCheckChanged(CFSFile& file) {
  const CIncrementalRestoreTreeFileData& fd = file.GetData();
  // Only a present file counts.
  if (!fd.Exists()) return;
  const bool checking = fd.checked_;
  const uint64_t size = fd.GetFileSize(), stored = fd.GetStoredSize();
  for (CFolder* a = file.GetParent(); a; a = a->GetParent()) {
    CIncrementalRestoreTreeFolderData& d = a->GetData();
    if (checking) {
      d.fileSize_ += size;
      d.storedSize_ += stored;
      if (++d.checkedFiles_ == 1) {
        d.checked_ = true;
        if (notify_) ChildFolderChecked(a->GetParent());
      }
    } else {
      d.fileSize_ -= size;
      d.storedSize_ -= stored;
      if (--d.checkedFiles_ == 0) {
        d.checked_ = false;
        if (notify_) ChildFolderUnchecked(a->GetParent());
      }
    }
  }
}

void CIncrementalRestoreQPXFileExtendCreator::SetFolderChecked(CFolder& folder, bool state) {
  auto mark = [this, state](CFolder& f) {
    f.GetData().checked_ = state;
    if (state) ChildFolderChecked(f.GetParent());
    else ChildFolderUnchecked(f.GetParent());
  };
  mark(folder);
  notify_ = false;
  for (CFSFile* file : folder.GetFiles()) file->GetData().checked_ = state;
  ForEachFolderBelow(folder, [&](CFolder& f) {
    mark(f);
    for (CFSFile* file : f.GetFiles()) file->GetData().checked_ = state;
  });
  // A subfolder's report may have unchecked a folder above it; the subtree
  // ends as asked.
  folder.GetData().checked_ = state;
  ForEachFolderBelow(folder, [state](CFolder& f) { f.GetData().checked_ = state; });
}

namespace {

// What a node adds to its parent's totals.
struct Share {
  uint64_t fileSize = 0, storedSize = 0;
  int32_t files = 0, folders = 0;
  bool operator==(const Share&) const = default;
};

Share ShareOf(const CFSObject& node) {
  if (!node.IsFolder()) {
    const CIncrementalRestoreTreeFileData& fd = static_cast<const CFSFile&>(node).GetData();
    if (!fd.IsChecked()) return {};
    return {fd.GetFileSize(), fd.GetStoredSize(), 1, 0};
  }
  const CIncrementalRestoreTreeFolderData& d = static_cast<const CFolder&>(node).GetData();
  if (!d.IsChecked()) return {};
  return {d.GetTotalFileSize(), d.GetTotalStoredSize(), d.GetCheckedFileCount(), 1 + d.GetCheckedFolderCount()};
}

// A folder's own totals and mark, as they stood.
struct Totals {
  uint64_t fileSize, storedSize;
  int32_t files, folders;
  bool checked;
};

}  // namespace

void CIncrementalRestoreQPXFileExtendCreator::SetChecked(CFSObject& node, bool state, std::vector<CFolder*>* changed) {
  if (!tree_) return;
  // The marks are set as the path form always set them (the folders above
  // take and lose their marks as files and folders below are marked); the
  // totals of the node's subtree are then recomputed, and those of each
  // folder above corrected by what its child's share changed, so that
  // marking the files of a folder one by one costs the depth of the tree
  // each, not the size of the folder.
  std::vector<Totals> before;
  for (CFolder* a = node.GetParent(); a; a = a->GetParent()) {
    const CIncrementalRestoreTreeFolderData& d = a->GetData();
    before.push_back({d.fileSize_, d.storedSize_, d.checkedFiles_, d.checkedFolders_, d.checked_});
  }
  const Share oldShare = ShareOf(node);
  CFolder* root = node.GetParent();
  while (root && root->GetParent()) root = root->GetParent();
  if (!root) root = static_cast<CFolder*>(&node);
  AddRootTotals(*root, -1);

  const bool saved = notify_;
  notify_ = true;
  if (node.IsFolder()) {
    CFolder& folder = static_cast<CFolder&>(node);
    const Totals mine{folder.GetData().fileSize_, folder.GetData().storedSize_, folder.GetData().checkedFiles_,
                      folder.GetData().checkedFolders_, folder.GetData().checked_};
    SetFolderChecked(folder, state);
    ForEachFolderBottomUp(folder, RecalcFolder);
    if (!folder.GetParent()) SettleRoot(folder);
    const CIncrementalRestoreTreeFolderData& d = folder.GetData();
    // An absent folder shows no totals and no mark, whatever it holds.
    if (changed && d.Exists() && (mine.fileSize != d.fileSize_ || mine.storedSize != d.storedSize_ ||
                    mine.files != d.checkedFiles_ || mine.folders != d.checkedFolders_ || mine.checked != d.checked_))
      changed->push_back(&folder);
  } else {
    CFSFile& file = static_cast<CFSFile&>(node);
    if (file.GetData().checked_ != state) {
      file.GetData().checked_ = state;
      FileCheckChanged(file);
    }
  }
  notify_ = saved;

  Share childOld = oldShare, childNew = ShareOf(node);
  size_t i = 0;
  for (CFolder* a = node.GetParent(); a; a = a->GetParent(), ++i) {
    CIncrementalRestoreTreeFolderData& d = a->GetData();
    const Totals& was = before[i];
    const Share aOld = was.checked && d.Exists()
                           ? Share{was.fileSize, was.storedSize, was.files, 1 + was.folders}
                           : Share{};
    d.fileSize_ = was.fileSize - childOld.fileSize + childNew.fileSize;
    d.storedSize_ = was.storedSize - childOld.storedSize + childNew.storedSize;
    d.checkedFiles_ = was.files - childOld.files + childNew.files;
    d.checkedFolders_ = was.folders - childOld.folders + childNew.folders;
    if (!a->GetParent()) {
      SettleRoot(*a);
    } else if (d.checkedFiles_ != 0) {
      d.checked_ = true;
    } else if (d.checkedFolders_ != 0 || a->HasPresentChild()) {
      d.checked_ = d.checkedFolders_ != 0;
    }
    const bool moved = d.Exists() && (was.fileSize != d.fileSize_ || was.storedSize != d.storedSize_ || was.files != d.checkedFiles_ ||
                       was.folders != d.checkedFolders_ || was.checked != d.checked_);
    if (changed && moved) changed->push_back(a);
    childOld = aOld;
    childNew = ShareOf(*a);
  }
  AddRootTotals(*root, +1);
}

void CIncrementalRestoreQPXFileExtendCreator::SetChecked(std::u16string_view path, bool state) {
  if (CFSObject* node = FindNode(path)) SetChecked(*node, state);
}

CFSObject* CIncrementalRestoreQPXFileExtendCreator::FindNode(std::u16string_view path) const {
  if (!tree_) return nullptr;
  PathPieces pieces(path);
  std::u16string_view piece;
  if (!pieces.Next(piece)) return nullptr;
  CFSObject* node = tree_->FindRoot(piece);
  while (node && pieces.Next(piece)) {
    if (!node->IsFolder()) return nullptr;
    const CFolder& folder = *static_cast<CFolder*>(node);
    auto it = indexes_.find(&folder);
    CFSObject* found = nullptr;
    if (it != indexes_.end() && it->second->Find(piece, false, found)) node = found;
    else node = folder.FindChild(piece);
  }
  return node;
}

}  // namespace IncrementalBackup
