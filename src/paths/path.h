// Windows-form paths kept as components, and the list of paths a restore run
// leaves out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace paths {

// A path such as C:\Docs\a.txt held as its components (C:, Docs, a.txt).
// The first component may be a drive element (a letter and a colon); a path
// without one is relative and is written with a leading ".\".
class CPath {
 public:
  // Thrown when a component is read through a position the path does not have.
  class CReferException {};

  CPath() = default;
  CPath(std::u16string_view text, bool trailingSeparator);
  CPath(const CPath&) = default;
  CPath& operator=(const CPath&) = default;
  virtual ~CPath() = default;

  // The path syntax.
  virtual bool UsesRootPrefix() const { return false; }
  virtual bool UsesDriveSeparator() const { return true; }
  virtual std::u16string GetRootPrefix() const { return u""; }
  virtual std::u16string GetDriveSeparator() const { return u":"; }
  virtual std::u16string GetSeparator() const { return u"\\"; }
  virtual std::u16string GetInvalidChars() const { return u"\\/:*?\"<>|"; }
  virtual std::u16string GetExtensionSeparator() const { return u"."; }

  // Fails, leaving the path empty, when the text is empty. Invalid characters
  // do not fail the parse; they clear IsValid.
  bool SetPath(std::u16string_view text, bool trailingSeparator);
  // Components joined by one backslash; ".\" in front of a relative path; a
  // lone drive element is written as a drive root (C:\). Empty path: "".
  std::u16string GetPath() const;
  // The path of all components but the last, written as GetPath does.
  std::u16string GetParentPath() const;
  // The last component; "" for an empty path.
  std::u16string GetFileName() const;

  // Appends a relative path to a folder path (one with the trailing-separator
  // flag); a leading "." of the other path is passed over. The flag is then
  // taken from the other path. Fails otherwise.
  bool Append(const CPath& other);
  bool RemoveComponent(size_t position);
  void Clear();

  // True when `parent` is a folder path and this path has exactly one more
  // component, the others equal to the parent's ignoring case.
  bool IsChildOf(const CPath& parent) const;
  // Replaces the extension of the last component (from its last "."), or
  // appends one; a leading "." is added to `extension` unless present.
  // Fails on an empty path.
  bool ChangeExtension(std::u16string_view extension);

  size_t GetComponentCount() const { return components_.size(); }
  // Throws CReferException outside 0..count-1.
  const std::u16string& GetComponent(size_t position) const;

  bool IsRelative() const { return relative_; }
  bool HasTrailingSeparator() const { return trailingSeparator_; }
  bool IsValid() const { return valid_; }

 private:
  void AddComponent(std::u16string_view piece);
  std::u16string Format(size_t count) const;
  static bool IsDriveElement(std::u16string_view piece);

  std::vector<std::u16string> components_;  // in order; may start with a drive element
  bool relative_ = false;                   // the first component is not a drive element
  bool trailingSeparator_ = false;          // stands for a folder (the caller says so)
  bool valid_ = true;                       // no component holds an invalid character
};

// A path that a restore run leaves out.
struct CPathInformation {
  enum Kind : int {
    kFolder = 0,  // the folder and everything below it
    kFile = 1,    // only this exact path
  };
  std::u16string path;
  int kind = kFolder;
};

// The paths a restore run leaves out. An element matches a candidate path
// when, for kind 1, the paths are equal ignoring case, and for kind 0, the
// candidate lies below the folder (see IsBelow). The first match, in order,
// decides. Lookups do not depend on the number of elements.
class CPathInformationArray {
 public:
  void Add(std::u16string_view path, int kind);
  void Add(const CPathInformation& info) { Add(info.path, info.kind); }
  // Fails outside 0..count-1.
  bool RemoveAt(size_t index);
  void Clear();
  size_t GetCount() const { return items_.size(); }
  // Throws std::invalid_argument outside 0..count-1.
  const CPathInformation& GetAt(size_t index) const;

  // Index of the first element that matches `candidate`, or -1.
  long FindMatch(std::u16string_view candidate) const;
  bool Matches(std::u16string_view candidate) const { return FindMatch(candidate) != -1; }

 private:
  void Index(size_t i);
  void Reindex();

  std::vector<CPathInformation> items_;                // in order
  std::unordered_map<std::u16string, size_t> files_;   // folded path -> first kind-1 index
  std::unordered_map<std::u16string, size_t> folders_; // folded folder + "\" -> first kind-0 index
};

}  // namespace paths
