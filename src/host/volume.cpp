#include "host/volume.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <sstream>

#include "host/host_path.h"
#include "host/text.h"

namespace host {
namespace {

constexpr std::u16string_view kOnlyDriveRoot = u"z:\\";

// ntfs-3g publishes a file's attribute word under this name; no other file
// system does, so it tells an NTFS FUSE mount from any other "fuseblk".
constexpr const char* kNtfsAttributeName = "system.ntfs_attrib_be";

std::mutex& ReaderMutex() {
  static std::mutex mutex;
  return mutex;
}

MountTableReader& CurrentReader() {
  static MountTableReader reader;
  return reader;
}

bool ReadProcMountInfo(std::string& text) {
  std::ifstream in("/proc/self/mountinfo", std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  if (in.bad()) return false;
  text = all.str();
  return true;
}

bool ReadMountTable(std::string& text) {
  MountTableReader reader;
  {
    std::lock_guard<std::mutex> lock(ReaderMutex());
    reader = CurrentReader();
  }
  return reader ? reader(text) : ReadProcMountInfo(text);
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// Format notes: the kernel writes a space, tab, newline and backslash inside a
// mountinfo field as a backslash and three octal digits ("\040"). A NUL cannot
// be part of a path, so a field that decodes to one is refused.
bool DecodeField(std::string_view field, std::string& out) {
  out.clear();
  for (size_t i = 0; i < field.size(); ++i) {
    bool escape = field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
                  IsOctal(field[i + 2]) && IsOctal(field[i + 3]);
    if (escape) {
      char c = static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0'));
      if (c == '\0') return false;
      out += c;
      i += 3;
    } else {
      out += field[i];
    }
  }
  return true;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

bool HoldsPath(std::string_view mountPoint, std::string_view realPath) {
  if (mountPoint == "/") return !realPath.empty() && realPath[0] == '/';
  if (realPath.size() < mountPoint.size() || realPath.compare(0, mountPoint.size(), mountPoint) != 0) return false;
  return realPath.size() == mountPoint.size() || realPath[mountPoint.size()] == '/';
}

bool HasNtfsAttribute(const std::string& realPath) {
  return ::getxattr(realPath.c_str(), kNtfsAttributeName, nullptr, 0) >= 0;
}

bool IsOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  for (std::string_view n : names)
    if (name == n) return true;
  return false;
}

struct Space {
  uint64_t total = 0;
  uint64_t free = 0;
};

bool QuerySpace(const std::string& realPath, Space& out) {
  struct statvfs st {};
  if (::statvfs(realPath.c_str(), &st) != 0) return false;
  uint64_t unit = st.f_frsize != 0 ? st.f_frsize : st.f_bsize;
  out.total = static_cast<uint64_t>(st.f_blocks) * unit;
  // Free bytes of the volume, not only those the calling user may take, so
  // the figure matches what the volume itself reports.
  out.free = static_cast<uint64_t>(st.f_bfree) * unit;
  if (out.free > out.total) out.free = out.total;
  return true;
}

// The mount point when the mount table cannot tell it: the highest folder
// above `realPath` that is still on the same device. A bind mount of a folder
// of the same device is not seen, which only widens the mount point.
std::string SameDeviceTop(const std::string& realPath) {
  struct stat here {};
  if (::stat(realPath.c_str(), &here) != 0) return realPath;
  std::string top = realPath;
  while (top != "/") {
    size_t slash = top.rfind('/');
    std::string parent = slash == 0 ? std::string("/") : top.substr(0, slash);
    struct stat up {};
    if (::stat(parent.c_str(), &up) != 0 || up.st_dev != here.st_dev) break;
    top = std::move(parent);
  }
  return top;
}

}  // namespace

std::vector<std::u16string> GetDriveRoots() { return {std::u16string(kOnlyDriveRoot)}; }

bool GetVolumeRoot(std::u16string_view path, std::u16string& root) {
  for (const std::u16string& candidate : GetDriveRoots()) {
    if (StartsWithNoCase(path, candidate)) {
      root = candidate;
      return true;
    }
  }
  return false;
}

DrivePresence IsDrivePresent(std::u16string_view text) {
  if (text.size() != 2 && text.size() != 3) return DrivePresence::kNotADrive;
  char16_t letter = text[0];
  bool isLetter = (letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z');
  if (!isLetter || text[1] != u':') return DrivePresence::kNotADrive;
  if (text.size() == 3 && text[2] != u'\\') return DrivePresence::kNotADrive;
  for (const std::u16string& root : GetDriveRoots()) {
    if (EqualsNoCase(text, std::u16string_view(root).substr(0, text.size()))) return DrivePresence::kPresent;
  }
  return DrivePresence::kAbsent;
}

bool NearestExistingPath(const std::string& hostPath, std::string& realPath) {
  if (hostPath.empty() || hostPath[0] != '/') return false;
  std::string candidate = hostPath;
  for (;;) {
    std::unique_ptr<char, decltype(&::free)> resolved(::realpath(candidate.c_str(), nullptr), &::free);
    if (resolved) {
      realPath = resolved.get();
      return true;
    }
    // Missing, not a folder, or not searchable: the files would land in
    // whatever ancestor can be reached, so judge by that.
    while (candidate.size() > 1 && candidate.back() == '/') candidate.pop_back();
    if (candidate == "/") return false;
    size_t slash = candidate.rfind('/');
    candidate.resize(slash == 0 ? 1 : slash);
  }
}

bool GetDiskSpace(std::u16string_view path, DiskSpace& out) {
  std::string hostPath, realPath;
  if (!ToHostPath(path, hostPath) || !NearestExistingPath(hostPath, realPath)) return false;
  Space space;
  // A driver that keeps no count (fusefat reports zero blocks) says nothing
  // about free space; "0 free" would turn every file away.
  if (!QuerySpace(realPath, space) || space.total == 0) return false;
  out.totalBytes = space.total;
  out.freeBytes = space.free;
  out.usedBytes = space.total - space.free;
  return true;
}

// Format notes: a mountinfo line is
//   id parent major:minor root mount-point options [optional...] - type source super-options
// The optional fields vary in number, so the type is found after the lone "-".
std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::vector<std::string_view> fields = SplitFields(text.substr(start, end - start));
    start = end + 1;

    size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 2 >= fields.size()) continue;
    MountEntry entry;
    if (!DecodeField(fields[4], entry.mountPoint) || !DecodeField(fields[dash + 1], entry.typeName) ||
        !DecodeField(fields[dash + 2], entry.source))
      continue;
    if (entry.mountPoint.empty() || entry.mountPoint[0] != '/') continue;
    mounts.push_back(std::move(entry));
  }
  return mounts;
}

const MountEntry* FindMount(const std::vector<MountEntry>& mounts, std::string_view realPath) {
  const MountEntry* best = nullptr;
  for (const MountEntry& m : mounts) {
    if (!HoldsPath(m.mountPoint, realPath)) continue;
    if (best == nullptr || m.mountPoint.size() >= best->mountPoint.size()) best = &m;
  }
  return best;
}

FileSystemKind ClassifyFileSystem(std::string_view typeName, bool ntfsAttributeSeen) {
  if (IsOneOf(typeName, {"ntfs3", "ntfs"})) return FileSystemKind::kNtfs;
  // A FUSE type is whatever the mounting program calls itself, so only the
  // attribute interface that the restore relies on makes it NTFS.
  // ntfs-3g names its mount "fuseblk" on a block device and plain "fuse" on
  // an image file.
  if (IsOneOf(typeName, {"fuseblk", "fuse", "fuse.ntfs-3g", "fuse.lowntfs-3g", "fuse.ntfs"}))
    return ntfsAttributeSeen ? FileSystemKind::kNtfs : FileSystemKind::kOther;
  if (IsOneOf(typeName, {"vfat", "msdos", "fat", "fuse.fusefat"})) return FileSystemKind::kFat;
  if (IsOneOf(typeName, {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs"})) return FileSystemKind::kNetwork;
  return FileSystemKind::kOther;
}

std::string FileSystemTypeFromMagic(uint64_t magic) {
  // Format notes: the values are the kernel's superblock magic numbers
  // (linux/magic.h, and ntfs3's own). The names are those the mount table
  // would show, so that ClassifyFileSystem judges both sources alike.
  struct Known {
    uint64_t magic;
    const char* name;
  };
  static constexpr Known kKnown[] = {
      {0xEF53, "ext2/ext3/ext4"},  // one magic for all three
      {0x58465342, "xfs"},
      {0x9123683E, "btrfs"},
      {0xF2F52010, "f2fs"},
      {0x2FC12FC1, "zfs"},
      {0x01021994, "tmpfs"},
      {0x858458F6, "ramfs"},
      {0x794C7630, "overlay"},
      {0x73717368, "squashfs"},
      {0x9660, "iso9660"},
      {0x15013346, "udf"},
      {0x2011BAB0, "exfat"},
      {0x4D44, "vfat"},
      {0x5346544E, "ntfs"},
      {0x7366746E, "ntfs3"},
      {0x65735546, "fuse"},
      {0x6969, "nfs"},
      {0xFF534D42, "cifs"},
      {0xFE534D42, "smb3"},
      {0x517B, "smbfs"},
      {0x00C36400, "ceph"},
      {0x01021997, "9p"},
  };
  for (const Known& k : kKnown)
    if (k.magic == magic) return k.name;
  char hex[24];
  std::snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(magic));
  return hex;
}

bool GetVolumeFacts(std::u16string_view enginePath, VolumeFacts& out) {
  std::string hostPath, realPath, table;
  if (!ToHostPath(enginePath, hostPath) || !NearestExistingPath(hostPath, realPath)) return false;
  std::vector<MountEntry> mounts;
  if (ReadMountTable(table)) mounts = ParseMountInfo(table);
  const MountEntry* mount = FindMount(mounts, realPath);
  Space space;
  if (!QuerySpace(realPath, space)) return false;

  VolumeFacts facts;
  if (mount != nullptr) {
    facts.typeName = mount->typeName;
    facts.mountPoint = mount->mountPoint;
  } else {
    // A chroot or a container often has no /proc, or a mount table that
    // describes the outer tree; the file system itself still says its type.
    struct statfs st {};
    if (::statfs(realPath.c_str(), &st) != 0) return false;
    facts.typeName = FileSystemTypeFromMagic(static_cast<uint64_t>(static_cast<unsigned long>(st.f_type)));
    facts.mountPoint = SameDeviceTop(realPath);
  }
  bool fuse = facts.typeName.compare(0, 4, "fuse") == 0;
  facts.kind = ClassifyFileSystem(facts.typeName, fuse && HasNtfsAttribute(realPath));
  facts.remote = facts.kind == FileSystemKind::kNetwork;
  facts.totalBytes = space.total;
  facts.freeBytes = space.free;
  out = std::move(facts);
  return true;
}

bool IsNtfsVolume(std::u16string_view path, bool& isNtfs) {
  std::u16string root;
  VolumeFacts facts;
  if (!GetVolumeRoot(path, root) || !GetVolumeFacts(path, facts)) return false;
  isNtfs = facts.kind == FileSystemKind::kNtfs;
  return true;
}

bool IsNetworkDrive(std::u16string_view path, bool& isNetwork) {
  std::u16string root;
  VolumeFacts facts;
  if (!GetVolumeRoot(path, root) || !GetVolumeFacts(path, facts)) return false;
  isNetwork = facts.remote;
  return true;
}

void SetMountTableReader(MountTableReader reader) {
  std::lock_guard<std::mutex> lock(ReaderMutex());
  CurrentReader() = std::move(reader);
}

}  // namespace host
