// tessera-cli find: files and folders by name across every generation of a
// backup set, with the generations each is present in and its versions.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

struct FindOptions {
  std::string archive;
  std::string pattern;
  bool json = false;
  bool rebuildDamaged = false;
  // As typed; empty when not given.
  std::string minSize, maxSize;  // bytes, or with a K, M or G suffix (1024-based)
  std::string newer, older;      // YYYY-MM-DD[ HH:MM[:SS]], the archive's clock
};

int RunFind(const FindOptions& options);

// The parsers behind the options, false for text they do not take.
bool ParseSize(const std::string& text, uint64_t& out);
bool ParseFileTime(const std::string& text, uint64_t& out);

}  // namespace cli
