#include "host/regular_file.h"

#include <filesystem>

namespace host {

bool CheckRegularFile(const std::string& hostPath, std::string& why) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(hostPath, ec)) return true;
  why = ec ? "cannot open: " + ec.message()
           : std::filesystem::exists(hostPath, ec) ? "not a regular file" : "cannot open: No such file or directory";
  return false;
}

}  // namespace host
