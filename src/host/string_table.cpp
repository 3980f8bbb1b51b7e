#include "host/string_table.h"

#include <algorithm>
#include <array>
#include <utility>

namespace host {
namespace {

struct Text {
  uint32_t id;
  const char16_t* text;
};

// Sorted by number.
constexpr Text kTexts[] = {
    {107, u"Tessera"},
    {116, u"QPX2.0  "},
    {117, u"QPX2.0  "},
    {118, u"QPX1.0  "},
    {119, u"PKWARE  "},
    {120, u"QPX1.0  "},
    {121, u"QPX3.0  "},
    {122, u"F_QPX1.0"},
    {123, u"QPX3.0  "},
    {124, u"F_QPX2.0"},
    {126, u"NA      "},
};

}  // namespace

bool LoadString(uint32_t id, std::u16string& out) {
  auto it = std::lower_bound(std::begin(kTexts), std::end(kTexts), id,
                             [](const Text& t, uint32_t v) { return t.id < v; });
  if (it == std::end(kTexts) || it->id != id) return false;
  out = it->text;
  return true;
}

}  // namespace host
