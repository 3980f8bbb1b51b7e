#include "restore/restore_driver.h"

#include <cerrno>

#include "archive/qpx_file.h"
#include "archive/qpx_file_extend.h"
#include "host/file_attributes.h"
#include "host/host_path.h"
#include "host/text.h"
#include "host/volume.h"
#include "paths/path_helpers.h"

namespace QPXFile {

namespace {

constexpr size_t kMaxPathLength = 256;          // paths must stay shorter than this
constexpr size_t kLongFolderLength = 247;       // beyond this a folder is "too long" when it fails
constexpr int kMaxFolderDepth = 1024;           // guards the recursive folder creation

std::u16string_view WithoutTrailingSeparators(std::u16string_view path) {
  while (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
  return path;
}

bool IsDrive(std::u16string_view piece) {
  if (piece.size() != 2 || piece[1] != u':') return false;
  const char16_t c = piece[0];
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// The folder holding `path`, or empty when `path` is a drive or has no folder.
std::u16string ParentOf(std::u16string_view path) {
  std::u16string_view trimmed = WithoutTrailingSeparators(path);
  size_t cut = trimmed.rfind(u'\\');
  if (cut == std::u16string_view::npos) return {};
  return std::u16string(trimmed.substr(0, cut));
}

bool ExistsAsFolder(std::u16string_view path) {
  // A link standing for a folder is followed: a user's destination may well
  // be reached through one, and the host refuses to write through links only
  // at the final component of a file.
  host::PathKind kind = host::GetPathKind(path);
  return kind == host::PathKind::kFolder || kind == host::PathKind::kSymbolicLink;
}

// Creates `path` and every missing folder above it.
bool EnsureFolder(std::u16string_view path, int depth = 0) {
  if (path.empty() || depth > kMaxFolderDepth) return false;
  host::PathKind kind = host::GetPathKind(path);
  if (kind == host::PathKind::kFolder || kind == host::PathKind::kSymbolicLink) return true;
  if (kind != host::PathKind::kMissing) return false;
  std::u16string parent = ParentOf(path);
  if (parent.empty()) return false;  // a drive that is not there
  if (!EnsureFolder(parent, depth + 1)) return false;
  return host::CreateFolder(path) != host::CreateFolderResult::kFailed;
}

bool IsDestinationDiskFull(int systemError) { return systemError == ENOSPC || systemError == EDQUOT; }

// No file can be larger than the host's largest file offset; a record that
// says otherwise is damaged.
constexpr uint64_t kLargestPossibleFile = static_cast<uint64_t>(INT64_MAX);
constexpr uint64_t kReserveFrom = 1024 * 1024;  // files from this size have their space set aside

RestoreObstacle UnhostableIn(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0x20) return RestoreObstacle::kControlCharacter;
    if (c >= 0xD800 && c < 0xDC00) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
        ++i;
        continue;
      }
      return RestoreObstacle::kUnpairedSurrogate;
    }
    if (c >= 0xDC00 && c < 0xE000) return RestoreObstacle::kUnpairedSurrogate;
  }
  return RestoreObstacle::kNone;
}

// Whether the file at `path` itself (a link not followed) is one the run
// must leave alone.
bool IsProtected(const RestoreTarget& target, const std::u16string& path) {
  std::string hostPath;
  host::FileIdentity id;
  if (target.protectedFiles.empty() || !host::ToHostPath(path, hostPath) || !host::GetFileIdentity(hostPath, false, id))
    return false;
  for (const host::FileIdentity& kept : target.protectedFiles)
    if (kept == id) return true;
  return false;
}

size_t Utf8Length(std::u16string_view text) { return host::WideToUtf8(text).size(); }

// The components of `relative` (backslash-separated, empty pieces skipped).
std::vector<std::u16string> Components(std::u16string_view relative) {
  std::vector<std::u16string> out;
  while (!relative.empty()) {
    size_t cut = relative.find(u'\\');
    if (cut != 0) out.emplace_back(relative.substr(0, cut));
    if (cut == std::u16string_view::npos) break;
    relative.remove_prefix(cut + 1);
  }
  return out;
}

// What the host knows of the volume that will hold `path`.
bool VolumeKind(std::u16string_view path, host::FileSystemKind& kind) {
  host::VolumeFacts facts;
  if (!host::GetVolumeFacts(path, facts)) return false;
  kind = facts.kind;
  return true;
}

// Compression is asked of NTFS only; anywhere else it counts as not
// supported, which the caller turns into a question.
host::CompressionResult CompressOnNtfs(std::u16string_view path) {
  host::FileSystemKind kind;
  if (!VolumeKind(path, kind) || kind != host::FileSystemKind::kNtfs) return host::CompressionResult::kNotSupported;
  return host::SetCompression(path, true);
}

}  // namespace

// ---- Names and destinations

bool IsSafeName(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  for (char16_t c : name) {
    if (c < 0x20) return false;
    switch (c) {
      case u'\\':
      case u'/':
      case u':':
      case u'*':
      case u'?':
      case u'"':
      case u'<':
      case u'>':
      case u'|':
        return false;
      default:
        break;
    }
  }
  return true;
}

bool IsSafeRelativeFolder(std::u16string_view relativeFolder) {
  if (!relativeFolder.empty() && relativeFolder.front() == u'\\') relativeFolder.remove_prefix(1);
  if (relativeFolder.empty()) return true;
  for (;;) {
    size_t cut = relativeFolder.find(u'\\');
    if (!IsSafeName(relativeFolder.substr(0, cut))) return false;
    if (cut == std::u16string_view::npos) return true;
    relativeFolder.remove_prefix(cut + 1);
  }
}

