// The restore driver: writes the entries of an opened archive back to disk.
//
// It never talks to the user. Every noteworthy condition is sent as a
// numbered event to the caller's callback, whose yes/no answer decides
// whether the current entry is skipped or the whole run stops; the meaning of
// each code is listed with RestoreEventCode below.
//
// Names in an archive are untrusted: a file name or folder component that is
// empty, "." or "..", or holds a character Windows forbids in names, is never
// written; such an entry is reported like one whose names cannot be read. A
// name holding a control character or half of a UTF-16 surrogate pair is not
// written either, and is reported as such (event 280).
//
// Below the folder the run is confined to (the destination the user chose),
// nothing is written through a symbolic link: folders are entered one level
// at a time without following links, and a link or file where a folder goes
// is an obstacle for the entries below it, which are reported and not
// restored. The chosen folder itself and its ancestors may be links.
//
// Each file is written under a hidden temporary name in its folder and takes
// its own name only once its contents are whole and checked (its times and
// attributes are given to it under that name), so a file cut short (a failure, a cancel, the
// program ended) never stands under its name as if it were complete. A file
// the user chose to keep after a failed check or damaged data is the one
// exception: it is put under its name as it is, and that is reported (282).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/folder_list.h"
#include "entry/backuped_file_data.h"
#include "entry/backuped_file_header.h"
#include "host/file.h"
#include "paths/path.h"

