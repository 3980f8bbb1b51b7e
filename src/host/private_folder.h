// Folders and files that belong to this user alone: the per-user places
// (runtime, cache and configuration folders), folders made private (0700)
// and checked by descriptor, their removal without following links, and the
// bounded read and whole-file replacement of small settings files.
//
// Everything here works on descriptors: a path is resolved once, and what it
// named is checked and used through the descriptor, so another local user
// who swaps a folder for a link in between gains nothing.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// An open descriptor, closed with its owner.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  ~UniqueFd();
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release();

 private:
  int fd_ = -1;
};

// True when the open folder is one only this user may use: a folder owned by
// the effective user with mode 0700 exactly.
bool IsPrivateFolder(int fd);
// True when others than the folder's owner may add names to it (group or
// world writable), or it is not the effective user's: a place like /tmp.
bool IsSharedFolder(int fd);

// Opens `name` below `parentFd` (AT_FDCWD for a path) as a private folder;
// a link, another kind of file, another owner or other modes are refused
// (an invalid descriptor; errno EACCES for a folder that is not private).
UniqueFd OpenPrivateFolder(int parentFd, const std::string& name);
// Makes `name` below `parentFd` with mode 0700, or opens it when it is there
// already and private; anything else there is refused.
UniqueFd MakePrivateFolder(int parentFd, const std::string& name);
// Makes a new folder `prefix` + an unpredictable suffix below `parentFd`,
// mode 0700; `name` receives its name. Never opens one that was there.
UniqueFd MakeFreshPrivateFolder(int parentFd, const std::string& prefix, std::string& name);
// The chain of folders `names` below `rootFd`, each made or opened as with
// MakePrivateFolder; the last one's descriptor.
UniqueFd MakePrivatePath(int rootFd, const std::vector<std::string>& names);
// Makes every missing folder of an absolute `path` at 0700 and opens the
// last as private.
UniqueFd MakePrivateFolderPath(const std::string& path);

// Removes `name` below `parentFd` and what it holds, never following a link
// and never changing a mode: a link goes as a link; a folder is emptied
// through its own descriptor, and only what the effective user owns on the
// same file system is removed. True when the name is gone (or was never there).
bool RemoveTreeAt(int parentFd, const std::string& name);
// Takes permissions from `name` below `parentFd` and what it holds, never
// following a link: files keep at most `fileModes`, folders at most
// `folderModes`.
void NarrowModesAt(int parentFd, const std::string& name, mode_t fileModes, mode_t folderModes);

// A folder for the program's own files of one run, below a folder the user
// chose. Where nobody else can add names it is `name` (taken over when it
// is there already and private, as after a crash); where others can (a
// shared place like /tmp, or a folder of another user's) it is a new folder
// `name` + "-" + an unpredictable suffix, never one that was there. Always
// 0700 and held open, so that what is removed is what was made.
class RunFolder {
 public:
  // Null when it cannot be made or what is there is not private.
  static std::unique_ptr<RunFolder> Make(const std::string& parentPath, const std::string& name);
  // Its path without making it, when that is known beforehand (a parent
  // nobody else can add to, or one not there yet); empty otherwise.
  static std::string PathIfKnown(const std::string& parentPath, const std::string& name);

  const std::string& ParentPath() const { return parentPath_; }
  std::string Path() const;
  int Fd() const { return fd_.Get(); }
  // Its path still leads to it, and it is still private.
  bool Intact() const;
  // Its name is no longer in the parent (removed by someone else).
  bool Gone() const;
  // Removes it with what it holds (RemoveTreeAt), only when its name in the
  // parent still names it.
  bool Remove();

 private:
  std::string parentPath_;
  UniqueFd parent_;
  std::string name_;
  UniqueFd fd_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

// The user's folders as the XDG base-directory rules give them: the
// variable when it holds an absolute path, else below $HOME. Empty when
// neither is known.
std::string UserCacheFolder();
std::string UserConfigFolder();
// A folder of this user's for small files that must not be shared: the
// runtime folder ($XDG_RUNTIME_DIR) when it is private, else "tessera" in
// the cache folder, made private. Empty when neither can be had.
std::string UserPrivateFolder();

enum class SmallFileRead { kRead, kMissing, kRefused };
// Reads a regular file (links followed) of at most `limit` bytes without
// ever blocking: a FIFO, a device, a folder or a longer file is refused.
SmallFileRead ReadSmallFile(const std::string& path, size_t limit, std::string& bytes);
// Replaces the file at `path` whole: the bytes go to a new file beside it,
// which is synced and renamed over it, so the file is never half written.
// An existing file's mode is kept; a new one gets 0600. A link at `path` is
// replaced by the file, never written through.
bool ReplaceSmallFile(const std::string& path, std::string_view bytes);

}  // namespace host
