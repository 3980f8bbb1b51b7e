// Text shown by tessera-cli: times, sizes, paths.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "paths/user_text.h"

namespace cli {

// A FILETIME as "YYYY-MM-DD HH:MM:SS" (the archive's own clock, no zone
// applied); "-" for 0.
std::string FormatFileTime(uint64_t fileTime);

// Names in --json output, exact. A JSON library string is UTF-8, which
// cannot hold half of a surrogate pair (nor tell one such name from
// another); a name holding one goes into the document as a placeholder and
// is written with JSON's own escape ("\udc80") when the document is dumped.
class JsonNames {
 public:
  // The value to put in the document for `name`.
  nlohmann::json operator()(const std::u16string& name);
  // The value for a host path or other text from the system, whose bytes
  // need not be UTF-8: each byte that is not becomes the lone half
  // U+DC80..U+DCFF ("\udcXX" in the document), so the path stays exact and
  // the document valid.
  nlohmann::json Host(std::string_view hostText);
  // The document as nlohmann::json::dump(indent) writes it, with every
  // placeholder made since the last Dump replaced by its name.
  std::string Dump(const nlohmann::json& doc, int indent = -1);

 private:
  std::vector<std::u16string> held_;
};

// Wide text as a quoted JSON string, escaped as the JSON library escapes its
// strings, with each half of a surrogate pair as its own "\uXXXX".
std::string JsonString(std::u16string_view text);

using paths::HostPathText;
using paths::Utf8;

}  // namespace cli