namespace QPXFile {

class CQPXFile;
class CQPXFileExtend;
class CDividedFileIO;

// What a step tells its caller.
enum RestoreStep : int {
  kStepFailed = 0,    // WriteAndVerify only: the contents could not be written
  kStepGoOn = 1,      // go on with this entry
  kStepSkip = 2,      // skip the rest of this entry, go on with the next
  kStepStop = 3,      // stop the whole run
  kStepCrcDiffers = -1,  // WriteAndVerify only
};

// The events, with what a true / false answer does.
enum RestoreEventCode : int {
  kEventRunStarted = 1,        // go on / the run fails
  kEventRestoring = 2,         // P; go on / stop
  kEventEntryDone = 3,         // P; entry done / stop
  kEventRunEnded = 4,          // answer ignored
  kEventNamesUnreadable = 257, // names unreadable or unsafe; skip / stop
  kEventFolderNotCreated = 258,  // stop either way
  kEventCannotCreate = 259,    // P; create: skip / stop; close: go on / stop
  kEventCrcDiffers = 260,      // P; skip / stop
  kEventAttributesFailed = 261,  // P; go on / stop
  kEventFolderTooLong = 262,   // stop either way
  kEventPathTooLong = 263,     // P; skip / stop
  kEventFileExists = 265,      // P; overwrite / skip
  kEventNoDrive = 266,         // stop either way
  kEventEncryptedOffNtfs = 267,  // P; skip / stop
  kEventCompressedOffNtfs = 268, // P; go on without / the attribute step fails
  kEventEncryptedFolderOffNtfs = 269,   // folder; go on without / the folder fails
  kEventCompressedFolderOffNtfs = 270,  // folder; go on without / the folder fails
  kEventEncryptedImport = 271, // P; skip / stop
  kEventExtractFailed = 273,   // P; skip / stop
  kEventTooLargeOffNtfs = 274, // P; skip / stop
  kEventFolderFailed = 275,    // folder; ignored
  kEventNoSpace = 276,         // P; skip / stop
  // Events of this engine beyond the ones the desktop program has always had.
  // None of them is a question; the run goes on unless the answer is false.
  kEventFolderObstacle = 277,  // P (the entry's file, or a folder of the folder pass), detail: the
                               // link or non-folder in the way; skip / stop
  kEventProtectedFile = 278,   // P; the file there is one the run must not touch; skip / stop
  kEventNameShortened = 279,   // the path as restored, detail: the stored name; go on / stop
  kEventNameNotHostable = 280, // the stored path; skip / stop
  // P or folder: written whole, but its file system has no place for some of
  // its attributes (RestoreEvent::attributesNotKept); answer ignored.
  kEventAttributesNotKept = 281,
  // P; after 260 or 273 answered true, the file as far as it was written now
  // stands under its name (systemError 0), or could not be put there
  // (systemError, and nothing is left); answer ignored.
  kEventKeptAsWritten = 282,
};

// What stands in the way, for events 277, 278 and 280.
enum class RestoreObstacle {
  kNone,
  kLink,               // a symbolic link where a folder goes
  kNotFolder,          // a file or device where a folder goes
  kControlCharacter,   // a name holds a character below U+0020
  kUnpairedSurrogate,  // a name holds half of a surrogate pair
  kProtectedFile,      // the archive being read, its volumes, its management file or the log
};

// The numbers an event carries besides its code.
struct RestoreEventRecord {
  long lastIndex = -1;   // number of entries to restore - 1
  std::u16string text;   // the event's text (a path) or empty
  long position = -1;    // this entry among the entries to restore; -1 for run events
};

struct RestoreEvent {
  int code = 0;
  const std::u16string* text = nullptr;            // null when the event has none
  const CQPXBackupedFileHeader* entry = nullptr;   // null for run and folder events
  const RestoreEventRecord* record = nullptr;
  const long* position = nullptr;
  // Why the contents could not be written, for event 273 and for the write
  // failures reported as 259 or 276; kNone otherwise.
  ExtractFailure extractFailure = ExtractFailure::kNone;
  int systemError = 0;  // errno behind a destination failure, when known
  uint32_t attributesNotKept = 0;  // event 281: the attribute bits lost
  const std::u16string* detail = nullptr;  // events 277 and 279, see there
  RestoreObstacle obstacle = RestoreObstacle::kNone;
};

// What a Notify call carries besides its code, text and entry.
struct RestoreEventDetails {
  ExtractFailure failure = ExtractFailure::kNone;
  int systemError = 0;
  const std::u16string* detail = nullptr;
  RestoreObstacle obstacle = RestoreObstacle::kNone;
};

using RestoreEventCallback = std::function<bool(const RestoreEvent&)>;

// Where a run writes. With a destination root R, an entry stored in a folder
// F is written below R when F is the shown folder C or lies below it: the
// leading C is replaced by R (compared ignoring case, at a component
// boundary). Without a root, entries go back to their stored folders.
struct RestoreTarget {
  bool hasDestinationRoot = false;
  std::u16string destinationRoot;  // engine path, no trailing backslash needed
  std::u16string shownFolder;      // C, the folder the selection was made in
  // The folder nothing below which is written through a link: the folder the
  // user chose. Empty: the destination root, when there is one.
  std::u16string confinedBelow{};
  // Files the run never deletes, truncates or replaces: the archive being
  // read, its volumes, its management file, the log file.
  std::vector<host::FileIdentity> protectedFiles{};
};

// The files a run from `archives` must leave alone: each archive with the
// volumes beside it that a split archive has, and the `others` (management
// file, log file); host paths, links followed, missing files left out.
std::vector<host::FileIdentity> ProtectedFiles(const std::vector<std::string>& archives,
                                               const std::vector<std::string>& others);

// A name that fits in `maxBytes` bytes of UTF-8: the start of `name`, a "~"
// with eight hexadecimal digits drawn from the whole name (so different long
// names in one folder stay apart, and the same name shortens the same way on
// every run), and the extension, kept when it is short.
std::u16string ShortenName(std::u16string_view name, size_t maxBytes = 255);

// The destination folder for stored folder F, or empty when F does not lie
// at or below C. Trailing backslashes of R, C and F are ignored.
std::u16string MapToDestination(const RestoreTarget& target, const std::u16string& storedFolder);

// Why a name from an archive must not be written. The empty string is
// unsafe; a folder path's drive element ("C:") is allowed only as its first
// component.
bool IsSafeName(std::u16string_view name);
// Every component of `relativeFolder` (backslash-separated, a leading
// backslash allowed, possibly empty) is a safe name.
bool IsSafeRelativeFolder(std::u16string_view relativeFolder);
// A drive-rooted folder ("C:" or "C:\a\b") whose components are safe.
bool IsSafeStoredFolder(std::u16string_view folder);

// Runs the restore driver of the archive's class over every entry: the
// folder-aware run (which leaves out what the path-information list names
// and restores the folders' attributes and times) for archives with a folder
// list, the plain run otherwise. Events and progress go to the callbacks,
// files to `target`. True when the run went through to its end.
bool RestoreArchive(CQPXFile& archive, const RestoreEventCallback& events, const ExtractProgress& progress,
                    const RestoreTarget& target);

class CRestoreFile_Implement;

// One restore run over an archive.
class CQPXFile_RestoreImplement {
 public:
  CQPXFile_RestoreImplement(CQPXFile& archive, RestoreEventCallback events, RestoreTarget target,
                            ExtractProgress progress);
  virtual ~CQPXFile_RestoreImplement();
  CQPXFile_RestoreImplement(const CQPXFile_RestoreImplement&) = delete;
  CQPXFile_RestoreImplement& operator=(const CQPXFile_RestoreImplement&) = delete;