bool IsSafeStoredFolder(std::u16string_view folder) {
  if (folder.size() < 2 || !IsDrive(folder.substr(0, 2))) return false;
  std::u16string_view rest = folder.substr(2);
  if (rest.empty() || rest == u"\\") return true;
  if (rest.front() != u'\\') return false;
  if (rest.size() > 1 && rest.back() == u'\\') rest.remove_suffix(1);
  return IsSafeRelativeFolder(rest);
}

std::u16string MapToDestination(const RestoreTarget& target, const std::u16string& storedFolder) {
  if (!target.hasDestinationRoot) return storedFolder;
  std::u16string_view root = WithoutTrailingSeparators(target.destinationRoot);
  std::u16string_view shown = WithoutTrailingSeparators(target.shownFolder);
  std::u16string_view folder = WithoutTrailingSeparators(storedFolder);
  if (root.empty() || shown.empty()) return {};
  // The shown folder is replaced only as a whole leading part of the stored
  // folder: "C:\Data" must not turn "C:\Database" or "D:\x\C:\Data" into a
  // destination.
  if (!host::StartsWithNoCase(folder, shown)) return {};
  if (folder.size() > shown.size() && folder[shown.size()] != u'\\') return {};
  std::u16string out(root);
  out.append(folder.substr(shown.size()));
  if (out.size() == 2 && out[1] == u':') out.push_back(u'\\');
  return out;
}

std::vector<host::FileIdentity> ProtectedFiles(const std::vector<std::string>& archives,
                                               const std::vector<std::string>& others) {
  std::vector<host::FileIdentity> out;
  host::FileIdentity id;
  for (const std::string& path : others)
    if (host::GetFileIdentity(path, true, id)) out.push_back(id);
  for (const std::string& path : archives) {
    if (!host::GetFileIdentity(path, true, id)) continue;
    out.push_back(id);
    // Volumes are named as the split-volume stream names them: "NAME.1", "NAME.2", ...
    for (uint64_t k = 1; host::GetFileIdentity(path + "." + std::to_string(k), true, id); ++k) out.push_back(id);
  }
  return out;
}

std::u16string ShortenName(std::u16string_view name, size_t maxBytes) {
  // FNV-1a over the UTF-16 units.
  uint32_t hash = 2166136261u;
  for (char16_t c : name) {
    hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    hash = (hash ^ static_cast<uint8_t>(c >> 8)) * 16777619u;
  }
  std::u16string suffix = u"~";
  for (int shift = 28; shift >= 0; shift -= 4) suffix.push_back(u"0123456789abcdef"[(hash >> shift) & 0xF]);
  // An extension is what tells a program what the file is; a long tail after
  // the last dot is no extension and is cut with the rest.
  std::u16string_view stem = name;
  std::u16string_view extension;
  const size_t dot = name.rfind(u'.');
  if (dot != std::u16string_view::npos && dot > 0 && Utf8Length(name.substr(dot)) <= 32) {
    stem = name.substr(0, dot);
    extension = name.substr(dot);
  }
  const size_t fixed = suffix.size() + Utf8Length(extension);
  const size_t room = maxBytes > fixed ? maxBytes - fixed : 0;
  size_t bytes = 0;
  size_t keep = 0;
  while (keep < stem.size()) {
    size_t units = 1;
    const char16_t c = stem[keep];
    if (c >= 0xD800 && c < 0xDC00 && keep + 1 < stem.size()) units = 2;
    const size_t add = Utf8Length(stem.substr(keep, units));
    if (bytes + add > room) break;
    bytes += add;
    keep += units;
  }
  std::u16string out(stem.substr(0, keep));
  out += suffix;
  out += extension;
  return out;
}

// ---- CQPXFile_RestoreImplement

CQPXFile_RestoreImplement::CQPXFile_RestoreImplement(CQPXFile& archive, RestoreEventCallback events,
                                                     RestoreTarget target, ExtractProgress progress)
    : archive_(archive), events_(std::move(events)), target_(std::move(target)), progress_(std::move(progress)) {
  if (!target_.confinedBelow.empty())
    confinement_ = WithoutTrailingSeparators(target_.confinedBelow);
  else if (target_.hasDestinationRoot)
    confinement_ = WithoutTrailingSeparators(target_.destinationRoot);
}

CQPXFile_RestoreImplement::~CQPXFile_RestoreImplement() = default;

bool CQPXFile_RestoreImplement::Run() {
  // Output files are opened below the streams, out of this run's sight;
  // the guard carries the confinement and the protected files down there.
  std::string hostRoot;
  if (!confinement_.empty() && !host::ToHostPath(confinement_, hostRoot)) hostRoot.clear();
  host::WriteGuard guard(hostRoot, target_.protectedFiles);
  return Prepare() && RestoreAll() && Finish();
}

