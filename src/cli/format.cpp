#include "cli/format.h"

#include <cstdio>

namespace cli {

std::string FormatFileTime(uint64_t fileTime) {
  if (fileTime == 0) return "-";
  const uint64_t seconds = fileTime / 10000000ull;
  const uint64_t days = seconds / 86400;
  const unsigned secOfDay = static_cast<unsigned>(seconds % 86400);
  // Civil date from days relative to 1970-01-01, with March-based years so
  // leap days fall at the end of a year.
  const int64_t d1970 = static_cast<int64_t>(days) - 134774;  // days from 1601-01-01 to 1970-01-01
  const int64_t zz = d1970 + 719468;
  const int64_t era = (zz >= 0 ? zz : zz - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(zz - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02u:%02u:%02u", static_cast<long long>(y), m, d, secOfDay / 3600,
                (secOfDay / 60) % 60, secOfDay % 60);
  return buf;
}

}  // namespace cli