  virtual bool Run();
  virtual bool Prepare();
  virtual bool RestoreAll();
  virtual bool Finish();
  virtual bool RestoreEntry(long index);
  // Fills the callback's arguments for the event and returns its answer.
  // `index` is the entry concerned, or -1.
  virtual bool Notify(int event, const std::u16string* text, long index,
                      ExtractFailure failure = ExtractFailure::kNone, int systemError = 0);
  // Event 281 for the file or folder at `path` (entry `index`, or -1).
  void ReportAttributesNotKept(const std::u16string& path, long index, uint32_t requested, uint32_t kept);
  bool Notify(int event, const std::u16string* text, long index, const RestoreEventDetails& details);

  // How a destination folder below the confinement came to be.
  struct FolderResolution {
    enum Kind {
      kDone,         // `actual` is there (made when asked), shortened names included
      kObstacle,     // a link or non-folder at `failedAt`
      kFailed,       // the host refused `failedAt` (`error`)
      kNotConfined,  // the folder is not below the confinement; nothing was done
    } kind = kNotConfined;
    std::u16string actual;
    std::u16string failedAt;
    RestoreObstacle obstacle = RestoreObstacle::kNone;
    int error = 0;
    bool last = false;  // kObstacle, kFailed: `failedAt` is the folder asked for itself
  };
  // Enters `folder` from the confinement folder, one level at a time and
  // never through a link, making what is missing when `create` is set. A
  // component the file system finds too long is replaced by its shortened
  // form, and event 279 sent once for the folder.
  FolderResolution ResolveFolder(const std::u16string& folder, bool create);
  // The engine path of the confinement folder, or empty.
  const std::u16string& ConfinementRoot() const { return confinement_; }

  CQPXFile& GetArchive() const { return archive_; }
  const RestoreTarget& GetTarget() const { return target_; }
  const ExtractProgress& GetProgress() const { return progress_; }
  long GetEntryCount() const { return count_; }

 protected:
  // The number of entries this run restores.
  virtual long EntriesToRestore() const { return count_; }
  // The position reported for entry `index`.
  virtual long PositionOf(long index) const { return index; }

  // Fills in what every event carries and hands it to the listener.
  bool Send(int event, const std::u16string* text, long index, RestoreEvent& event_args);

  CQPXFile& archive_;
  RestoreEventCallback events_;
  RestoreTarget target_;
  long count_ = 0;
  ExtractProgress progress_;
  std::u16string confinement_;
  std::vector<std::u16string> shortenedFolders_;  // folders whose shortening was reported
};

// The folders of a run: a copy of the archive's folder list whose paths are
// replaced by destination paths as the run decides them, with a flag for
// each folder created or found for this run.
class CQPXFolderList_DataChange {
 public:
  bool Init(const CQPXFolderList* list);
  int GetCount() const { return table_.GetCount(); }
  // Index of the folder whose current path equals `path` ignoring case, or -1.
  int Find(std::u16string_view path) const;
  void Replace(int index, const std::u16string& path);
  void MarkHandled(int index) { handled_[index] = true; }
  bool IsHandled(int index) const { return handled_[index]; }
  bool IsReplaced(int index) const { return replaced_[index]; }
  const std::u16string& GetPath(int index) const { return table_.paths[index]; }
  uint32_t GetAttributes(int index) const { return table_.attributes[index]; }
  uint64_t GetCreationTime(int index) const { return table_.creationTimes[index]; }
  uint64_t GetLastAccessTime(int index) const { return table_.lastAccessTimes[index]; }
  uint64_t GetLastWriteTime(int index) const { return table_.lastWriteTimes[index]; }

 private:
  CQPXFolderTable table_;
  std::vector<bool> replaced_;
  std::vector<bool> handled_;
  std::unordered_map<std::u16string, int> index_;  // folded current path -> first index
};

// The run of every folder-aware archive: entries that match the archive's
// path-information list are left out, and folders are created and given
// their attributes and times.
class CQPXFileExtend_RestoreImplement : public CQPXFile_RestoreImplement {
 public:
  CQPXFileExtend_RestoreImplement(CQPXFileExtend& archive, RestoreEventCallback events, RestoreTarget target,
                                  ExtractProgress progress);

  bool Prepare() override;
  bool Finish() override;
  bool RestoreEntry(long index) override;
  virtual bool RestoreFolderAttributes();

  CQPXFileExtend& GetExtendArchive() const;
  CQPXFolderList_DataChange& GetFolders() { return folders_; }
  long GetExcludedCount() const { return excludedCount_; }

 protected:
  long EntriesToRestore() const override { return count_ - excludedCount_; }
  long PositionOf(long index) const override { return index - excludedMet_; }
  bool IsExcluded(long index) const;
  // Creates the folder pass's folder and its missing parents.
  bool CreateFolderChain(const std::u16string& path);
  // One folder of the attributes pass.
  bool RestoreOneFolder(int index);