CQPXFile_RestoreImplement::FolderResolution CQPXFile_RestoreImplement::ResolveFolder(const std::u16string& folder,
                                                                                     bool create) {
  FolderResolution result;
  std::u16string_view wanted = WithoutTrailingSeparators(folder);
  if (confinement_.empty()) return result;
  const bool isRoot = host::EqualsNoCase(wanted, confinement_);
  if (!isRoot && !paths::IsBelow(confinement_, wanted)) return result;
  std::string hostRoot;
  if (!host::ToHostPath(confinement_, hostRoot)) return result;

  host::FolderHandle handle;
  int error = 0;
  if (!handle.Open(hostRoot, error)) {
    std::string failedAt;
    if (error != ENOENT || !create || !host::MakeFolderPath(hostRoot, error, failedAt) ||
        !handle.Open(hostRoot, error)) {
      result.kind = FolderResolution::kFailed;
      result.failedAt = confinement_;
      result.error = error;
      return result;
    }
  }
  result.actual = confinement_;
  bool shortened = false;
  std::u16string firstLongName;
  const std::vector<std::u16string> components = Components(wanted.substr(confinement_.size()));
  for (const std::u16string& component : components) {
    result.last = &component == &components.back();
    std::u16string name = component;
    host::FolderHandle child;
    host::FolderStep step = handle.Enter(host::WideToUtf8(name), create, child, error);
    if (step == host::FolderStep::kFailed && error == ENAMETOOLONG) {
      name = ShortenName(component);
      step = handle.Enter(host::WideToUtf8(name), create, child, error);
      if (step != host::FolderStep::kFailed && !shortened) {
        shortened = true;
        firstLongName = component;
      }
    }
    const std::u16string here = paths::Join(result.actual, name);
    switch (step) {
      case host::FolderStep::kEntered:
      case host::FolderStep::kCreated:
        handle = std::move(child);
        result.actual = here;
        continue;
      case host::FolderStep::kLink:
      case host::FolderStep::kNotFolder:
        result.kind = FolderResolution::kObstacle;
        result.obstacle = step == host::FolderStep::kLink ? RestoreObstacle::kLink : RestoreObstacle::kNotFolder;
        result.failedAt = here;
        result.error = step == host::FolderStep::kLink ? ELOOP : ENOTDIR;
        return result;
      case host::FolderStep::kMissing:
        error = ENOENT;
        [[fallthrough]];
      case host::FolderStep::kFailed:
        result.kind = FolderResolution::kFailed;
        result.failedAt = here;
        result.error = error;
        return result;
    }
  }
  result.kind = FolderResolution::kDone;
  if (shortened) {
    bool reported = false;
    for (const std::u16string& done : shortenedFolders_)
      if (host::EqualsNoCase(done, result.actual)) reported = true;
    if (!reported) {
      shortenedFolders_.push_back(result.actual);
      const std::u16string stored(wanted);
      Notify(kEventNameShortened, &result.actual, -1, RestoreEventDetails{.detail = &stored});
    }
  }
  return result;
}

bool CQPXFile_RestoreImplement::Prepare() {
  if (!archive_.Load()) return false;
  count_ = archive_.GetEntryCount();
  return Notify(kEventRunStarted, nullptr, -1);
}

bool CQPXFile_RestoreImplement::RestoreAll() {
  for (long i = 0; i < count_; ++i) {
    if (!RestoreEntry(i)) return false;
  }
  return true;
}

bool CQPXFile_RestoreImplement::Finish() {
  Notify(kEventRunEnded, nullptr, -1);
  return true;
}

bool CQPXFile_RestoreImplement::RestoreEntry(long index) {
  CRestoreFile_Implement worker(*this, index);
  return worker.RunPhases();
}

bool CQPXFile_RestoreImplement::Notify(int event, const std::u16string* text, long index, ExtractFailure failure,
                                       int systemError) {
  return Notify(event, text, index, RestoreEventDetails{.failure = failure, .systemError = systemError});
}

bool CQPXFile_RestoreImplement::Notify(int event, const std::u16string* text, long index,
                                       const RestoreEventDetails& details) {
  RestoreEvent event_args;
  event_args.extractFailure = details.failure;
  event_args.systemError = details.systemError;
  event_args.detail = details.detail;
  event_args.obstacle = details.obstacle;
  return Send(event, text, index, event_args);
}

void CQPXFile_RestoreImplement::ReportAttributesNotKept(const std::u16string& path, long index, uint32_t requested,
                                                        uint32_t kept) {
  RestoreEvent event_args;
  event_args.attributesNotKept = requested & host::kSettableAttributes & ~kept;
  if (event_args.attributesNotKept != 0) Send(kEventAttributesNotKept, &path, index, event_args);
}

bool CQPXFile_RestoreImplement::Send(int event, const std::u16string* text, long index, RestoreEvent& event_args) {
  // Without a listener nobody can agree to anything, so every question is
  // answered the careful way.
  if (!events_) return false;
  RestoreEventRecord record;
  record.lastIndex = EntriesToRestore() - 1;
  if (text != nullptr) record.text = *text;
  record.position = index >= 0 ? PositionOf(index) : -1;
  event_args.code = event;
  event_args.text = text;
  event_args.entry = index >= 0 ? archive_.GetEntryHeader(index) : nullptr;
  event_args.record = &record;
  event_args.position = &record.position;
  return events_(event_args);
}

// ---- CQPXFolderList_DataChange

bool CQPXFolderList_DataChange::Init(const CQPXFolderList* list) {
  table_.Clear();
  index_.clear();
  if (list != nullptr && !list->CopyFolders(table_)) return false;
  const int count = table_.GetCount();
  replaced_.assign(count, false);
  handled_.assign(count, false);
  index_.reserve(count);
  for (int i = 0; i < count; ++i) index_.emplace(host::FoldCase(table_.paths[i]), i);
  return true;
}

int CQPXFolderList_DataChange::Find(std::u16string_view path) const {
  auto it = index_.find(host::FoldCase(WithoutTrailingSeparators(path)));
  if (it == index_.end()) {
    // Drive roots are kept as "C:\" in some lists and "C:" in others.
    it = index_.find(host::FoldCase(path));
    if (it == index_.end()) return -1;
  }
  return it->second;
}

void CQPXFolderList_DataChange::Replace(int index, const std::u16string& path) {
  auto old = index_.find(host::FoldCase(table_.paths[index]));
  if (old != index_.end() && old->second == index) index_.erase(old);
  table_.paths[index] = path;
  table_.pathLengths[index] = static_cast<uint16_t>(path.size() > 0xFFFF ? 0xFFFF : path.size());
  replaced_[index] = true;
  index_.emplace(host::FoldCase(path), index);
}

