#include "host/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>
#include <cstring>

namespace host {
namespace {

thread_local uint32_t threadError = 0;

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
  do {
    fd = ::open(hostPath.c_str(), OpenFlags(mode) | O_CLOEXEC | O_NONBLOCK, 0666);
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
    if (::fstat(fd, &st) != 0 || (st.st_size != 0 && ::ftruncate(fd, 0) != 0)) {
      Fail();
      ::close(fd);
      return false;
    }
  }
  fd_ = fd;
  lastErrno_ = 0;
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
  // The descriptor is gone after close() even when it reports EINTR, so
  // retrying could close a descriptor another thread has just been given.
  if (::close(fd) != 0 && errno != EINTR) return Fail();
  return true;
}

void PlatformFile::Abort() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
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

}  // namespace host
