#include "archive/load_error_text.h"

#include <cstring>

#include "paths/user_text.h"

namespace QPXFile {
namespace {

std::string SystemText(int error) { return error != 0 ? std::strerror(error) : "unknown error"; }

}  // namespace

std::string DescribeLoadError(const LoadError& e) {
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
      return "section " + paths::Utf8(e.section) + " damaged at offset " + std::to_string(e.offset);
    case LoadFailure::kVolume: {
      const std::string volume = paths::HostPathText(e.volumePath);
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

std::string DescribeOpenFailure(const OpenResult& result) {
  switch (result.failure) {
    case OpenFailure::kNone:
      return {};
    case OpenFailure::kCannotOpen:
      return "cannot open: " + SystemText(result.systemError);
    case OpenFailure::kNotAnArchive:
      return "not an archive of this kind";
    case OpenFailure::kLoad:
      return DescribeLoadError(result.load);
  }
  return "cannot be read";
}

}  // namespace QPXFile
