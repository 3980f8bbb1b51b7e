// The file-system services of a restore: making folders and output files,
// deleting, telling what a path is, and giving restored files and folders
// their Windows attributes and times as far as the host can keep them.
//
// Every function takes an engine path (Z:\home\me\out\a.txt) and maps it with
// ToHostPath; a path that cannot be mapped fails like a missing one.
//
// What Linux keeps of a Windows file:
//   read-only            everywhere, as the absence of the write permission bits
//   hidden, system,      only on NTFS through ntfs-3g, in the extended
//   archive              attribute "system.ntfs_attrib_be"
//   creation time        only on NTFS through ntfs-3g ("system.ntfs_crtime_be")
//   last access / write  everywhere (utimensat, nanoseconds)
//   compression          only where the NTFS driver accepts the compressed bit
//   encryption           nowhere
// Whatever is not kept is reported back, so the caller can tell "applied"
// from "silently lost".
//
// None of these functions follows a symbolic link at the final component: a
// restore never creates links, so a link found there is left over from
// something else and must not redirect a restored file's data or metadata.
#pragma once

#include <time.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// Windows attribute bits that a restore meets.
constexpr uint32_t kAttributeReadOnly = 0x1;
constexpr uint32_t kAttributeHidden = 0x2;
constexpr uint32_t kAttributeSystem = 0x4;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;
constexpr uint32_t kAttributeNormal = 0x80;
constexpr uint32_t kAttributeCompressed = 0x800;
constexpr uint32_t kAttributeEncrypted = 0x4000;
// The bits SetFileAttributes sets where the file system has a place for them.
constexpr uint32_t kSettableAttributes = kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeArchive;

// ---- Folders, files, existence

enum class CreateFolderResult {
  kCreated,  // the folder was made
  kExists,   // a folder was already there (a file or link there is kFailed)
  kFailed,   // the parent is missing, the host refused, or the path is bad
};
// One level only: the parent must exist.
CreateFolderResult CreateFolder(std::u16string_view path);

enum class PathKind {
  kMissing,       // nothing there
  kFolder,
  kFile,          // a regular file
  kSymbolicLink,  // the link itself, whatever it points at
  kOther,         // a device, FIFO or socket
  kUnknown,       // the path cannot be mapped, or the host refused to look
};
PathKind GetPathKind(std::u16string_view path);
// Anything at all is there, a dangling link included.
bool PathExists(std::u16string_view path);

// Leaves an empty regular file at `path`, ready to be opened for writing. An
// existing file is truncated; an existing symbolic link is removed and a new
// file made in its place, so the file the link pointed at is never touched.
// Fails for a folder or a device there.
bool CreateFileForWriting(std::u16string_view path);

// Removes a file or a symbolic link (never what it points at); never a folder.
bool DeleteFile(std::u16string_view path);

// ---- Attributes

// Gives `path` the Windows attributes `attributes`. Read-only is kept on every
// file system for files; on a folder, whose read-only bit means nothing to
// Windows and would make the folder unusable for a later restore here, it is
// kept only in the NTFS attribute. Hidden, system and archive are kept on NTFS
// through ntfs-3g, read-modify-write, so bits this function does not manage
// survive. A file system that refuses permission changes keeps read-only only
// in the NTFS attribute, if at all. Compression and encryption are never set
// here (see SetCompression).
// `applied`, when given, receives the requested bits that were kept; the
// directory and normal bits count as kept when they describe the path. A
// requested settable bit missing from `applied` after success is one the file
// system (or its driver) has no place for. Fails when the path is missing or
// a symbolic link, or the host refuses a change the file system could keep.
bool SetFileAttributes(std::u16string_view path, uint32_t attributes, uint32_t* applied = nullptr);

// The attributes as the host shows them: the directory bit, on ntfs-3g the
// stored NTFS bits, and for files read-only also when the permission bits
// allow no writing.
bool GetFileAttributes(std::u16string_view path, uint32_t& attributes);

// ---- Times

// FILETIME: 100-nanosecond units since 1601-01-01 00:00 UTC. 0 means "not
// given" throughout.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ull;  // 1970-01-01

// Any FILETIME is representable; times before 1970 give negative seconds with
// tv_nsec still in [0, 1e9). 0 gives 1601-01-01, but callers treat 0 as "leave
// as is" before converting.
timespec FileTimeToTimespec(uint64_t fileTime);
// Rounds down to 100 ns. Fails for times before 1601 or beyond the FILETIME
// range, and for a tv_nsec outside [0, 1e9).
bool TimespecToFileTime(const timespec& time, uint64_t& fileTime);

// Sets the times that are nonzero. Last access and last write are kept
// everywhere with their full precision; the creation time only on NTFS through
// ntfs-3g. `creationKept`, when given, says whether a nonzero creation time was
// kept (false also when none was asked for). Fails when the path is missing or
// the host refuses the access and write times.
bool SetFileTimes(std::u16string_view path, uint64_t creation, uint64_t lastAccess, uint64_t lastWrite,
                  bool* creationKept = nullptr);

// ---- Compression and encryption

enum class CompressionResult {
  kDone,          // the file or folder now has the state asked for
  kNotSupported,  // the file system or its driver cannot compress
  kFailed,        // the path is missing or the host refused
};
CompressionResult SetCompression(std::u16string_view path, bool on);

enum class EncryptionResult {
  kNotSupportedOnPlatform,  // the only result on Linux
};
// Importing a raw encrypted-file stream: the host has no such facility, so
// this creates nothing, consumes nothing from `source` and always reports
// kNotSupportedOnPlatform. `source` fills up to `length` bytes and sets it to
// the count delivered.
using RawSource = std::function<bool(uint8_t* buffer, uint32_t& length)>;
EncryptionResult ImportEncryptedRaw(std::u16string_view path, const RawSource& source);
// Encrypting a folder: likewise never possible here.
EncryptionResult EncryptFolder(std::u16string_view path);

// ---- The extended-attribute layer, replaceable for tests

// The calls the NTFS paths make, on host paths, never following a link. A
// volume is taken to be NTFS through ntfs-3g for a path when Get of
// "system.ntfs_attrib_be" succeeds there.
class ExtendedAttributes {
 public:
  virtual ~ExtendedAttributes() = default;
  // Fills `value` with the attribute's bytes; fails when it is absent.
  virtual bool Get(const std::string& hostPath, const char* name, std::vector<uint8_t>& value) = 0;
  virtual bool Set(const std::string& hostPath, const char* name, const std::vector<uint8_t>& value) = 0;
};
// Null restores the host's own calls. The object must outlive its use.
void SetExtendedAttributes(ExtendedAttributes* layer);

}  // namespace host
