// Why an archive could not be opened, in the one-line wording every front
// end shows after the file's name.
#pragma once

#include <string>

#include "archive/qpx_file.h"
#include "archive/qpx_file_factory.h"

namespace QPXFile {

// The message for a failed load, without the file name in front.
std::string DescribeLoadError(const LoadError& error);

// The message for a failed OpenArchive; empty when it succeeded.
std::string DescribeOpenFailure(const OpenResult& result);

}  // namespace QPXFile
