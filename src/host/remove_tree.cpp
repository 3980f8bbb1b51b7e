#include "host/remove_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace host {
namespace {

// The folder's own descriptor is handed to fdopendir and closed with it.
bool RemoveContents(int folderFd) {
  DIR* listing = ::fdopendir(folderFd);
  if (listing == nullptr) {
    ::close(folderFd);
    return false;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.emplace_back(entry->d_name);
  }
  bool all = true;
  const int fd = ::dirfd(listing);
  for (const std::string& name : names) {
    struct stat info {};
    if (::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      all = all && errno == ENOENT;
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      const int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child < 0 || !RemoveContents(child)) {
        all = false;
        continue;
      }
      if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) all = false;
    } else if (::unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT) {
      all = false;
    }
  }
  ::closedir(listing);
  return all;
}

}  // namespace

bool RemoveTreeAt(const std::string& folder, const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return false;
  const int parent = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) return errno == ENOENT;
  struct stat info {};
  bool removed = true;
  if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    removed = errno == ENOENT;
  } else if (S_ISDIR(info.st_mode)) {
    const int child = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    removed = child >= 0 && RemoveContents(child) &&
              (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT);
  } else {
    removed = ::unlinkat(parent, name.c_str(), 0) == 0 || errno == ENOENT;
  }
  ::close(parent);
  return removed;
}

}  // namespace host
