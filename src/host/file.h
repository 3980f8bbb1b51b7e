// The platform file: the only code that opens, reads, writes and positions
// files on the host. The streams in src/io build on it and never call the
// operating system themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// How a file is opened. Sharing on Linux is advisory: the exclusive modes take
// a non-blocking exclusive flock, the deny-write mode a shared one, so two
// Tessera streams respect each other; other programs are not held off.
enum class FileMode {
  kCreateWrite,     // create or truncate, write only, exclusive
  kReadDenyWrite,   // read; fails while someone holds the file exclusively
  kReadWrite,       // read and write an existing file, exclusive
  kReadShared,      // read, no lock
};

enum class ReadResult {
  kData,       // at least one byte was delivered
  kEndOfFile,  // nothing left at the current position
  kFailed,     // the platform reported an I/O failure
};

enum class SeekOrigin { kBegin, kCurrent, kEnd };

class PlatformFile {
 public:
  PlatformFile() = default;
  ~PlatformFile();  // aborts an open file
  PlatformFile(const PlatformFile&) = delete;
  PlatformFile& operator=(const PlatformFile&) = delete;

  // hostPath is a host (POSIX, UTF-8) path. Only regular files are opened, so
  // a hostile name pointing at a FIFO or a device never blocks or streams.
  bool Open(const std::string& hostPath, FileMode mode);
  // A read-only file whose bytes are a copy of `data`, held in memory and
  // named nowhere, for volumes served without a file system.
  bool OpenMemory(const void* data, size_t size);
  bool IsOpen() const { return fd_ >= 0; }

  // Reads until `length` bytes are delivered or the file ends; `got` is the
  // count. A request of 0 bytes delivers kData with got 0.
  ReadResult Read(void* buffer, uint32_t length, uint32_t& got);
  // Writes all `length` bytes or fails.
  bool Write(const void* buffer, uint32_t length);
  // Reads at `offset` without using or moving the position or the
  // read-ahead block, so that another thread may read so while this file is
  // otherwise in use.
  ReadResult ReadAtOffset(uint64_t offset, void* buffer, uint32_t length, uint32_t& got) const;
  // Moves by a signed distance from the origin. Positions past the end are
  // allowed (as a later write would extend the file); before 0 they fail.
  bool Seek(int64_t distance, SeekOrigin origin);
  bool Tell(uint64_t& out);
  bool Length(uint64_t& out);
  // Sets space aside for the file up to `end` bytes without changing its
  // length or what it holds, so that the writes that fill it find their
  // blocks allocated. A hint: where the file system cannot, or where space
  // is memory that setting aside would only clear twice, nothing happens,
  // and a lack of space is left for the writes to report.
  void Reserve(uint64_t end);
  // Pushes written data to the device.
  bool Flush();
  // Fails when the platform reports that the file could not be closed
  // cleanly; the descriptor is released either way.
  bool Close();
  // Releases the descriptor without reporting anything.
  void Abort();

  // errno of the last failure (0 when none), for error texts and for telling
  // a missing file from an unreadable one.
  int LastSystemError() const { return lastErrno_; }

 private:
  bool Fail();

  // Small reads (records, names) are served from a read-ahead block, so
  // walking an archive of many entries costs a few system calls per block
  // instead of several per entry. The file position is kept here and every
  // transfer names its offset, so a seek never needs the system.
  static constexpr uint32_t kReadAhead = 64 * 1024;
  ReadResult ReadAt(uint8_t* p, uint32_t length, uint32_t& got);

  int fd_ = -1;
  int lastErrno_ = 0;
  bool widenOnClose_ = false;             // made private by a NewFileScope
  uint64_t position_ = 0;                 // where the next read or write happens
  std::unique_ptr<uint8_t[]> cache_;      // read-ahead block, made on the first small read
  uint64_t cacheStart_ = 0;               // file offset of cache_[0]
  uint32_t cacheLength_ = 0;              // valid bytes in cache_
};

// The platform's per-thread error value, which the split-volume stream sets
// for its caller when a volume fails.
void SetThreadError(uint32_t code);
uint32_t GetThreadError();
// The value the split-volume stream reports when the next volume cannot be
// positioned.
constexpr uint32_t kThreadErrorInvalidHandle = 6;

// A host-side description of errno for messages ("No such file or directory").
std::string SystemErrorText(int error);

// ---- Which file a path names

