#include "host/private_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace host {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string AbsoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return {};
  std::string path = value;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string HomeBased(const char* variable, const char* below) {
  std::string path = AbsoluteVariable(variable);
  if (!path.empty()) return path;
  const std::string home = AbsoluteVariable("HOME");
  return home.empty() ? std::string() : (home == "/" ? std::string() : home) + below;
}

std::string RandomSuffix() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[12];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {};
    }
    got += static_cast<size_t>(n);
  }
  std::string suffix;
  for (unsigned char b : bytes) suffix += kLetters[b % (sizeof kLetters - 1)];
  return suffix;
}

// Lets a refused folder read as a refusal, whatever fstat left in errno.
UniqueFd Refused() {
  errno = EACCES;
  return UniqueFd();
}

// Empties the open folder `fd`; its device is `device`. True when empty.
bool EmptyFolder(int fd, dev_t device, int depth) {
  // Deeper than any tree a restore makes: a loop of bind mounts or a
  // hostile tree is left alone rather than followed without end.
  if (depth > 4096) return false;
  const int listFd = ::dup(fd);
  if (listFd < 0) return false;
  DIR* dir = ::fdopendir(listFd);
  if (dir == nullptr) {
    ::close(listFd);
    return false;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  bool empty = true;
  const uid_t me = ::geteuid();
  for (const std::string& name : names) {
    struct stat st;
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) empty = false;
      continue;
    }
    if (st.st_uid != me || st.st_dev != device) {
      empty = false;
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      UniqueFd child(::openat(fd, name.c_str(), kFolderFlags));
      struct stat opened;
      // The same folder that was looked at, not one swapped in since.
      if (!child.Valid() || ::fstat(child.Get(), &opened) != 0 || opened.st_ino != st.st_ino || opened.st_dev != st.st_dev ||
          !EmptyFolder(child.Get(), device, depth + 1) || ::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0)
        empty = false;
    } else if (::unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT) {
      empty = false;
    }
  }
  return empty;
}

void NarrowOpen(int fd, const struct stat& st, mode_t fileModes, mode_t folderModes, int depth);

void NarrowEntry(int parentFd, const std::string& name, mode_t fileModes, mode_t folderModes, int depth) {
  struct stat st;
  if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) return;
  UniqueFd fd(::openat(parentFd, name.c_str(),
                       (S_ISDIR(st.st_mode) ? kFolderFlags : O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)));
  struct stat opened;
  if (!fd.Valid() || ::fstat(fd.Get(), &opened) != 0 || opened.st_ino != st.st_ino || opened.st_dev != st.st_dev) return;
  NarrowOpen(fd.Get(), opened, fileModes, folderModes, depth);
}

