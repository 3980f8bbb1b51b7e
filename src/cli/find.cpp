#include "cli/find.h"

#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <limits>

#include <nlohmann/json.hpp>

#include "cli/format.h"
#include "cli/open.h"
#include "generations/find.h"
#include "host/text.h"
#include "paths/user_text.h"

namespace cli {
namespace {

using IncrementalBackup::FindCriteria;
using IncrementalBackup::FoundItem;
using IncrementalBackup::FoundVersion;

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool Bound(const std::string& text, const char* option, bool (*parse)(const std::string&, uint64_t&),
           std::optional<uint64_t>& out, const std::string& archive) {
  if (text.empty()) return true;
  uint64_t value = 0;
  if (!parse(text, value)) {
    PrintError(archive, std::string(option) + ": cannot read \"" + text + "\"");
    return false;
  }
  out = value;
  return true;
}

}  // namespace

bool ParseSize(const std::string& text, uint64_t& out) {
  if (text.empty()) return false;
  uint64_t value = 0;
  size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
  }
  if (i == 0) return false;
  unsigned shift = 0;
  if (i + 1 == text.size()) {
    switch (text[i]) {
      case 'k': case 'K': shift = 10; break;
      case 'm': case 'M': shift = 20; break;
      case 'g': case 'G': shift = 30; break;
      default: return false;
    }
  } else if (i != text.size()) {
    return false;
  }
  if (shift != 0 && value > (std::numeric_limits<uint64_t>::max() >> shift)) return false;
  out = value << shift;
  return true;
}

bool ParseFileTime(const std::string& text, uint64_t& out) {
  int year = 0;
  unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char sep = 0, end = 0;
  int fields = std::sscanf(text.c_str(), "%4d-%2u-%2u%c%2u:%2u:%2u%c", &year, &month, &day, &sep, &hour, &minute,
                           &second, &end);
  const bool dateOnly = fields == 3;
  const bool withMinutes = fields == 6 || fields == 7;
  if (!dateOnly && !withMinutes) return false;
  if (withMinutes && sep != ' ' && sep != 'T') return false;
  if (year < 1601 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return false;
  static const unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) return false;
  const int64_t days = DaysFromCivil(year, month, day) + 134774;  // days from 1601-01-01
  const uint64_t seconds = static_cast<uint64_t>(days) * 86400 + hour * 3600u + minute * 60u + second;
  out = seconds * 10000000ull;
  return true;
}

int RunFind(const FindOptions& options) {
  FindCriteria criteria;
  criteria.pattern = host::Utf8ToWide(options.pattern);
  if (criteria.pattern.empty()) {
    PrintError(options.archive, "the pattern is empty");
    return kExitFailed;
  }
  if (!Bound(options.minSize, "--min-size", ParseSize, criteria.minSize, options.archive) ||
      !Bound(options.maxSize, "--max-size", ParseSize, criteria.maxSize, options.archive) ||
      !Bound(options.newer, "--newer", ParseFileTime, criteria.newerThan, options.archive) ||
      !Bound(options.older, "--older", ParseFileTime, criteria.olderThan, options.archive))
    return kExitFailed;

  std::unique_ptr<IncrementalBackup::CBackupSet> set = OpenSet(options.archive, options.rebuildDamaged);
  if (!set) return kExitFailed;

  long files = 0, folders = 0;
  // Hits are printed as they are found, so a search that matches millions
  // of files never holds them all.
  JsonNames names;
  std::string out = options.json ? "{\"pattern\":" + names.Dump(names.Host(options.pattern)) + ",\"hits\":[" : "";
  bool first = true;
  char line[160];
  auto flush = [&out] {
    if (out.size() > (1u << 20)) {
      std::cout << out;
      out.clear();
    }
  };
  IncrementalBackup::FindInSet(*set, criteria, [&](FoundItem&& item) {
    ++(item.folder ? folders : files);
    if (options.json) {
      nlohmann::json generations = nlohmann::json::array();
      for (long g : item.generations) generations.push_back(g + 1);
      nlohmann::json hit = {{"path", names(item.path)}, {"kind", item.folder ? "folder" : "file"},
                            {"generations", generations}};
      if (!item.folder) {
        nlohmann::json versions = nlohmann::json::array();
        for (const FoundVersion& v : item.versions) {
          if (v.missing)
            versions.push_back({{"generation", v.generation + 1}, {"missing", true}, {"archive", names.Host(set->ArchiveText(v.generation))}});
          else
            versions.push_back({{"generation", v.generation + 1}, {"size", v.size}, {"crc32", v.crc32}, {"modified", v.modified}});
        }
        hit["versions"] = std::move(versions);
      }
      if (!first) out += ',';
      first = false;
      out += names.Dump(hit);
      flush();
      return true;
    }
    out += (item.folder ? "folder  " : "file    ") + paths::Printable(item.path) + "\n";
    out += "        present in generation" + std::string(item.generations.size() == 1 ? " " : "s ") +
           (item.generations.empty() ? std::string("none") : IncrementalBackup::GenerationRanges(item.generations)) + "\n";
    for (const FoundVersion& v : item.versions) {
      if (v.missing) {
        out += "        generation " + std::to_string(v.generation + 1) + ": missing from " +
               paths::Printable(set->ArchiveText(v.generation)) + "\n";
        continue;
      }
      std::snprintf(line, sizeof line, "        generation %ld: %" PRIu64 " byte%s, CRC %08X, modified %s\n",
                    v.generation + 1, v.size, v.size == 1 ? "" : "s", v.crc32, FormatFileTime(v.modified).c_str());
      out += line;
    }
    flush();
    return true;
  });

  if (options.json) {
    std::cout << out << "]}\n";
    return kExitOk;
  }
  std::snprintf(line, sizeof line, "%ld file%s, %ld folder%s found\n", files, files == 1 ? "" : "s", folders,
                folders == 1 ? "" : "s");
  std::cout << out << line;
  return kExitOk;
}

}  // namespace cli