  const paths::CPathInformationArray& pathInformation_;
  long excludedCount_ = 0;
  long excludedMet_ = 0;
  std::vector<bool> excluded_;
  CQPXFolderList_DataChange folders_;
};

// The work on one entry.
class CRestoreFile_Implement {
 public:
  CRestoreFile_Implement(CQPXFile_RestoreImplement& run, long index);
  virtual ~CRestoreFile_Implement();
  CRestoreFile_Implement(const CRestoreFile_Implement&) = delete;
  CRestoreFile_Implement& operator=(const CRestoreFile_Implement&) = delete;

  virtual bool RunPhases();
  virtual int Phase1();
  virtual int Phase2();
  virtual int Phase3();
  virtual int MakeDestination();
  virtual int CheckExisting();
  virtual int CheckFileSystemLimit();
  virtual int CheckFreeSpace();
  virtual int CreateOutput();
  virtual bool CloseOutput();
  virtual int BeforeRestore() { return kStepGoOn; }
  virtual bool ApplyAttributes() { return SetTimesAndAttributes(); }
  virtual bool CreateFolder(const std::u16string& path);
  virtual int WriteAndVerify();
  virtual bool SetTimesAndAttributes();
  virtual bool GetDestinationFolder(std::u16string& out);
  virtual bool BuildDestinationPath(const std::u16string& folder);

  const std::u16string& GetDestinationPath() const { return destinationPath_; }

 protected:
  // The path the file's data and metadata go to: the temporary name while
  // the file is being written, else the destination path.
  const std::u16string& WritingPath() const { return temporaryName_.empty() ? destinationPath_ : temporaryPath_; }
  // Drops the output and the file under its temporary name.
  void Discard();
  // Gives the written file its own name; 0 or the errno.
  int Complete();
  // After 260 or 273 answered true: the file as written stands under its name.
  void KeepAsWritten();
  bool Notify(int event, const std::u16string* text, ExtractFailure failure = ExtractFailure::kNone,
              int systemError = 0) {
    return run_.Notify(event, text, index_, failure, systemError);
  }
  // true -> `ifTrue`, false -> stop.
  int Ask(int event, int ifTrue) { return Notify(event, &destinationPath_) ? ifTrue : kStepStop; }
  CQPXBackupedFileHeader* Header() const;
  // The stored folder's part that lands below the destination, checked.
  bool NamesAreSafe() const;
  // Event 278 for the destination, a file the run must not touch.
  int RefuseProtected();
  // Why the names that land below the destination cannot be held, or kNone.
  RestoreObstacle UnhostableNames() const;
  // The folder `mapped` was made as `actual` (a name in it was shortened).
  virtual void FolderResolved(const std::u16string& /*mapped*/, const std::u16string& /*actual*/) {}

  CQPXFile_RestoreImplement& run_;
  long index_;
  CDividedFileIO* output_ = nullptr;  // owned while open
  std::u16string fileName_;
  std::u16string folderName_;
  std::u16string destinationPath_;
  ExtractFailure writeFailure_ = ExtractFailure::kNone;
  int writeError_ = 0;
  // The folder the output is made in, held from its creation to its rename
  // or removal, so both reach the file that was made.
  host::FolderHandle outputFolder_;
  std::string temporaryName_;    // host name of the file being written; empty when none is pending
  std::u16string temporaryPath_;  // its engine path
  std::string finalName_;         // host name the file takes when complete
  bool replaceAgreed_ = false;    // the user agreed to overwrite what stands at P
};

// The worker of the folder-aware run: marks the folders it creates or
// writes into, so that the run can give them their attributes afterwards.
class CRestoreFileExtend_Implement : public CRestoreFile_Implement {
 public:
  CRestoreFileExtend_Implement(CQPXFileExtend_RestoreImplement& run, long index);

  bool CreateFolder(const std::u16string& path) override;
  bool GetDestinationFolder(std::u16string& out) override;

 protected:
  void FolderResolved(const std::u16string& mapped, const std::u16string& actual) override;

 private:
  // Creates `destination` (and its missing parents), marking the stored
  // folders they stand for.
  bool CreateMapped(const std::u16string& destination, const std::u16string& stored, int depth);
  // Marks stored folder `stored` handled with `destination` as its path,
  // unless `destination` is already a folder of the run.
  void Record(const std::u16string& destination, const std::u16string& stored);
  CQPXFileExtend_RestoreImplement& extendRun_;
};

}  // namespace QPXFile
