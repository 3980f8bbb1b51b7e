// The platform file: the only code that opens, reads, writes and positions
// files on the host. The streams in src/io build on it and never call the
// operating system themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

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
  // Moves by a signed distance from the origin. Positions past the end are
  // allowed (as a later write would extend the file); before 0 they fail.
  bool Seek(int64_t distance, SeekOrigin origin);
  bool Tell(uint64_t& out);
  bool Length(uint64_t& out);
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

}  // namespace host