// ---- CQPXFileExtend_RestoreImplement

CQPXFileExtend_RestoreImplement::CQPXFileExtend_RestoreImplement(CQPXFileExtend& archive,
                                                                 RestoreEventCallback events, RestoreTarget target,
                                                                 ExtractProgress progress)
    : CQPXFile_RestoreImplement(archive, std::move(events), std::move(target), std::move(progress)),
      pathInformation_(archive.GetPathInformation()) {}

CQPXFileExtend& CQPXFileExtend_RestoreImplement::GetExtendArchive() const {
  return static_cast<CQPXFileExtend&>(archive_);
}

bool CQPXFileExtend_RestoreImplement::Prepare() {
  if (!archive_.Load()) return false;
  count_ = archive_.GetEntryCount();
  excluded_.assign(static_cast<size_t>(count_), false);
  excludedCount_ = 0;
  excludedMet_ = 0;
  if (pathInformation_.GetCount() > 0) {
    std::u16string path;
    for (long i = 0; i < count_; ++i) {
      const CQPXBackupedFileHeader* header = archive_.GetEntryHeader(i);
      // An entry whose names cannot be read is not left out here; phase 1
      // reports it.
      if (header == nullptr || !header->GetFullPath(path)) continue;
      if (pathInformation_.Matches(path)) {
        excluded_[i] = true;
        ++excludedCount_;
      }
    }
  }
  if (!folders_.Init(GetExtendArchive().GetFolderList())) return false;
  return Notify(kEventRunStarted, nullptr, -1);
}

bool CQPXFileExtend_RestoreImplement::IsExcluded(long index) const {
  return index >= 0 && static_cast<size_t>(index) < excluded_.size() && excluded_[index];
}

bool CQPXFileExtend_RestoreImplement::RestoreEntry(long index) {
  if (IsExcluded(index)) {
    ++excludedMet_;
    return true;
  }
  CRestoreFileExtend_Implement worker(*this, index);
  return worker.RunPhases();
}

bool CQPXFileExtend_RestoreImplement::CreateFolderChain(const std::u16string& path) { return EnsureFolder(path); }

bool CQPXFileExtend_RestoreImplement::Finish() {
  // Folders without files are restored too; each folder of the list that no
  // entry has brought into the run yet is made now.
  std::u16string_view root = WithoutTrailingSeparators(target_.destinationRoot);
  std::u16string_view shown = WithoutTrailingSeparators(target_.shownFolder);
  for (int i = 0; i < folders_.GetCount(); ++i) {
    if (folders_.IsHandled(i)) continue;
    const std::u16string stored = folders_.GetPath(i);
    if (pathInformation_.Matches(stored) || pathInformation_.Matches(stored + u"\\")) continue;
    std::u16string destination = stored;
    bool safe;
    if (target_.hasDestinationRoot) {
      destination = MapToDestination(target_, stored);
      // Folders outside the shown folder are not part of this restore, and
      // the destination the user picked keeps its own attributes.
      if (destination.empty() || host::EqualsNoCase(WithoutTrailingSeparators(destination), root)) continue;
      safe = IsSafeRelativeFolder(WithoutTrailingSeparators(stored).substr(shown.size()));
    } else {
      safe = IsSafeStoredFolder(stored);
    }
    if (!safe) {
      Notify(kEventFolderFailed, &stored, -1);
      continue;
    }
    FolderResolution made;
    if (destination.size() < kMaxPathLength) made = ResolveFolder(destination, true);
    if (made.kind == FolderResolution::kObstacle && made.obstacle == RestoreObstacle::kNotFolder) {
      // A file where the folder goes: the folder cannot be made.
      Notify(kEventFolderNotCreated, &made.failedAt, -1, RestoreEventDetails{.systemError = ENOTDIR});
      return false;
    }
    if (made.kind == FolderResolution::kObstacle) {
      // Like an entry below a link, the folder is reported and passed over.
      if (!Notify(kEventFolderObstacle, &destination, -1,
                  RestoreEventDetails{.systemError = made.error, .detail = &made.failedAt, .obstacle = made.obstacle}))
        return false;
      continue;
    }
    folders_.MarkHandled(i);
    if (made.kind == FolderResolution::kDone) destination = made.actual;
    if (destination != stored) folders_.Replace(i, destination);
    if (destination.size() >= kMaxPathLength || made.kind == FolderResolution::kFailed ||
        (made.kind == FolderResolution::kNotConfined && !CreateFolderChain(destination))) {
      if (destination.size() > kLongFolderLength) Notify(kEventFolderTooLong, &destination, -1);
      const std::u16string& failed = made.kind == FolderResolution::kFailed ? made.failedAt : destination;
      Notify(kEventFolderNotCreated, &failed, -1,
             RestoreEventDetails{.systemError = made.kind == FolderResolution::kFailed ? made.error : errno});
      return false;
    }
  }
  RestoreFolderAttributes();
  Notify(kEventRunEnded, nullptr, -1);
  return true;
}

bool CQPXFileExtend_RestoreImplement::RestoreFolderAttributes() {
  bool all = true;
  for (int i = 0; i < folders_.GetCount(); ++i) {
    if (!folders_.IsHandled(i)) continue;
    // A folder behind a link or a file was reported with the entries below
    // it; its path would lead elsewhere, so nothing is set on it.
    const FolderResolution found = ResolveFolder(folders_.GetPath(i), false);
    if (found.kind == FolderResolution::kObstacle || found.kind == FolderResolution::kFailed) continue;
    if (!RestoreOneFolder(i)) {
      all = false;
      const std::u16string path = folders_.GetPath(i);
      Notify(kEventFolderFailed, &path, -1);
    }
  }
  return all;
}

