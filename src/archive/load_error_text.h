// Why an archive could not be opened, in the one-line wording every front
// end shows after the file's name.
#pragma once

#include <string>

#include "archive/qpx_file.h"
#include "archive/qpx_file_factory.h"

namespace QPXFile {

// The command-line tool words its reasons in English, the desktop program
// in Japanese, as the rest of what each shows.
enum class Wording { kEnglish, kJapanese };

// The message for a failed load, without the file name in front.
std::string DescribeLoadError(const LoadError& error, Wording wording = Wording::kEnglish);

// The message for a failed OpenArchive; empty when it succeeded.
std::string DescribeOpenFailure(const OpenResult& result, Wording wording = Wording::kEnglish);

// Why an archive could not serve a backup set, kept after the archive is gone.
struct ArchiveFault {
  OpenFailure failure = OpenFailure::kNone;
  LoadError load;
  int systemError = 0;
  // It opened, but holds no folder list for a management file to be made from.
  bool nothingToRebuildFrom = false;

  static ArchiveFault Of(const OpenResult& result) { return {result.failure, result.load, result.systemError}; }
  bool IsFault() const { return failure != OpenFailure::kNone || nothingToRebuildFrom; }
};
std::string DescribeArchiveFault(const ArchiveFault& fault, Wording wording = Wording::kEnglish);

}  // namespace QPXFile
