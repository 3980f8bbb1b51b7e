// Drive and volume queries for the restore engine.
//
// The engine thinks in drives; the host has one tree of mounts. The whole host
// file system is drive Z: (root "z:\") and no other letter exists. The facts
// about a path (file-system kind, remote or local, space) therefore come from
// the mount that actually holds it, never from the drive letter: a folder below
// Z:\mnt\usb may lie on FAT while Z:\home lies on ext4.
//
// A path that does not exist yet (a restore target before its folders are
// made) is judged by its nearest existing ancestor, which is where its files
// will land.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// The present drive roots, lower-cased, in order: always just "z:\".
std::vector<std::u16string> GetDriveRoots();

// The drive root that `path` begins with, ignoring case ("Z:\home" -> "z:\").
// Fails for any other letter, and for "Z:" without its backslash.
bool GetVolumeRoot(std::u16string_view path, std::u16string& root);

enum class DrivePresence : int {
  kNotADrive = 0,  // not "X:" or "X:\" (a letter, a colon, maybe a backslash)
  kPresent = 1,
  kAbsent = 2,
};
DrivePresence IsDrivePresent(std::u16string_view text);

struct DiskSpace {
  uint64_t totalBytes = 0;
  uint64_t usedBytes = 0;  // total - free
  uint64_t freeBytes = 0;  // all free bytes, including those reserved for root
};
// Space of the volume that holds `path` (an engine path, usually a target
// folder). Fails for a path off drive Z:, when the host refuses, or when the
// volume reports no size at all (some FUSE drivers), whose free space is
// then unknown rather than zero.
bool GetDiskSpace(std::u16string_view path, DiskSpace& out);

enum class FileSystemKind {
  kNtfs,     // keeps compression, encryption and files of 4 GiB or more
  kFat,      // FAT12/16/32 alike: the host cannot tell them apart, so every
             // FAT volume is taken to hold only files below 4 GiB
  kNetwork,  // a remote file system; folder times are left alone there
  kOther,    // any local file system with no special rules (ext4, tmpfs...)
};

struct VolumeFacts {
  FileSystemKind kind = FileSystemKind::kOther;
  std::string typeName;    // as the mount table names it: "ext4", "fuseblk"
                           // (or FileSystemTypeFromMagic, see below)
  std::string mountPoint;  // host path of the mount that holds the path
  bool remote = false;     // kind == kNetwork
  uint64_t totalBytes = 0;  // both 0 when the volume reports no size
  uint64_t freeBytes = 0;
};
// When the mount table cannot be read or names no mount for the path, the
// type comes from the file system's magic number and the mount point is the
// highest folder on the same device. Fails for a path off drive Z:, or when
// the host refuses the space or type query.
bool GetVolumeFacts(std::u16string_view enginePath, VolumeFacts& out);

// Whether `path` lies on NTFS. Fails (leaving `isNtfs` alone) when the path has
// no volume root or its volume cannot be inspected; the caller decides what an
// unknown volume means for each rule.
bool IsNtfsVolume(std::u16string_view path, bool& isNtfs);

// Whether `path` lies on a network file system. Fails like IsNtfsVolume.
bool IsNetworkDrive(std::u16string_view path, bool& isNetwork);

// ---- The pieces behind the queries, exposed so they can be tested without
// ---- mounting anything.

// One line of /proc/self/mountinfo, the fields the queries need.
struct MountEntry {
  std::string mountPoint;  // octal escapes ("\040" for a space) decoded
  std::string typeName;    // "ext4", "fuse.sshfs"
  std::string source;      // "/dev/sdb1", "server:/export"
};

// Parses mountinfo text; malformed lines are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The mount that holds `realPath` (absolute, symbolic links resolved): the
// one with the longest mount point that is `realPath` or one of its folders;
// of equal mount points the later one, which covers the earlier. Null when
// none does.
const MountEntry* FindMount(const std::vector<MountEntry>& mounts, std::string_view realPath);

// The kind of a file system by its mount-table type. `ntfsAttributeSeen` says
// whether the path shows the attribute "system.ntfs_attrib_be", the only sign
// that a generic FUSE block mount ("fuseblk") is NTFS.
FileSystemKind ClassifyFileSystem(std::string_view typeName, bool ntfsAttributeSeen);

// The mount-table name of a file system by its superblock magic number
// (statfs f_type): "vfat", "ntfs3", "nfs" ...; "0x..." for one not known.
std::string FileSystemTypeFromMagic(uint64_t magic);

// The nearest existing ancestor of `hostPath` (the path itself when it
// exists), absolute with symbolic links resolved. Fails for a relative path.
bool NearestExistingPath(const std::string& hostPath, std::string& realPath);

// Where the mount table comes from. A reader fills `text` or fails; an empty
// function restores the default, /proc/self/mountinfo. For tests.
using MountTableReader = std::function<bool(std::string& text)>;
void SetMountTableReader(MountTableReader reader);

}  // namespace host
