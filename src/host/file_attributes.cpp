#include "host/file_attributes.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "host/file.h"
#include "host/host_path.h"

namespace host {

namespace {

// Format notes: ntfs-3g shows a file's NTFS attribute word as
// "system.ntfs_attrib_be", four bytes, most significant first, and its
// creation time as "system.ntfs_crtime_be", an eight-byte FILETIME, most
// significant first. The attribute word carries bits Linux has no name for
// (sparse, reparse, offline...), so it is always read before it is written.
constexpr const char* kNtfsAttributeName = "system.ntfs_attrib_be";
constexpr const char* kNtfsCreationTimeName = "system.ntfs_crtime_be";

// The bits SetFileAttributes owns in the NTFS attribute word.
constexpr uint32_t kManagedNtfsBits = kSettableAttributes;

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kUnixEpochSeconds = static_cast<int64_t>(kFileTimeUnixEpoch / kTicksPerSecond);

class HostExtendedAttributes : public ExtendedAttributes {
 public:
  bool Get(const std::string& hostPath, const char* name, std::vector<uint8_t>& value) override {
    ssize_t size = ::lgetxattr(hostPath.c_str(), name, nullptr, 0);
    // The NTFS values are a few bytes; a larger one is not what we look for.
    if (size < 0 || size > 64) return false;
    value.assign(static_cast<size_t>(size), 0);
    ssize_t got = ::lgetxattr(hostPath.c_str(), name, value.data(), value.size());
    if (got < 0) return false;
    value.resize(static_cast<size_t>(got));
    return true;
  }
  bool Set(const std::string& hostPath, const char* name, const std::vector<uint8_t>& value) override {
    return ::lsetxattr(hostPath.c_str(), name, value.data(), value.size(), 0) == 0;
  }
};

HostExtendedAttributes hostLayer;
ExtendedAttributes* activeLayer = &hostLayer;

ExtendedAttributes& Layer() { return *activeLayer; }

bool ReadNtfsAttributes(const std::string& hostPath, uint32_t& bits) {
  std::vector<uint8_t> value;
  if (!Layer().Get(hostPath, kNtfsAttributeName, value) || value.size() != 4) return false;
  bits = (uint32_t{value[0]} << 24) | (uint32_t{value[1]} << 16) | (uint32_t{value[2]} << 8) | value[3];
  return true;
}

bool WriteNtfsAttributes(const std::string& hostPath, uint32_t bits) {
  std::vector<uint8_t> value{static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16),
                             static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
  return Layer().Set(hostPath, kNtfsAttributeName, value);
}

// The write bits a new file gets here (0222 without the umask).
mode_t DefaultWriteBits() { return static_cast<mode_t>(0222 & ~ProcessUmask()); }

bool MapPath(std::u16string_view path, std::string& hostPath) {
  return ToHostPath(path, hostPath) && !hostPath.empty();
}

// lstat of an engine path; false when unmappable or absent.
bool StatPath(std::u16string_view path, std::string& hostPath, struct stat& st) {
  return MapPath(path, hostPath) && ::lstat(hostPath.c_str(), &st) == 0;
}

int OpenForWriting(const std::string& hostPath) {
  int fd;
  do {
    fd = ::open(hostPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

void SetExtendedAttributes(ExtendedAttributes* layer) { activeLayer = layer ? layer : &hostLayer; }

// ---- Folders, files, existence

CreateFolderResult CreateFolder(std::u16string_view path) {
  std::string hostPath;
  if (!MapPath(path, hostPath)) return CreateFolderResult::kFailed;
  if (::mkdir(hostPath.c_str(), 0777) == 0) return CreateFolderResult::kCreated;
  if (errno != EEXIST) return CreateFolderResult::kFailed;
  // A link to a folder is not a folder of ours: files restored into it would
  // land wherever it points.
  struct stat st;
  if (::lstat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return CreateFolderResult::kExists;
  return CreateFolderResult::kFailed;
}

PathKind GetPathKind(std::u16string_view path) {
  std::string hostPath;
  if (!MapPath(path, hostPath)) return PathKind::kUnknown;
  struct stat st;
  if (::lstat(hostPath.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? PathKind::kMissing : PathKind::kUnknown;
  if (S_ISDIR(st.st_mode)) return PathKind::kFolder;
  if (S_ISREG(st.st_mode)) return PathKind::kFile;
  if (S_ISLNK(st.st_mode)) return PathKind::kSymbolicLink;
  return PathKind::kOther;
}

bool PathExists(std::u16string_view path) {
  PathKind kind = GetPathKind(path);
  return kind != PathKind::kMissing && kind != PathKind::kUnknown;
}

bool CreateFileForWriting(std::u16string_view path) {
  std::string hostPath;
  if (!MapPath(path, hostPath)) return false;
  // A link may appear between the removal and the open (another program at
  // work in the same folder); O_NOFOLLOW refuses it, and one more removal
  // settles an honest race without looping on a hostile one.
  int fd = -1;
  for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
    struct stat st;
    if (::lstat(hostPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::unlink(hostPath.c_str()) != 0) return false;
    fd = OpenForWriting(hostPath);
    if (fd < 0 && errno != ELOOP) return false;
  }
  if (fd < 0) return false;
  struct stat st;
  bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  bool closed = ::close(fd) == 0;
  return regular && closed;
}

bool DeleteFile(std::u16string_view path) {
  std::string hostPath;
  return MapPath(path, hostPath) && ::unlink(hostPath.c_str()) == 0;
}

// ---- Attributes

bool SetFileAttributes(std::u16string_view path, uint32_t attributes, uint32_t* applied) {
  if (applied) *applied = 0;
  std::string hostPath;
  struct stat st;
  if (!StatPath(path, hostPath, st) || S_ISLNK(st.st_mode)) return false;
  const bool folder = S_ISDIR(st.st_mode);
  uint32_t kept = 0;

  uint32_t ntfsBits;
  const bool ntfs = ReadNtfsAttributes(hostPath, ntfsBits);

  if (!folder) {
    mode_t mode = st.st_mode & 07777;
    mode_t wanted = (attributes & kAttributeReadOnly) ? (mode & ~mode_t{0222}) : (mode | S_IWUSR | DefaultWriteBits());
    if (wanted == mode) {
      kept |= attributes & kAttributeReadOnly;
    } else if (::chmod(hostPath.c_str(), wanted) == 0) {
      // ntfs-3g without permission mapping answers success and keeps the
      // mode it invents, so only the mode read back tells.
      struct stat after;
      if (::lstat(hostPath.c_str(), &after) == 0 && ((after.st_mode & 0222) == 0) == ((wanted & 0222) == 0))
        kept |= attributes & kAttributeReadOnly;
    } else if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) {
      return false;
    }
    // Drivers without a permission model (fusefat has no chmod at all,
    // ntfs-3g without permission mapping ignores it) lose the change: on NTFS
    // the attribute word below still keeps read-only; elsewhere it is
    // reported as lost.
  }

  if (ntfs) {
    uint32_t updated = (ntfsBits & ~kManagedNtfsBits) | (attributes & kManagedNtfsBits);
    // NTFS keeps "normal" only as the word of a file with no other bit; a
    // file whose last bit is cleared gets it back, as Windows does.
    if (!folder) {
      updated &= ~kAttributeNormal;
      if (updated == 0) updated = kAttributeNormal;
    }
    if (updated != ntfsBits && !WriteNtfsAttributes(hostPath, updated)) return false;
    kept |= attributes & kManagedNtfsBits;
  }

  if (folder) kept |= attributes & kAttributeDirectory;
  else kept |= attributes & kAttributeNormal;
  if (applied) *applied = kept;
  return true;
}

bool GetFileAttributes(std::u16string_view path, uint32_t& attributes) {
  std::string hostPath;
  struct stat st;
  if (!StatPath(path, hostPath, st)) return false;
  uint32_t bits = 0;
  uint32_t ntfsBits;
  if (ReadNtfsAttributes(hostPath, ntfsBits)) bits = ntfsBits;
  // A file is read-only when its mode or its NTFS word says so: ntfs-3g
  // without permission mapping shows every file writable whatever the word
  // holds, and SetFileAttributes clears both when it clears the bit.
  if (S_ISDIR(st.st_mode)) {
    bits |= kAttributeDirectory;
  } else if ((st.st_mode & 0222) == 0) {
    bits |= kAttributeReadOnly;
  }
  if (bits == 0) bits = kAttributeNormal;
  attributes = bits;
  return true;
}

// ---- Times

timespec FileTimeToTimespec(uint64_t fileTime) {
  // Whole seconds first, so the subtraction of the epoch cannot overflow.
  int64_t seconds = static_cast<int64_t>(fileTime / kTicksPerSecond) - kUnixEpochSeconds;
  int64_t ticks = static_cast<int64_t>(fileTime % kTicksPerSecond);
  timespec out{};
  out.tv_sec = static_cast<time_t>(seconds);
  out.tv_nsec = static_cast<long>(ticks * 100);
  return out;
}

bool TimespecToFileTime(const timespec& time, uint64_t& fileTime) {
  if (time.tv_nsec < 0 || time.tv_nsec >= 1000000000L) return false;
  int64_t seconds = static_cast<int64_t>(time.tv_sec);
  constexpr int64_t kMaxSeconds = static_cast<int64_t>(UINT64_MAX / kTicksPerSecond) - kUnixEpochSeconds;
  if (seconds < -kUnixEpochSeconds || seconds > kMaxSeconds) return false;
  uint64_t whole = static_cast<uint64_t>(seconds + kUnixEpochSeconds);
  uint64_t ticks = static_cast<uint64_t>(time.tv_nsec / 100);
  if (whole > (UINT64_MAX - ticks) / kTicksPerSecond) return false;
  fileTime = whole * kTicksPerSecond + ticks;
  return true;
}

bool SetFileTimes(std::u16string_view path, uint64_t creation, uint64_t lastAccess, uint64_t lastWrite,
                  bool* creationKept) {
  if (creationKept) *creationKept = false;
  std::string hostPath;
  struct stat st;
  if (!StatPath(path, hostPath, st)) return false;

  if (lastAccess != 0 || lastWrite != 0) {
    timespec times[2];
    times[0] = lastAccess ? FileTimeToTimespec(lastAccess) : timespec{0, UTIME_OMIT};
    times[1] = lastWrite ? FileTimeToTimespec(lastWrite) : timespec{0, UTIME_OMIT};
    if (::utimensat(AT_FDCWD, hostPath.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return false;
  }

  if (creation != 0) {
    uint32_t ntfsBits;
    if (ReadNtfsAttributes(hostPath, ntfsBits)) {
      std::vector<uint8_t> value(8);
      for (int i = 0; i < 8; ++i) value[i] = static_cast<uint8_t>(creation >> (56 - 8 * i));
      // The creation time is the one time NTFS alone keeps; a refusal to set
      // it on a volume that has it is a real failure, not a lost extra.
      if (!Layer().Set(hostPath, kNtfsCreationTimeName, value)) return false;
      if (creationKept) *creationKept = true;
    }
  }
  return true;
}

// ---- Compression and encryption

CompressionResult SetCompression(std::u16string_view path, bool on) {
  std::string hostPath;
  struct stat st;
  if (!StatPath(path, hostPath, st) || S_ISLNK(st.st_mode)) return CompressionResult::kFailed;
  uint32_t ntfsBits;
  if (!ReadNtfsAttributes(hostPath, ntfsBits)) return CompressionResult::kNotSupported;
  if (((ntfsBits & kAttributeCompressed) != 0) == on) return CompressionResult::kDone;
  uint32_t updated = on ? (ntfsBits | kAttributeCompressed) : (ntfsBits & ~kAttributeCompressed);
  // The driver decides whether it can compress (ntfs-3g only for some
  // volumes and files); reading the word back is the only honest answer.
  uint32_t after;
  if (!WriteNtfsAttributes(hostPath, updated) || !ReadNtfsAttributes(hostPath, after) ||
      ((after & kAttributeCompressed) != 0) != on) {
    return CompressionResult::kNotSupported;
  }
  return CompressionResult::kDone;
}

EncryptionResult ImportEncryptedRaw(std::u16string_view, const RawSource&) {
  return EncryptionResult::kNotSupportedOnPlatform;
}

EncryptionResult EncryptFolder(std::u16string_view) { return EncryptionResult::kNotSupportedOnPlatform; }

}  // namespace host