void NarrowOpen(int fd, const struct stat& st, mode_t fileModes, mode_t folderModes, int depth) {
  if (st.st_uid != ::geteuid()) return;
  const mode_t limit = S_ISDIR(st.st_mode) ? folderModes : fileModes;
  const mode_t mode = st.st_mode & 07777;
  if ((mode & ~limit) != 0) ::fchmod(fd, mode & limit);
  if (!S_ISDIR(st.st_mode) || depth > 4096) return;
  const int listFd = ::dup(fd);
  if (listFd < 0) return;
  DIR* dir = ::fdopendir(listFd);
  if (dir == nullptr) {
    ::close(listFd);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  for (const std::string& name : names) NarrowEntry(fd, name, fileModes, folderModes, depth + 1);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

bool IsPrivateFolder(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700;
}

bool IsSharedFolder(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return true;
  return st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

UniqueFd OpenPrivateFolder(int parentFd, const std::string& name) {
  UniqueFd fd(::openat(parentFd, name.c_str(), kFolderFlags));
  if (!fd.Valid()) return fd;
  if (!IsPrivateFolder(fd.Get())) return Refused();
  return fd;
}

UniqueFd MakePrivateFolder(int parentFd, const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return Refused();
  if (::mkdirat(parentFd, name.c_str(), 0700) == 0) {
    UniqueFd fd(::openat(parentFd, name.c_str(), kFolderFlags));
    struct stat st;
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return Refused();
    // A umask that takes owner bits leaves a folder this program cannot use.
    if ((st.st_mode & 07777) != 0700 && ::fchmod(fd.Get(), 0700) != 0) return Refused();
    return fd;
  }
  if (errno != EEXIST) return UniqueFd();
  return OpenPrivateFolder(parentFd, name);
}

UniqueFd MakeFreshPrivateFolder(int parentFd, const std::string& prefix, std::string& name) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string suffix = RandomSuffix();
    if (suffix.empty()) return UniqueFd();
    const std::string candidate = prefix + suffix;
    if (::mkdirat(parentFd, candidate.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      return UniqueFd();
    }
    UniqueFd fd(::openat(parentFd, candidate.c_str(), kFolderFlags));
    struct stat st;
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || st.st_uid != ::geteuid()) return Refused();
    if ((st.st_mode & 07777) != 0700 && ::fchmod(fd.Get(), 0700) != 0) return Refused();
    name = candidate;
    return fd;
  }
  errno = EEXIST;
  return UniqueFd();
}

UniqueFd MakePrivatePath(int rootFd, const std::vector<std::string>& names) {
  UniqueFd current(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
  for (const std::string& name : names) {
    if (!current.Valid()) break;
    current = MakePrivateFolder(current.Get(), name);
  }
  return current;
}

UniqueFd MakePrivateFolderPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return Refused();
  // The folders above the last are the user's own business (a home on
  // another disk may be reached through a link): they are followed, made
  // when missing, and only the last one must be private.
  UniqueFd current(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  size_t start = 1;
  while (current.Valid() && start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(start, end - start);
    start = end + 1;
    if (name.empty() || name == ".") continue;
    if (start >= path.size()) return MakePrivateFolder(current.Get(), name);
    if (::mkdirat(current.Get(), name.c_str(), 0700) != 0 && errno != EEXIST) return UniqueFd();
    current = UniqueFd(::openat(current.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  if (current.Valid() && !IsPrivateFolder(current.Get())) return Refused();
  return current;
}

bool RemoveTreeAt(int parentFd, const std::string& name) {
  struct stat st;
  if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (st.st_uid != ::geteuid()) return false;
  if (!S_ISDIR(st.st_mode)) return ::unlinkat(parentFd, name.c_str(), 0) == 0 || errno == ENOENT;
  UniqueFd fd(::openat(parentFd, name.c_str(), kFolderFlags));
  struct stat opened;
  if (!fd.Valid() || ::fstat(fd.Get(), &opened) != 0 || opened.st_ino != st.st_ino || opened.st_dev != st.st_dev) return false;
  if (!EmptyFolder(fd.Get(), st.st_dev, 0)) return false;
  return ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

void NarrowModesAt(int parentFd, const std::string& name, mode_t fileModes, mode_t folderModes) {
  NarrowEntry(parentFd, name, fileModes, folderModes, 0);
}

std::unique_ptr<RunFolder> RunFolder::Make(const std::string& parentPath, const std::string& name) {
  auto folder = std::make_unique<RunFolder>();
  folder->parentPath_ = parentPath;
  folder->parent_ = UniqueFd(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder->parent_.Valid()) return nullptr;
  if (IsSharedFolder(folder->parent_.Get())) {
    folder->fd_ = MakeFreshPrivateFolder(folder->parent_.Get(), name + '-', folder->name_);
  } else {
    folder->name_ = name;
    folder->fd_ = MakePrivateFolder(folder->parent_.Get(), name);
  }
  struct stat st;
  if (!folder->fd_.Valid() || ::fstat(folder->fd_.Get(), &st) != 0) return nullptr;
  folder->device_ = st.st_dev;
  folder->inode_ = st.st_ino;
  return folder;
}

std::string RunFolder::PathIfKnown(const std::string& parentPath, const std::string& name) {
  UniqueFd parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (parent.Valid() && IsSharedFolder(parent.Get())) return {};
  return (parentPath == "/" ? std::string() : parentPath) + '/' + name;
}

std::string RunFolder::Path() const { return (parentPath_ == "/" ? std::string() : parentPath_) + '/' + name_; }

bool RunFolder::Intact() const {
  UniqueFd again = OpenPrivateFolder(AT_FDCWD, Path());
  struct stat st;
  return again.Valid() && ::fstat(again.Get(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
}

bool RunFolder::Gone() const {
  struct stat st;
  return ::fstatat(parent_.Get(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

bool RunFolder::Remove() {
  struct stat st;
  if (::fstatat(parent_.Get(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  // A name that leads elsewhere now is not the folder that was made.
  if (!S_ISDIR(st.st_mode) || st.st_dev != device_ || st.st_ino != inode_) return false;
  return RemoveTreeAt(parent_.Get(), name_);
}

std::string UserCacheFolder() { return HomeBased("XDG_CACHE_HOME", "/.cache"); }

std::string UserConfigFolder() { return HomeBased("XDG_CONFIG_HOME", "/.config"); }

std::string UserPrivateFolder() {
  const std::string runtime = AbsoluteVariable("XDG_RUNTIME_DIR");
  if (!runtime.empty()) {
    UniqueFd fd(::open(runtime.c_str(), kFolderFlags));
    if (fd.Valid() && IsPrivateFolder(fd.Get())) return runtime;
  }
  const std::string cache = UserCacheFolder();
  if (cache.empty()) return {};
  const std::string folder = cache + "/tessera";
  return MakePrivateFolderPath(folder).Valid() ? folder : std::string();
}

SmallFileRead ReadSmallFile(const std::string& path, size_t limit, std::string& bytes) {
  bytes.clear();
  // Non-blocking, so that a FIFO put in the file's place cannot hold the start.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.Valid()) return errno == ENOENT ? SmallFileRead::kMissing : SmallFileRead::kRefused;
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<unsigned long long>(st.st_size) > limit)
    return SmallFileRead::kRefused;
  // The size may change while reading: never more than the limit.
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return SmallFileRead::kRefused;
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<size_t>(n) > limit) return SmallFileRead::kRefused;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return SmallFileRead::kRead;
}

bool ReplaceSmallFile(const std::string& path, std::string_view bytes) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return false;
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.Valid()) return false;
  mode_t mode = 0600;
  struct stat st;
  if (::fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 07777;
  std::string temporary;
  UniqueFd fd;
  for (int attempt = 0; attempt < 16 && !fd.Valid(); ++attempt) {
    temporary = "." + name + "." + RandomSuffix();
    fd = UniqueFd(::openat(dir.Get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.Valid() && errno != EEXIST) return false;
  }
  if (!fd.Valid()) return false;
  const bool written = WriteAll(fd.Get(), bytes) && ::fchmod(fd.Get(), mode) == 0 && ::fsync(fd.Get()) == 0;
  const bool closed = ::close(fd.Release()) == 0;
  if (!written || !closed || ::renameat(dir.Get(), temporary.c_str(), dir.Get(), name.c_str()) != 0) {
    ::unlinkat(dir.Get(), temporary.c_str(), 0);
    return false;
  }
  ::fsync(dir.Get());
  return true;
}

}  // namespace host
