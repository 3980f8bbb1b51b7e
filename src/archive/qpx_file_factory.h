// Picks the archive class that reads a file, from the identifier in its header.
#pragma once

#include <memory>
#include <string>

#include "archive/file_header.h"
#include "archive/qpx_file.h"

namespace QPXFile {

class IQPXFileFactory {
 public:
  virtual ~IQPXFileFactory() = default;
  virtual CQPXFile* CreateFromFile(const std::u16string& path) = 0;
  virtual CQPXFile* CreateFromFormatId(const std::u16string& formatId, const std::u16string& versionText) = 0;
  virtual CQPXFileHeader* ReadHeader(const std::u16string& path) = 0;
};

class CQPXFileFactory : public IQPXFileFactory {
 public:
  CQPXFileFactory();

  // A new, unopened archive object of the class that reads the file, or null
  // (not an archive of this kind, or unreadable). The caller owns it.
  CQPXFile* CreateFromFile(const std::u16string& path) override;
  CQPXFile* CreateFromFormatId(const std::u16string& formatId, const std::u16string& versionText) override;
  // The header of the file, detached from any stream, or null.
  CQPXFileHeader* ReadHeader(const std::u16string& path) override;
};

// Why an archive could not be opened: what the factory and the open
// sequence found, for a message to the user.
enum class OpenFailure {
  kNone,
  kCannotOpen,    // the file does not exist or cannot be read (systemError)
  kNotAnArchive,  // the header is short or names no archive kind
  kLoad,          // the archive's own Load failed: see its GetLoadError
};

struct OpenResult {
  std::unique_ptr<CQPXFile> archive;  // open and loaded on success
  OpenFailure failure = OpenFailure::kNone;
  LoadError load;                     // with kLoad
  int systemError = 0;
};

// The calling order every reader follows: create from the file, open for
// reading, load.
OpenResult OpenArchive(const std::u16string& path);

}  // namespace QPXFile