bool CQPXFileExtend_RestoreImplement::RestoreOneFolder(int index) {
  const std::u16string path = folders_.GetPath(index);
  const uint32_t attributes = folders_.GetAttributes(index);
  if (!host::SetFileAttributes(path, host::kAttributeDirectory)) return false;
  bool network = false;
  const bool networkKnown = host::IsNetworkDrive(path, network);
  if (!(networkKnown && network)) {
    if (!host::SetFileTimes(path, folders_.GetCreationTime(index), folders_.GetLastAccessTime(index),
                            folders_.GetLastWriteTime(index)))
      return false;
  }
  if (attributes & host::kAttributeEncrypted) {
    // No host file system here can encrypt a folder, NTFS through its Linux
    // drivers included, so the user is asked whether to go on without.
    if (host::EncryptFolder(path) != host::EncryptionResult::kNotSupportedOnPlatform ||
        !Notify(kEventEncryptedFolderOffNtfs, &path, -1))
      return false;
  }
  if (attributes & host::kAttributeCompressed) {
    const host::CompressionResult result = CompressOnNtfs(path);
    if (result == host::CompressionResult::kFailed) return false;
    if (result == host::CompressionResult::kNotSupported && !Notify(kEventCompressedFolderOffNtfs, &path, -1))
      return false;
  }
  uint32_t kept = 0;
  if (!host::SetFileAttributes(path, attributes, &kept)) return false;
  ReportAttributesNotKept(path, -1, attributes, kept);
  return true;
}

// ---- CRestoreFile_Implement

CRestoreFile_Implement::CRestoreFile_Implement(CQPXFile_RestoreImplement& run, long index)
    : run_(run), index_(index) {}

CRestoreFile_Implement::~CRestoreFile_Implement() { Discard(); }

CQPXBackupedFileHeader* CRestoreFile_Implement::Header() const { return run_.GetArchive().GetEntryHeader(index_); }

bool CRestoreFile_Implement::RunPhases() {
  int step = Phase1();
  if (step == kStepSkip) return true;
  if (step == kStepStop) return false;
  step = Phase2();
  if (step == kStepSkip) return true;
  if (step == kStepStop) return false;
  return Phase3() != kStepStop;
}

int CRestoreFile_Implement::Phase1() {
  int step = BeforeRestore();
  if (step == kStepSkip || step == kStepStop) return step;
  return MakeDestination();
}

RestoreObstacle CRestoreFile_Implement::UnhostableNames() const {
  RestoreObstacle why = UnhostableIn(fileName_);
  if (why != RestoreObstacle::kNone) return why;
  const RestoreTarget& target = run_.GetTarget();
  std::u16string_view folder = WithoutTrailingSeparators(folderName_);
  if (target.hasDestinationRoot) {
    std::u16string_view shown = WithoutTrailingSeparators(target.shownFolder);
    if (!host::StartsWithNoCase(folder, shown)) return RestoreObstacle::kNone;
    folder.remove_prefix(shown.size());
  }
  return UnhostableIn(folder);
}

bool CRestoreFile_Implement::NamesAreSafe() const {
  if (!IsSafeName(fileName_)) return false;
  const RestoreTarget& target = run_.GetTarget();
  if (!target.hasDestinationRoot) return IsSafeStoredFolder(folderName_);
  // Only what lands below the destination matters; a folder outside the
  // shown folder is refused later as having no destination.
  std::u16string_view shown = WithoutTrailingSeparators(target.shownFolder);
  std::u16string_view folder = WithoutTrailingSeparators(folderName_);
  if (!host::StartsWithNoCase(folder, shown)) return true;
  return IsSafeRelativeFolder(folder.substr(shown.size()));
}

