// Builders for the list sections of archives.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "support/bytes.h"

namespace testsupport {

// L, T and the tag in front of `body`, with L the true length of what follows it.
inline std::vector<uint8_t> ListSection(std::string_view tag, const std::vector<uint8_t>& body) {
  ByteWriter w;
  w.U32(static_cast<uint32_t>(4 + tag.size() + body.size())).U32(static_cast<uint32_t>(tag.size())).Raw(tag).Raw(body);
  return w.take();
}

}  // namespace testsupport
