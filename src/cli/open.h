// Opening an archive named on the command line, with the one-line message a
// user gets when that fails.
#pragma once

#include <memory>
#include <string>

#include "archive/qpx_file.h"

namespace cli {

// Exit statuses shared by every command.
enum : int {
  kExitOk = 0,
  kExitDamaged = 1,   // test found damaged entries; extract skipped or failed some
  kExitFailed = 2,    // the archive cannot be read, the arguments are wrong, or extract stopped
};

// Opens and loads the archive at `hostPath`. On failure prints one line to
// standard error that names the file and says what is wrong, and yields null.
std::unique_ptr<QPXFile::CQPXFile> OpenForCommand(const std::string& hostPath);

// The message for a failed open, without the file name in front.
std::string DescribeLoadError(const QPXFile::LoadError& error);

// Prints "tessera-cli: NAME: message" to standard error.
void PrintError(const std::string& name, const std::string& message);

}  // namespace cli
