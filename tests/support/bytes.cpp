#include "support/bytes.h"

#include <cstdlib>

#include "host/text.h"

namespace testsupport {

std::string Cp932(std::u16string_view text) {
  std::string out;
  if (!host::WideToAnsi(text, out)) std::abort();
  return out;
}

}  // namespace testsupport
