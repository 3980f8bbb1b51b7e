// Real volumes for tests: an NTFS or FAT32 image mounted through FUSE, or a
// tmpfs of a chosen size, each in a fresh folder under /tmp.
//
// Making one needs root, /dev/fuse (for the images) and the formatting and
// mounting programs. When any of that is missing, or the mount fails, the
// object holds the reason instead, for GTEST_SKIP(). Everything it made is
// unmounted and removed when it goes away, also after a failed assertion;
// volumes left behind by a test process that died are swept the next time
// one is made.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace testsupport {

enum class VolumeKind {
  kNtfs,   // mkntfs image, mounted with ntfs-3g
  kFat32,  // mkfs.vfat -F 32 image, mounted read-write with fusefat
  kTmpfs,  // mount -t tmpfs -o size=...k
};

const char* VolumeKindName(VolumeKind kind);

class MountedVolume {
 public:
  // `sizeKiB` is the image size, or the tmpfs size; 0 takes 64 MiB. A FAT32
  // image needs about 33 MiB at least.
  explicit MountedVolume(VolumeKind kind, uint64_t sizeKiB = 0);
  ~MountedVolume();
  MountedVolume(const MountedVolume&) = delete;
  MountedVolume& operator=(const MountedVolume&) = delete;

  bool IsMounted() const { return mounted_; }
  // Why the volume could not be made; empty when it is mounted.
  const std::string& SkipReason() const { return skipReason_; }
  VolumeKind Kind() const { return kind_; }

  // The mount point, or a path below it ("a/b.txt").
  std::string HostPath(std::string_view relative = {}) const;
  // The same as an engine path (Z:\tmp\...).
  std::u16string EnginePath(std::string_view relative = {}) const;

 private:
  bool Make(uint64_t sizeKiB);
  bool MakeImage(uint64_t sizeKiB);
  bool WaitForMount(dev_t before);
  void Fail(std::string reason);
  void Unmount();

  VolumeKind kind_;
  bool mounted_ = false;
  std::string skipReason_;
  std::string folder_;      // the mkdtemp folder that holds everything
  std::string mountPoint_;  // folder_/mnt
  std::string image_;       // folder_/image, for the FUSE kinds
};

}  // namespace testsupport
