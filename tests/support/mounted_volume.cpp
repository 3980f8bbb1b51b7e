#include "support/mounted_volume.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "host/host_path.h"

namespace testsupport {
namespace {

namespace fs = std::filesystem;

// Folders are named after the process that made them, so a later process can
// tell the leftovers of one that died from those of one still running.
constexpr std::string_view kFolderPrefix = "/tmp/tessera-vol-";

constexpr auto kToolTimeout = std::chrono::seconds(60);
constexpr auto kMountTimeout = std::chrono::seconds(10);

std::string ErrorText(int error) { return std::strerror(error); }

// Formatting programs live in sbin folders that a CI shell may not have on
// its PATH.
std::string FindTool(const char* name) {
  std::string dirs;
  if (const char* path = ::getenv("PATH")) dirs = path;
  dirs += ":/usr/local/sbin:/usr/sbin:/sbin:/usr/local/bin:/usr/bin:/bin";
  std::istringstream in(dirs);
  std::string dir;
  while (std::getline(in, dir, ':')) {
    if (dir.empty()) continue;
    std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  std::string text = all.str();
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  if (text.size() > 600) text = text.substr(0, 600) + "...";
  return text;
}

// Runs a program with its output in `logPath`, never on the test's own
// streams: a FUSE daemon forked from it must not keep ctest's pipe open.
// Returns false with `reason` set when it cannot be run, times out or exits
// with a failure.
bool RunTool(const std::vector<std::string>& argv, const std::string& logPath, std::string& reason) {
  std::string program = FindTool(argv[0].c_str());
  if (program.empty()) {
    reason = argv[0] + " is not installed (scripts/install-deps.sh installs it)";
    return false;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = ::fork();
  if (pid < 0) {
    reason = "fork failed: " + ErrorText(errno);
    return false;
  }
  if (pid == 0) {
    int out = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || in < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::close_range(3, ~0U, 0);
    ::execv(program.c_str(), args.data());
    ::_exit(127);
  }

  auto deadline = std::chrono::steady_clock::now() + kToolTimeout;
  int status = 0;
  for (;;) {
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      reason = "waiting for " + argv[0] + " failed: " + ErrorText(errno);
      return false;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      reason = argv[0] + " did not finish within 60 s";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  std::ostringstream text;
  text << argv[0];
  if (WIFEXITED(status)) text << " exited with status " << WEXITSTATUS(status);
  else text << " was killed by signal " << WTERMSIG(status);
  std::string output = ReadSmallFile(logPath);
  if (!output.empty()) text << ": " << output;
  reason = text.str();
  return false;
}

bool StatDevice(const std::string& path, dev_t& device) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  device = st.st_dev;
  return true;
}

// A mount point is still mounted while its device differs from its parent's,
// or while it is a FUSE mount whose daemon has gone.
bool IsMountPoint(const std::string& path) {
  dev_t self, parent;
  if (!StatDevice(path, self)) return errno == ENOTCONN;
  return StatDevice(fs::path(path).parent_path().string(), parent) && self != parent;
}

// Detaches `mountPoint`, politely first: a FUSE daemon may still hold it for
// a moment after the last file was closed.
void Detach(const std::string& mountPoint) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (::umount2(mountPoint.c_str(), 0) == 0) return;
    if (errno == EINVAL || errno == ENOENT) return;  // nothing mounted there
    if (errno != EBUSY) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::umount2(mountPoint.c_str(), MNT_DETACH);
}

// Removes what earlier test processes left when they died before their
// destructors ran (a crash, a timeout kill).
void SweepLeftovers() {
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator("/tmp", ec)) {
    std::string path = entry.path().string();
    if (path.compare(0, kFolderPrefix.size(), kFolderPrefix) != 0) continue;
    long pid = std::strtol(path.c_str() + kFolderPrefix.size(), nullptr, 10);
    if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    std::string mountPoint = path + "/mnt";
    Detach(mountPoint);
    if (!IsMountPoint(mountPoint)) fs::remove_all(path, ec);
  }
}

}  // namespace

const char* VolumeKindName(VolumeKind kind) {
  switch (kind) {
    case VolumeKind::kNtfs: return "NTFS";
    case VolumeKind::kFat32: return "FAT32";
    case VolumeKind::kTmpfs: return "tmpfs";
  }
  return "?";
}

MountedVolume::MountedVolume(VolumeKind kind, uint64_t sizeKiB) : kind_(kind) {
  mounted_ = Make(sizeKiB == 0 ? 64 * 1024 : sizeKiB);
}

MountedVolume::~MountedVolume() { Unmount(); }

std::string MountedVolume::HostPath(std::string_view relative) const {
  if (relative.empty()) return mountPoint_;
  return mountPoint_ + "/" + std::string(relative);
}

std::u16string MountedVolume::EnginePath(std::string_view relative) const {
  return host::ToEnginePath(HostPath(relative));
}

void MountedVolume::Fail(std::string reason) {
  skipReason_ = std::string(VolumeKindName(kind_)) + " volume unavailable: " + std::move(reason);
}

bool MountedVolume::Make(uint64_t sizeKiB) {
  if (::geteuid() != 0) {
    Fail("mounting needs root");
    return false;
  }
  if (kind_ != VolumeKind::kTmpfs && ::access("/dev/fuse", R_OK | W_OK) != 0) {
    Fail("/dev/fuse: " + ErrorText(errno));
    return false;
  }
  SweepLeftovers();

  std::string pattern = std::string(kFolderPrefix) + std::to_string(::getpid()) + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    Fail("mkdtemp: " + ErrorText(errno));
    return false;
  }
  folder_ = pattern;
  mountPoint_ = folder_ + "/mnt";
  if (::mkdir(mountPoint_.c_str(), 0755) != 0) {
    Fail("mkdir " + mountPoint_ + ": " + ErrorText(errno));
    return false;
  }
  dev_t before;
  if (!StatDevice(mountPoint_, before)) {
    Fail("stat " + mountPoint_ + ": " + ErrorText(errno));
    return false;
  }