int CRestoreFile_Implement::MakeDestination() {
  CQPXBackupedFileHeader* header = Header();
  if (header == nullptr || !header->GetFileName(fileName_) || !header->GetFolderName(folderName_))
    return Notify(kEventNamesUnreadable, nullptr) ? kStepSkip : kStepStop;
  const std::u16string stored = paths::Join(folderName_, fileName_);
  // A name this host cannot hold is no damage to the record and no reason to
  // ask: it is reported for what it is and the run goes on.
  if (const RestoreObstacle why = UnhostableNames(); why != RestoreObstacle::kNone)
    return run_.Notify(kEventNameNotHostable, &stored, index_, RestoreEventDetails{.obstacle = why}) ? kStepSkip
                                                                                                 : kStepStop;
  if (!NamesAreSafe()) return Notify(kEventNamesUnreadable, &stored) ? kStepSkip : kStepStop;
  std::u16string folder;
  if (!GetDestinationFolder(folder) || folder.empty()) {
    Notify(kEventFolderNotCreated, nullptr);
    return kStepStop;
  }
  if (folder.size() >= kMaxPathLength) {
    Notify(kEventFolderTooLong, &folder);
    return kStepStop;
  }
  const CQPXFile_RestoreImplement::FolderResolution made = run_.ResolveFolder(folder, true);
  switch (made.kind) {
    case CQPXFile_RestoreImplement::FolderResolution::kDone:
      if (made.actual != folder) FolderResolved(folder, made.actual);
      folder = made.actual;
      break;
    case CQPXFile_RestoreImplement::FolderResolution::kObstacle: {
      if (made.obstacle == RestoreObstacle::kNotFolder) {
        // A file standing where the folder goes: the folder is there as far
        // as a file system can tell, so the file in it cannot be created
        // (259, in phase 2); higher up, the folder cannot be made (258).
        if (!made.last) {
          run_.Notify(kEventFolderNotCreated, &made.failedAt, index_, RestoreEventDetails{.systemError = ENOTDIR});
          return kStepStop;
        }
        destinationPath_ = paths::Join(made.failedAt, fileName_);
        return destinationPath_.size() < kMaxPathLength ? kStepGoOn : Ask(kEventPathTooLong, kStepSkip);
      }
      // The entry would land below a link; it is reported as the file that
      // could not be restored, with what stands in the way.
      destinationPath_ = paths::Join(folder, fileName_);
      return run_.Notify(kEventFolderObstacle, &destinationPath_, index_,
                    RestoreEventDetails{.systemError = made.error, .detail = &made.failedAt, .obstacle = made.obstacle})
                 ? kStepSkip
                 : kStepStop;
    }
    case CQPXFile_RestoreImplement::FolderResolution::kFailed:
      run_.Notify(kEventFolderNotCreated, &made.failedAt, index_, RestoreEventDetails{.systemError = made.error});
      return kStepStop;
    case CQPXFile_RestoreImplement::FolderResolution::kNotConfined:
      if (const host::PathKind kind = host::GetPathKind(folder);
          !ExistsAsFolder(folder) && kind != host::PathKind::kFile && kind != host::PathKind::kOther) {
        if (host::IsDrivePresent(std::u16string_view(folder).substr(0, 2)) != host::DrivePresence::kPresent) {
          Notify(kEventNoDrive, nullptr);
          return kStepStop;
        }
        errno = 0;
        if (!CreateFolder(folder)) {
          run_.Notify(kEventFolderNotCreated, &folder, index_, RestoreEventDetails{.systemError = errno});
          return kStepStop;
        }
      }
      break;
  }
  bool fits = BuildDestinationPath(folder);
  std::string hostPath;
  if (!run_.ConfinementRoot().empty() && host::ToHostPath(destinationPath_, hostPath) &&
      host::ProbePath(hostPath) == ENAMETOOLONG) {
    // Longer than this file system allows: restored under a shorter name,
    // and the user is told both. The path's length is judged as restored.
    destinationPath_ = paths::Join(folder, ShortenName(fileName_));
    fits = destinationPath_.size() < kMaxPathLength;
    if (fits && !run_.Notify(kEventNameShortened, &destinationPath_, index_, RestoreEventDetails{.detail = &stored}))
      return kStepStop;
  }
  return fits ? kStepGoOn : Ask(kEventPathTooLong, kStepSkip);
}

bool CRestoreFile_Implement::BuildDestinationPath(const std::u16string& folder) {
  destinationPath_ = paths::Join(folder, fileName_);
  return destinationPath_.size() < kMaxPathLength;
}

bool CRestoreFile_Implement::GetDestinationFolder(std::u16string& out) {
  out = MapToDestination(run_.GetTarget(), folderName_);
  return true;
}

bool CRestoreFile_Implement::CreateFolder(const std::u16string& path) { return EnsureFolder(path); }

int CRestoreFile_Implement::Phase2() {
  if (!Notify(kEventRestoring, &destinationPath_)) return kStepStop;
  int step = CheckFreeSpace();
  if (step != kStepGoOn) return step;
  step = CheckExisting();
  if (step != kStepGoOn) return step;
  step = CheckFileSystemLimit();
  if (step != kStepGoOn) return step;
  step = CreateOutput();
  if (step != kStepGoOn) return step;
  step = WriteAndVerify();
  switch (step) {
    case kStepGoOn:
    case kStepSkip:
    case kStepStop:
      return step;
    case kStepCrcDiffers:
      step = Ask(kEventCrcDiffers, kStepSkip);
      if (step == kStepSkip) KeepAsWritten();
      return step;
    default:
      break;
  }
  const CQPXBackupedFileHeader* header = Header();
  if (header != nullptr && (header->GetAttributes() & host::kAttributeEncrypted))
    return Ask(kEventEncryptedImport, kStepSkip);
  if (writeFailure_ == ExtractFailure::kDestination) {
    // A file cut short by the destination is of no use and only takes the
    // space the next files need; it is removed and the failure reported.
    Discard();
    const int event = IsDestinationDiskFull(writeError_) ? kEventNoSpace : kEventCannotCreate;
    return Notify(event, &destinationPath_, writeFailure_, writeError_) ? kStepSkip : kStepStop;
  }
  if (!Notify(kEventExtractFailed, &destinationPath_, writeFailure_, writeError_)) return kStepStop;
  // What damaged data let through is the user's to keep; a cancelled or
  // unprepared write left nothing worth a name.
  if (writeFailure_ == ExtractFailure::kArchiveRead || writeFailure_ == ExtractFailure::kCutShort ||
      writeFailure_ == ExtractFailure::kBrokenStream)
    KeepAsWritten();
  return kStepSkip;
}

int CRestoreFile_Implement::CheckFreeSpace() {
  const CQPXBackupedFileHeader* header = Header();
  if (header != nullptr && header->GetFileSize() > kLargestPossibleFile)
    return Notify(kEventExtractFailed, &destinationPath_, ExtractFailure::kNotReady) ? kStepSkip : kStepStop;
  host::DiskSpace space;
  if (header == nullptr || !host::GetDiskSpace(destinationPath_, space)) return kStepGoOn;
  if (header->GetFileSize() > space.freeBytes) return Ask(kEventNoSpace, kStepSkip);
  return kStepGoOn;
}

int CRestoreFile_Implement::CheckExisting() {
  // A link left where the file goes counts as an existing file; overwriting
  // removes the link, never what it points at.
  const host::PathKind kind = host::GetPathKind(destinationPath_);
  if (kind == host::PathKind::kMissing || kind == host::PathKind::kUnknown) return kStepGoOn;
  // A folder cannot be overwritten by a file; saying it was would be untrue.
  if (kind == host::PathKind::kFolder)
    return Notify(kEventCannotCreate, &destinationPath_, ExtractFailure::kNone, EISDIR) ? kStepSkip : kStepStop;
  if (IsProtected(run_.GetTarget(), destinationPath_)) return RefuseProtected();
  if (!Notify(kEventFileExists, &destinationPath_)) return kStepSkip;
  // The old file stays until the new one is complete and takes its place.
  replaceAgreed_ = true;
  return kStepGoOn;
}

