#include "cli/open.h"

#include <cstring>
#include <iostream>

#include "archive/qpx_file_factory.h"
#include "cli/format.h"
#include "host/host_path.h"

namespace cli {
namespace {

std::string SystemText(int error) { return error != 0 ? std::strerror(error) : "unknown error"; }

}  // namespace

void PrintError(const std::string& name, const std::string& message) {
  std::cerr << "tessera-cli: " << name << ": " << message << "\n";
}

std::string DescribeLoadError(const QPXFile::LoadError& e) {
  using QPXFile::DivisionError;
  using QPXFile::LoadFailure;
  switch (e.failure) {
    case LoadFailure::kNone:
      return "no error";
    case LoadFailure::kNotOpen:
    case LoadFailure::kOpenFailed:
      return "cannot open: " + SystemText(e.systemError);
    case LoadFailure::kStrings:
      return "the program's identifier texts are missing";
    case LoadFailure::kHeader:
      return "header damaged";
    case LoadFailure::kFormatId:
      return "not an archive of this kind";
    case LoadFailure::kSection:
      return "section " + Utf8(e.section) + " damaged at offset " + std::to_string(e.offset);
    case LoadFailure::kVolume: {
      const std::string volume = HostPathText(e.volumePath);
      switch (e.division) {
        case DivisionError::kVolumeMissing:
          return "volume " + volume + " missing";
        case DivisionError::kVolumeForeign:
          return "volume " + volume + " belongs to another archive";
        case DivisionError::kVolumeUnreadable:
          return "volume " + volume + " cannot be opened: " + SystemText(e.systemError);
        case DivisionError::kVolumeHeadUnreadable:
          return "volume " + volume + " damaged: its head cannot be read";
        case DivisionError::kVolumeTooLong:
          return "volume " + volume + " is longer than the archive's volume size";
        case DivisionError::kBadVolumeSize:
          return "section Division_Info damaged: the volume size is impossible";
        default:
          return "split volumes cannot be set up";
      }
    }
    case LoadFailure::kEntryCount:
      return "header damaged: it claims " + std::to_string(e.entryIndex) + " entries, more than the file can hold";
    case LoadFailure::kEntry:
      return "entry " + std::to_string(e.entryIndex + 1) + " cut short (its record at offset " +
             std::to_string(e.offset) + " cannot be read)";
    case LoadFailure::kOutOfMemory:
      return "not enough memory";
  }
  return "cannot be read";
}

std::unique_ptr<QPXFile::CQPXFile> OpenForCommand(const std::string& hostPath) {
  const std::u16string enginePath = host::ToEnginePath(hostPath);
  QPXFile::OpenResult result = QPXFile::OpenArchive(enginePath);
  switch (result.failure) {
    case QPXFile::OpenFailure::kNone:
      return std::move(result.archive);
    case QPXFile::OpenFailure::kCannotOpen:
      PrintError(hostPath, "cannot open: " + SystemText(result.systemError));
      break;
    case QPXFile::OpenFailure::kNotAnArchive:
      PrintError(hostPath, "not an archive of this kind");
      break;
    case QPXFile::OpenFailure::kLoad:
      PrintError(hostPath, DescribeLoadError(result.load));
      break;
  }
  return nullptr;
}

}  // namespace cli
