#include "host/file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>
#include <cstring>

namespace host {
namespace {

thread_local uint32_t threadError = 0;
thread_local WriteGuard* activeGuard = nullptr;
thread_local NewFileScope* activeNewFile = nullptr;

// `relative` when `path` lies strictly below `root`.
bool Below(const std::string& root, const std::string& path, std::string_view& relative) {
  if (root.empty()) return false;
  std::string_view r(root);
  while (r.size() > 1 && r.back() == '/') r.remove_suffix(1);
  if (path.size() <= r.size() || path.compare(0, r.size(), r) != 0) return false;
  if (r != "/" && path[r.size()] != '/') return false;
  relative = std::string_view(path).substr(r.size());
  while (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
  return !relative.empty();
}

bool IsPlainComponent(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

// Enters the folders of `relative` below `root` one at a time, never
// following a link, and leaves the last component (the file's name) in
// `relative`. False with errno set on failure: ELOOP for a link on the way,
// ENOTDIR for a file there.
bool EnterBelow(const std::string& root, std::string_view& relative, FolderHandle& folder) {
  int error = 0;
  if (!folder.Open(root, error)) {
    errno = error;
    return false;
  }
  size_t cut;
  while ((cut = relative.find('/')) != std::string_view::npos) {
    const std::string_view name = relative.substr(0, cut);
    relative.remove_prefix(cut + 1);
    if (name.empty()) continue;
    FolderHandle child;
    switch (folder.Enter(std::string(name), false, child, error)) {
      case FolderStep::kEntered:
      case FolderStep::kCreated:
        folder = std::move(child);
        continue;
      case FolderStep::kMissing:
        errno = ENOENT;
        return false;
      case FolderStep::kLink:
        errno = ELOOP;
        return false;
      case FolderStep::kNotFolder:
        errno = ENOTDIR;
        return false;
      case FolderStep::kFailed:
        errno = error;
        return false;
    }
  }
  if (!IsPlainComponent(relative)) {
    errno = EINVAL;
    return false;
  }
  return true;
}

// Opens `relative` below `root` with `flags`, as EnterBelow walks there.
int OpenBelow(const std::string& root, std::string_view relative, int flags) {
  FolderHandle folder;
  if (!EnterBelow(root, relative, folder)) return -1;
  return folder.OpenAt(std::string(relative), flags);
}

int OpenFlags(FileMode mode) {
  switch (mode) {
    case FileMode::kCreateWrite:
      // Truncation waits until the lock is held, so a file that another
      // stream holds exclusively is never emptied underneath it.
      // A restore never writes through a link left at the target: the link
      // could point anywhere outside the folder the user chose.
      return O_WRONLY | O_CREAT | O_NOFOLLOW;
    case FileMode::kReadWrite:
      return O_RDWR;
    case FileMode::kReadDenyWrite:
    case FileMode::kReadShared:
      return O_RDONLY;
  }
  return O_RDONLY;
}

int LockFor(FileMode mode) {
  switch (mode) {
    case FileMode::kCreateWrite:
    case FileMode::kReadWrite:
      return LOCK_EX;
    case FileMode::kReadDenyWrite:
      return LOCK_SH;
    case FileMode::kReadShared:
      return 0;
  }
  return 0;
}

}  // namespace

PlatformFile::~PlatformFile() { Abort(); }

bool PlatformFile::Fail() {
  lastErrno_ = errno != 0 ? errno : EIO;
  return false;
}

bool PlatformFile::OpenMemory(const void* data, size_t size) {
  if (fd_ >= 0) {
    lastErrno_ = EBUSY;
    return false;
  }
  int fd = ::memfd_create("tessera-volume", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return Fail();
  const auto* p = static_cast<const uint8_t*>(data);
  size_t left = size;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail();
      ::close(fd);
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  // Sealed, so the bytes stay what the caller handed over whatever a
  // writer does with the descriptor.
  if (::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
    Fail();
    ::close(fd);
    return false;
  }
  fd_ = fd;
  position_ = 0;
  cacheLength_ = 0;
  lastErrno_ = 0;
  return true;
}

bool PlatformFile::Open(const std::string& hostPath, FileMode mode) {
  if (fd_ >= 0) {
    lastErrno_ = EBUSY;
    return false;
  }
  if (hostPath.empty() || hostPath.find('\0') != std::string::npos) {
    lastErrno_ = ENOENT;
    return false;
  }
  // O_NONBLOCK keeps the open itself from waiting on a FIFO; it is cleared
  // again once the file is known to be a regular one.
  int fd;
  std::string_view relative;
  const bool guarded =
      mode == FileMode::kCreateWrite && activeGuard != nullptr && Below(activeGuard->Root(), hostPath, relative);
  const bool made = mode == FileMode::kCreateWrite && activeNewFile != nullptr;
  do {
    if (made) {
      const size_t slash = hostPath.rfind('/');
      fd = activeNewFile->Folder().OpenAt(hostPath.substr(slash == std::string::npos ? 0 : slash + 1),
                                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NONBLOCK, 0600);
    } else {
      fd = guarded ? OpenBelow(activeGuard->Root(), relative, OpenFlags(mode) | O_CLOEXEC | O_NONBLOCK)
                   : ::open(hostPath.c_str(), OpenFlags(mode) | O_CLOEXEC | O_NONBLOCK, 0666);
    }
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail();

  struct stat st;
  if (::fstat(fd, &st) != 0) {
    Fail();
    ::close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    lastErrno_ = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    errno = lastErrno_;  // callers above the stream read errno
    return false;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    Fail();
    ::close(fd);
    return false;
  }
  if (int lock = LockFor(mode); lock != 0) {
    int rc;
    do {
      rc = ::flock(fd, lock | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      Fail();
      ::close(fd);
      return false;
    }
  }
  // A file that is already empty is left alone: ext4 takes a truncation to
  // zero as a file being replaced and writes it out to disk when it is
  // closed, which made every restored file cost a disk write. The size is
  // taken again under the lock, since another writer may have added to the
  // file since it was opened.
  if (mode == FileMode::kCreateWrite) {
    if (activeGuard != nullptr && ::fstat(fd, &st) == 0 &&
        activeGuard->IsProtected({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)})) {
      ::close(fd);
      lastErrno_ = EPERM;
      errno = EPERM;
      return false;
    }
    if (::fstat(fd, &st) != 0 || (st.st_size != 0 && ::ftruncate(fd, 0) != 0)) {
      Fail();
      ::close(fd);
      return false;
    }
  }
  fd_ = fd;
  lastErrno_ = 0;
  widenOnClose_ = made;
  position_ = 0;
  cacheStart_ = 0;
  cacheLength_ = 0;
  return true;
}

ReadResult PlatformFile::ReadAt(uint8_t* p, uint32_t length, uint32_t& got) {
  got = 0;
  while (got < length) {
    ssize_t n = ::pread(fd_, p + got, length - got, static_cast<off_t>(position_ + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail();
      return ReadResult::kFailed;
    }
    if (n == 0) break;
    got += static_cast<uint32_t>(n);
  }
  return got == 0 ? ReadResult::kEndOfFile : ReadResult::kData;
}

ReadResult PlatformFile::Read(void* buffer, uint32_t length, uint32_t& got) {
  got = 0;
  if (fd_ < 0) {
    lastErrno_ = EBADF;
    return ReadResult::kFailed;
  }
  if (length == 0) return ReadResult::kData;
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (got < length) {
    // Serve what the read-ahead block holds at the position.
    if (position_ >= cacheStart_ && position_ < cacheStart_ + cacheLength_) {
      const uint32_t offset = static_cast<uint32_t>(position_ - cacheStart_);
      const uint32_t n = std::min(cacheLength_ - offset, length - got);
      std::memcpy(p + got, cache_.get() + offset, n);
      got += n;
      position_ += n;
      continue;
    }
    const uint32_t want = length - got;
    if (want >= kReadAhead) {
      // Large transfers go straight to the caller's buffer.
      uint32_t n = 0;
      const ReadResult r = ReadAt(p + got, want, n);
      if (r == ReadResult::kFailed) return got > 0 ? ReadResult::kData : r;
      got += n;
      position_ += n;
      break;
    }
    if (!cache_) {
      cache_.reset(new (std::nothrow) uint8_t[kReadAhead]);
      if (!cache_) {
        uint32_t n = 0;
        const ReadResult r = ReadAt(p + got, want, n);
        if (r == ReadResult::kFailed) return got > 0 ? ReadResult::kData : r;
        got += n;
        position_ += n;
        break;
      }
    }
    uint32_t n = 0;
    cacheStart_ = position_;
    cacheLength_ = 0;
    const ReadResult r = ReadAt(cache_.get(), kReadAhead, n);
    if (r == ReadResult::kFailed) return got > 0 ? ReadResult::kData : r;
    cacheLength_ = n;
    if (n == 0) break;
  }
  return got == 0 ? ReadResult::kEndOfFile : ReadResult::kData;
}

bool PlatformFile::Write(const void* buffer, uint32_t length) {
  if (fd_ < 0) {
    lastErrno_ = EBADF;
    return false;
  }
  cacheLength_ = 0;  // what was read ahead may be overwritten
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd_, p + done, length - done, static_cast<off_t>(position_));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail();
    }
    if (n == 0) {
      lastErrno_ = ENOSPC;
      return false;
    }
    done += static_cast<uint32_t>(n);
    position_ += static_cast<uint64_t>(n);
  }
  return true;
}

ReadResult PlatformFile::ReadAtOffset(uint64_t offset, void* buffer, uint32_t length, uint32_t& got) const {
  got = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (got < length) {
    const ssize_t n = ::pread(fd_, p + got, length - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ReadResult::kFailed;
    }
    if (n == 0) break;
    got += static_cast<uint32_t>(n);
  }
  return got == 0 && length != 0 ? ReadResult::kEndOfFile : ReadResult::kData;
}

bool PlatformFile::Seek(int64_t distance, SeekOrigin origin) {
  if (fd_ < 0) {
    lastErrno_ = EBADF;
    return false;
  }
  int64_t base = 0;
  if (origin == SeekOrigin::kCurrent) {
    base = static_cast<int64_t>(position_);
  } else if (origin == SeekOrigin::kEnd) {
    uint64_t length = 0;
    if (!Length(length)) return false;
    base = static_cast<int64_t>(length);
  }
  // The same limits the system's own seek has: no position before 0, none
  // beyond what an offset can express.
  if ((distance < 0 && base + distance < 0) || (distance > 0 && base > INT64_MAX - distance)) {
    lastErrno_ = EINVAL;
    return false;
  }
  position_ = static_cast<uint64_t>(base + distance);
  return true;
}

bool PlatformFile::Tell(uint64_t& out) {
  if (fd_ < 0) {
    lastErrno_ = EBADF;
    return false;
  }
  out = position_;
  return true;
}

bool PlatformFile::Length(uint64_t& out) {
  if (fd_ < 0) {
    lastErrno_ = EBADF;
    return false;
  }
  struct stat st;
  if (::fstat(fd_, &st) != 0) return Fail();
  out = static_cast<uint64_t>(st.st_size);
  return true;
}

void PlatformFile::Reserve(uint64_t end) {
  if (fd_ < 0 || end == 0) return;
  // On tmpfs and ramfs the space is the pages themselves, which a
  // reservation would allocate and clear before the writes fill them.
  struct statfs facts {};
  if (::fstatfs(fd_, &facts) != 0 || facts.f_type == TMPFS_MAGIC || facts.f_type == RAMFS_MAGIC) return;
  // Keeping the size, a file left short by a failure still says only what
  // was written.
  while (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(end)) != 0 && errno == EINTR) {
  }
}

bool PlatformFile::Flush() {
  if (fd_ < 0) {
    lastErrno_ = EBADF;
    return false;
  }
  if (::fsync(fd_) != 0) return Fail();
  return true;
}

bool PlatformFile::Close() {
  if (fd_ < 0) {
    lastErrno_ = EBADF;
    return false;
  }
  int fd = fd_;
  fd_ = -1;
  cacheLength_ = 0;
  // A file made private while it was written is complete now; a file system
  // without permissions refuses, and keeps what it shows anyway.
  if (widenOnClose_) (void)::fchmod(fd, 0666 & ~ProcessUmask());
  widenOnClose_ = false;
  // The descriptor is gone after close() even when it reports EINTR, so
  // retrying could close a descriptor another thread has just been given.
  if (::close(fd) != 0 && errno != EINTR) return Fail();
  return true;
}

void PlatformFile::Abort() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  widenOnClose_ = false;
  cacheLength_ = 0;
}

void SetThreadError(uint32_t code) { threadError = code; }
uint32_t GetThreadError() { return threadError; }

std::string SystemErrorText(int error) {
  char buffer[256];
  // The GNU variant may return a static string instead of filling the buffer.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : std::string("error ") + std::to_string(error);
}

// ---- Which file a path names

bool GetFileIdentity(const std::string& hostPath, bool followLink, FileIdentity& out) {
  struct stat st;
  if ((followLink ? ::stat(hostPath.c_str(), &st) : ::lstat(hostPath.c_str(), &st)) != 0) return false;
  out = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

int ProbePath(const std::string& hostPath) {
  struct stat st;
  if (::lstat(hostPath.c_str(), &st) == 0) return 0;
  return errno != 0 ? errno : EIO;
}

// ---- Folders reached one level at a time

FolderHandle::~FolderHandle() {
  if (fd_ >= 0) ::close(fd_);
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool FolderHandle::Open(const std::string& hostPath, int& error) {
  // A path-only descriptor needs no read permission, so a folder the user
  // may write but not list still works.
  int fd = ::open(hostPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  return true;
}

FolderStep FolderHandle::Enter(const std::string& name, bool create, FolderHandle& child, int& error) const {
  error = 0;
  if (fd_ < 0) {
    error = EBADF;
    return FolderStep::kFailed;
  }
  if (!IsPlainComponent(name) || name.find('\0') != std::string::npos) {
    error = EINVAL;
    return FolderStep::kFailed;
  }
  bool made = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = ::openat(fd_, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      if (child.fd_ >= 0) ::close(child.fd_);
      child.fd_ = fd;
      return made ? FolderStep::kCreated : FolderStep::kEntered;
    }
    error = errno;
    if (error == ELOOP || error == ENOTDIR) {
      struct stat st;
      if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) return FolderStep::kLink;
        if (!S_ISDIR(st.st_mode)) return FolderStep::kNotFolder;
      }
      return FolderStep::kFailed;
    }
    if (error != ENOENT) return FolderStep::kFailed;
    if (!create) return FolderStep::kMissing;
    if (::mkdirat(fd_, name.c_str(), 0777) == 0) {
      made = true;
    } else if (errno != EEXIST) {
      // A name the file system cannot hold is reported as such, not as the
      // missing folder the first look saw.
      error = errno;
      return FolderStep::kFailed;
    }
    // Made (or made by someone else meanwhile): look again, still without
    // following a link that may have taken its place.
  }
  return FolderStep::kFailed;
}

int FolderHandle::OpenAt(const std::string& name, int flags, unsigned mode) const {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  return ::openat(fd_, name.c_str(), flags | O_NOFOLLOW, static_cast<mode_t>(mode));
}

bool FolderHandle::OpenParent(const std::string& hostPath, std::string& leaf, int& error) {
  std::string_view relative;
  if (activeGuard != nullptr && Below(activeGuard->Root(), hostPath, relative)) {
    FolderHandle folder;
    if (!EnterBelow(activeGuard->Root(), relative, folder)) {
      error = errno;
      return false;
    }
    leaf = std::string(relative);
    *this = std::move(folder);
    return true;
  }
  const size_t slash = hostPath.rfind('/');
  if (slash == std::string::npos || !IsPlainComponent(std::string_view(hostPath).substr(slash + 1))) {
    error = EINVAL;
    return false;
  }
  leaf = hostPath.substr(slash + 1);
  return Open(slash == 0 ? std::string("/") : hostPath.substr(0, slash), error);
}

int FolderHandle::RenameAt(const std::string& from, const std::string& to, bool replace) const {
  if (fd_ < 0) return EBADF;
  if (!IsPlainComponent(from) || !IsPlainComponent(to)) return EINVAL;
  if (replace) {
    struct stat st;
    if (activeGuard != nullptr && ::fstatat(fd_, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        activeGuard->IsProtected({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}))
      return EPERM;
    return ::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0 ? 0 : errno;
  }
  if (::renameat2(fd_, from.c_str(), fd_, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  // A file system that cannot promise the name stays free: a hard link
  // fails on a taken name as well, and where there are no hard links
  // either (FAT), the name is looked at just before the rename.
  if (::linkat(fd_, from.c_str(), fd_, to.c_str(), 0) == 0) {
    (void)::unlinkat(fd_, from.c_str(), 0);
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
  struct stat st;
  if (::fstatat(fd_, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return ::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0 ? 0 : errno;
}

int FolderHandle::RemoveAt(const std::string& name) const {
  if (fd_ < 0) return EBADF;
  if (!IsPlainComponent(name)) return EINVAL;
  return ::unlinkat(fd_, name.c_str(), 0) == 0 ? 0 : errno;
}

NewFileScope::NewFileScope(const FolderHandle& folder) : folder_(folder), previous_(activeNewFile) {
  activeNewFile = this;
}

NewFileScope::~NewFileScope() { activeNewFile = previous_; }

std::string TemporaryFileName() {
  uint8_t bytes[8] = {};
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < sizeof bytes) {
    // Without the kernel's randomness the name is still one nobody can
    // count on: the open refuses a name that is taken.
    const uint64_t mixed = static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^
                           reinterpret_cast<uintptr_t>(&got) ^ static_cast<uint64_t>(::clock());
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] ^= static_cast<uint8_t>(mixed >> (8 * i));
  }
  static const char kHex[] = "0123456789abcdef";
  std::string name = ".tessera-";
  for (uint8_t b : bytes) {
    name.push_back(kHex[b >> 4]);
    name.push_back(kHex[b & 0xF]);
  }
  return name + ".part";
}

unsigned ProcessUmask() {
  static const unsigned mask = [] {
    unsigned value = 022;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("Umask:", 0) == 0) {
        value = static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8));
        break;
      }
    }
    return value & 0777;
  }();
  return mask;
}

bool MakeFolderPath(const std::string& hostPath, int& error, std::string& failedAt) {
  error = 0;
  if (hostPath.empty() || hostPath.front() != '/') {
    error = EINVAL;
    failedAt = hostPath;
    return false;
  }
  size_t at = 0;
  while (at < hostPath.size()) {
    size_t next = hostPath.find('/', at + 1);
    if (next == std::string::npos) next = hostPath.size();
    const std::string prefix = hostPath.substr(0, next);
    at = next;
    if (prefix.back() == '/') continue;  // a doubled separator
    struct stat st;
    if (::stat(prefix.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) continue;
      error = ENOTDIR;
      failedAt = prefix;
      return false;
    }
    if (errno != ENOENT || (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)) {
      error = errno;
      failedAt = prefix;
      return false;
    }
  }
  return true;
}

WriteGuard::WriteGuard(std::string root, std::vector<FileIdentity> protectedFiles)
    : root_(std::move(root)), protected_(std::move(protectedFiles)), previous_(activeGuard) {
  activeGuard = this;
}

WriteGuard::~WriteGuard() { activeGuard = previous_; }

bool WriteGuard::IsProtected(const FileIdentity& id) const {
  for (const FileIdentity& p : protected_)
    if (p == id) return true;
  return false;
}

}  // namespace host