  if (kind_ == VolumeKind::kTmpfs) {
    std::string options = "size=" + std::to_string(sizeKiB) + "k,mode=0755";
    if (::mount("tmpfs", mountPoint_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      Fail("mount -t tmpfs -o " + options + ": " + ErrorText(errno));
      return false;
    }
    return true;
  }

  if (!MakeImage(sizeKiB)) return false;
  std::string reason;
  std::string log = folder_ + "/mount.log";
  bool ran = kind_ == VolumeKind::kNtfs ? RunTool({"ntfs-3g", image_, mountPoint_}, log, reason)
                                        : RunTool({"fusefat", "-o", "rw+", image_, mountPoint_}, log, reason);
  if (!ran) {
    Fail(reason);
    return false;
  }
  return WaitForMount(before);
}

bool MountedVolume::MakeImage(uint64_t sizeKiB) {
  image_ = folder_ + "/image";
  int fd = ::open(image_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(sizeKiB * 1024)) != 0) {
    Fail("image " + image_ + ": " + ErrorText(errno));
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::close(fd);
  std::string reason;
  std::string log = folder_ + "/format.log";
  bool formatted = kind_ == VolumeKind::kNtfs
                       ? RunTool({"mkntfs", "-F", "-f", "-q", image_}, log, reason)
                       // One 512-byte sector a cluster keeps a small image above
                       // FAT32's minimum cluster count.
                       : RunTool({"mkfs.vfat", "-F", "32", "-S", "512", "-s", "1", image_}, log, reason);
  if (!formatted) Fail(reason);
  return formatted;
}

bool MountedVolume::WaitForMount(dev_t before) {
  // The daemon answers requests only once it has forked into the background;
  // until the mount point shows another device, files would land on /tmp.
  auto deadline = std::chrono::steady_clock::now() + kMountTimeout;
  for (;;) {
    dev_t now;
    if (StatDevice(mountPoint_, now) && now != before) return true;
    if (std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::string output = ReadSmallFile(folder_ + "/mount.log");
  Fail(mountPoint_ + " did not become a mount within 10 s" + (output.empty() ? "" : ": " + output));
  return false;
}

void MountedVolume::Unmount() {
  if (folder_.empty()) return;
  // Also when making the volume failed half-way: a daemon may have mounted
  // before it gave up.
  Detach(mountPoint_);
  mounted_ = false;
  std::error_code ec;
  // Never recurse into a volume that is still attached.
  if (!IsMountPoint(mountPoint_)) fs::remove_all(folder_, ec);
  folder_.clear();
}

}  // namespace testsupport