int CRestoreFile_Implement::RefuseProtected() {
  return run_.Notify(kEventProtectedFile, &destinationPath_, index_,
                RestoreEventDetails{.obstacle = RestoreObstacle::kProtectedFile})
             ? kStepSkip
             : kStepStop;
}

int CRestoreFile_Implement::CheckFileSystemLimit() {
  const CQPXBackupedFileHeader* header = Header();
  if (header == nullptr || (header->GetFileSize() >> 32) == 0) return kStepGoOn;
  // The limit is FAT's. The local file systems of this host (ext4, XFS,
  // tmpfs...) and network shares hold such files, so only FAT and volumes
  // that cannot be inspected are refused.
  host::FileSystemKind kind;
  if (VolumeKind(destinationPath_, kind) && kind != host::FileSystemKind::kFat) return kStepGoOn;
  return Ask(kEventTooLargeOffNtfs, kStepSkip);
}

int CRestoreFile_Implement::CreateOutput() {
  std::string hostPath;
  int error = ENOENT;
  if (host::ToHostPath(destinationPath_, hostPath) && outputFolder_.OpenParent(hostPath, finalName_, error)) {
    const std::u16string folder = paths::FolderPart(destinationPath_);
    // A taken name is someone else's file; another name is drawn.
    for (int attempt = 0; attempt < 3; ++attempt) {
      temporaryName_ = host::TemporaryFileName();
      temporaryPath_ = paths::Join(folder, host::Utf8ToWide(temporaryName_));
      errno = 0;
      {
        host::NewFileScope scope(outputFolder_);
        output_ = run_.GetArchive().CreateIO(temporaryPath_, kModeCreate);
      }
      if (output_ != nullptr) return kStepGoOn;
      temporaryName_.clear();
      error = run_.GetArchive().GetLoadError().systemError;
      if (error != EEXIST) break;
    }
  }
  return Notify(kEventCannotCreate, &destinationPath_, ExtractFailure::kNone, error) ? kStepSkip : kStepStop;
}

void CRestoreFile_Implement::Discard() {
  if (output_ != nullptr) {
    run_.GetArchive().ReleaseIO(output_);
    output_ = nullptr;
  }
  if (!temporaryName_.empty()) {
    outputFolder_.RemoveAt(temporaryName_);
    temporaryName_.clear();
  }
}

int CRestoreFile_Implement::Complete() {
  if (temporaryName_.empty()) return ENOENT;
  const int error = outputFolder_.RenameAt(temporaryName_, finalName_, replaceAgreed_);
  if (error == 0)
    temporaryName_.clear();
  else
    Discard();
  return error;
}

void CRestoreFile_Implement::KeepAsWritten() {
  if (temporaryName_.empty()) return;
  CloseOutput();
  const int error = Complete();
  run_.Notify(kEventKeptAsWritten, &destinationPath_, index_, RestoreEventDetails{.systemError = error});
}

bool CRestoreFile_Implement::CloseOutput() {
  if (output_ == nullptr) return true;
  CDividedFileIO* output = output_;
  output_ = nullptr;
  return run_.GetArchive().ReleaseIO(output);
}

int CRestoreFile_Implement::WriteAndVerify() {
  if (output_ == nullptr) return kStepFailed;
  const CQPXBackupedFileHeader* header = Header();
  CQPXBackupedFileData* data = run_.GetArchive().GetEntryData(index_);
  if (header == nullptr || data == nullptr) {
    writeFailure_ = ExtractFailure::kNotReady;
    return kStepFailed;
  }
  if (header->GetAttributes() & host::kAttributeEncrypted) {
    CloseOutput();
    host::FileSystemKind kind;
    if (VolumeKind(destinationPath_, kind) && kind != host::FileSystemKind::kNtfs) {
      Discard();
      return Ask(kEventEncryptedOffNtfs, kStepSkip);
    }
    // The host cannot import a raw encrypted stream; the empty file made for
    // it would look like a restored file, so it goes too.
    host::ImportEncryptedRaw(WritingPath(), [](uint8_t*, uint32_t& length) {
      length = 0;
      return false;
    });
    Discard();
    return kStepFailed;
  }
  // Space set aside at once is cheaper for the file system than block by
  // block as the writes arrive (a third of the write time on ext4 here);
  // for small files the call would cost more than it saves.
  if (header->GetFileSize() >= kReserveFrom) output_->ReserveAhead(header->GetFileSize());
  uint32_t crc = 0;
  if (!data->Extract(*output_, crc, run_.GetProgress())) {
    writeFailure_ = data->GetLastFailure();
    if (writeFailure_ == ExtractFailure::kDestination) writeError_ = output_->GetSystemError();
    return kStepFailed;
  }
  // The CRC covers only what the data held; a file shorter or longer than
  // its record says is not the file that was backed up.
  uint64_t written = 0;
  if (!output_->GetPosition(written) || written != header->GetFileSize()) {
    writeFailure_ = written < header->GetFileSize() ? ExtractFailure::kCutShort : ExtractFailure::kBrokenStream;
    return kStepFailed;
  }
  return crc == header->GetCrc32() ? kStepGoOn : kStepCrcDiffers;
}