// Device and inode: two paths name the same file exactly when these agree,
// whatever links or hard links lie between them.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};
// `followLink` false looks at a link itself rather than at what it names.
bool GetFileIdentity(const std::string& hostPath, bool followLink, FileIdentity& out);

// 0 when something is at `hostPath` (a dangling link included), else the
// errno the host gives for looking there: ENOENT for nothing, ENAMETOOLONG for
// a name the file system cannot hold.
int ProbePath(const std::string& hostPath);

// ---- Folders reached one level at a time

enum class FolderStep {
  kEntered,    // the folder was there
  kCreated,    // it was missing and has been made
  kMissing,    // it is missing and was not to be made
  kLink,       // a symbolic link stands there; it was not followed
  kNotFolder,  // a file, device or other non-folder stands there
  kFailed,     // the host refused (errno in `error`)
};

// An open folder. Entering a child never follows a link, so a chain of
// folders entered from one the user chose cannot be redirected elsewhere,
// even by a link made while the chain is walked.
class FolderHandle {
 public:
  FolderHandle() = default;
  ~FolderHandle();
  FolderHandle(FolderHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FolderHandle& operator=(FolderHandle&& other) noexcept;
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;

  // A folder the user named: links on its way, and the folder itself being
  // a link, are the user's choice and followed.
  bool Open(const std::string& hostPath, int& error);
  bool IsOpen() const { return fd_ >= 0; }
  // The child folder `name` (one component); made first when missing and
  // `create` is set.
  FolderStep Enter(const std::string& name, bool create, FolderHandle& child, int& error) const;
  // Opens the file `name` in this folder with open(2) `flags` (and `mode`
  // when it is made), never through a link; -1 with errno on failure.
  int OpenAt(const std::string& name, int flags, unsigned mode = 0666) const;
  // The folder holding the file `hostPath`, reached as a guarded create
  // reaches it (from the guard's root, never through a link) when a write
  // guard covers the path, else opened as named. `leaf` gets the file's name.
  bool OpenParent(const std::string& hostPath, std::string& leaf, int& error);
  // Gives the file `from` of this folder the name `to`. Without `replace`,
  // a `to` that is taken fails the rename (EEXIST) and is never lost, not
  // even for a moment; with it, what stands at `to` is replaced (a link
  // itself, never what it points at), unless the active write guard
  // protects it (EPERM). 0 or the errno.
  int RenameAt(const std::string& from, const std::string& to, bool replace) const;
  // Removes the file or link `name` of this folder, never a folder; 0 or the errno.
  int RemoveAt(const std::string& name) const;

 private:
  int fd_ = -1;
};

// While one is alive, the files this thread opens with kCreateWrite are made
// new in `folder`, under the last component of the path asked for: the open
// fails (EEXIST) when anything is there already, a link included, and the
// file stays private to the user (0600) until it is closed, when it takes the
// mode a new file gets under the process's umask. Scopes do not nest.
class NewFileScope {
 public:
  explicit NewFileScope(const FolderHandle& folder);
  ~NewFileScope();
  NewFileScope(const NewFileScope&) = delete;
  NewFileScope& operator=(const NewFileScope&) = delete;

  const FolderHandle& Folder() const { return folder_; }

 private:
  const FolderHandle& folder_;
  NewFileScope* previous_;
};

// A name for a file being written, hidden and unpredictable, the same length
// whatever it stands for, so it fits wherever the final name fits.
std::string TemporaryFileName();

// The process's umask, read without changing it for a moment (as umask(2)
// would, for every thread).
unsigned ProcessUmask();

// Makes `hostPath` and its missing parents, following links on the way as
// the user's own path may hold them. On failure `error` is the errno and
// `failedAt` the folder that could not be made or is not a folder.
bool MakeFolderPath(const std::string& hostPath, int& error, std::string& failedAt);

// While one is alive, the files this thread opens with kCreateWrite below
// `root` are reached from `root` one folder at a time, never through a link,
// and a file whose identity is protected is never truncated (the open fails
// with EPERM). Guards do not nest; a newer one replaces the older until it
// ends.
class WriteGuard {
 public:
  WriteGuard(std::string root, std::vector<FileIdentity> protectedFiles);
  ~WriteGuard();
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;

  bool IsProtected(const FileIdentity& id) const;
  const std::string& Root() const { return root_; }

 private:
  std::string root_;
  std::vector<FileIdentity> protected_;
  WriteGuard* previous_;
};

}  // namespace host
