// What an archive holds, as info shows it: its sections and its volumes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/qpx_file.h"

namespace QPXFile {

// The sections an archive of this kind and level holds, in file order.
std::vector<std::string> SectionsPresent(const CQPXFile& archive);

struct SplitFacts {
  bool split = false;
  uint64_t volumeSize = 0;
  uint64_t volumes = 1;
};
SplitFacts SplitOf(const CQPXFile& archive);

}  // namespace QPXFile