int CRestoreFile_Implement::Phase3() {
  if (!CloseOutput()) {
    // A file whose close failed may not hold what was written: it is not
    // given its name, whatever the answer.
    const bool goOn = Notify(kEventCannotCreate, &destinationPath_);
    Discard();
    return goOn ? kStepSkip : kStepStop;
  }
  // Whole and checked, the file takes its name; its times and attributes
  // follow, as some file systems (FAT through FUSE) give a renamed file the
  // time of the rename.
  if (const int error = Complete(); error != 0) {
    if (error == EPERM && IsProtected(run_.GetTarget(), destinationPath_)) return RefuseProtected();
    return Notify(kEventCannotCreate, &destinationPath_, ExtractFailure::kNone, error) ? kStepSkip : kStepStop;
  }
  if (!ApplyAttributes() && !Notify(kEventAttributesFailed, &destinationPath_)) return kStepStop;
  return Notify(kEventEntryDone, &destinationPath_) ? kStepGoOn : kStepStop;
}

bool CRestoreFile_Implement::SetTimesAndAttributes() {
  const CQPXBackupedFileHeader* header = Header();
  if (header == nullptr) return false;
  if (!host::SetFileAttributes(WritingPath(), host::kAttributeNormal)) return false;
  const uint32_t attributes = header->GetAttributes();
  if (attributes & host::kAttributeCompressed) {
    const host::CompressionResult result = CompressOnNtfs(WritingPath());
    if (result == host::CompressionResult::kFailed) return false;
    if (result == host::CompressionResult::kNotSupported && !Notify(kEventCompressedOffNtfs, &destinationPath_))
      return false;
  }
  if (!host::SetFileTimes(WritingPath(), header->GetCreationTime(), header->GetLastAccessTime(),
                          header->GetLastWriteTime()))
    return false;
  uint32_t kept = 0;
  if (!host::SetFileAttributes(WritingPath(), attributes, &kept)) return false;
  run_.ReportAttributesNotKept(destinationPath_, index_, attributes, kept);
  return true;
}

// ---- CRestoreFileExtend_Implement

void CRestoreFileExtend_Implement::FolderResolved(const std::u16string& mapped, const std::u16string& actual) {
  CQPXFolderList_DataChange& folders = extendRun_.GetFolders();
  const int index = folders.Find(mapped);
  if (index >= 0 && folders.IsReplaced(index)) folders.Replace(index, actual);
}

CRestoreFileExtend_Implement::CRestoreFileExtend_Implement(CQPXFileExtend_RestoreImplement& run, long index)
    : CRestoreFile_Implement(run, index), extendRun_(run) {}

void CRestoreFileExtend_Implement::Record(const std::u16string& destination, const std::u16string& stored) {
  CQPXFolderList_DataChange& folders = extendRun_.GetFolders();
  if (folders.Find(destination) >= 0) return;
  int index = folders.Find(stored);
  if (index < 0) return;
  folders.MarkHandled(index);
  folders.Replace(index, destination);
}

bool CRestoreFileExtend_Implement::GetDestinationFolder(std::u16string& out) {
  const RestoreTarget& target = run_.GetTarget();
  out = MapToDestination(target, folderName_);
  if (!target.hasDestinationRoot || out.empty()) return true;
  // The folder the user chose to restore into keeps its own attributes and
  // times; only folders made below it stand for stored ones.
  if (host::EqualsNoCase(WithoutTrailingSeparators(out), WithoutTrailingSeparators(target.destinationRoot)))
    return true;
  Record(out, folderName_);
  return true;
}

bool CRestoreFileExtend_Implement::CreateMapped(const std::u16string& destination, const std::u16string& stored,
                                                int depth) {
  if (destination.empty() || depth > kMaxFolderDepth) return false;
  if (ExistsAsFolder(destination)) return true;
  if (host::CreateFolder(destination) != host::CreateFolderResult::kFailed) return true;
  std::u16string parent = ParentOf(destination);
  if (parent.empty() || host::GetPathKind(parent) != host::PathKind::kMissing) return false;
  const RestoreTarget& target = run_.GetTarget();
  std::u16string_view root = WithoutTrailingSeparators(target.destinationRoot);
  if (paths::IsBelow(root, parent)) {
    // A parent below the destination stands for the stored folder above the
    // entry's one, which the run then gives its attributes.
    std::u16string storedParent = ParentOf(stored);
    if (!CreateMapped(parent, storedParent, depth + 1)) return false;
    if (!storedParent.empty()) Record(parent, storedParent);
  } else if (!EnsureFolder(parent)) {
    return false;
  }
  return host::CreateFolder(destination) != host::CreateFolderResult::kFailed;
}

bool CRestoreFileExtend_Implement::CreateFolder(const std::u16string& path) {
  const RestoreTarget& target = run_.GetTarget();
  if (target.hasDestinationRoot) return CreateMapped(path, folderName_, 0);
  // Back to the original place: every stored folder about to be made for
  // this entry is given its attributes later.
  CQPXFolderList_DataChange& folders = extendRun_.GetFolders();
  std::u16string walk = path;
  for (int depth = 0; !walk.empty() && depth <= kMaxFolderDepth && !ExistsAsFolder(walk); ++depth) {
    int index = folders.Find(walk);
    if (index >= 0) folders.MarkHandled(index);
    walk = ParentOf(walk);
  }
  return EnsureFolder(path);
}

// ---- The archives' entry points

bool RestoreArchive(CQPXFile& archive, const RestoreEventCallback& events, const ExtractProgress& progress,
                    const RestoreTarget& target) {
  // Archives with a folder list take the folder-aware run.
  if (auto* extend = dynamic_cast<CQPXFileExtend*>(&archive)) {
    CQPXFileExtend_RestoreImplement run(*extend, events, target, progress);
    return run.Run();
  }
  CQPXFile_RestoreImplement run(archive, events, target, progress);
  return run.Run();
}

}  // namespace QPXFile
