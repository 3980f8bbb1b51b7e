#include "cli/format.h"

#include <cstdio>

#include "host/text.h"

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

namespace {

// A placeholder is a string holding a NUL; every name holding one is held
// too, so no other string of a document dumps like a placeholder.
constexpr std::string_view kPlaceholderOpen = "\"\\u0000";
constexpr std::string_view kPlaceholderClose = "\\u0000\"";

bool NeedsHolding(std::u16string_view name) {
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c == 0) return true;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] < 0xE000) {
      ++i;
      continue;
    }
    if (c >= 0xD800 && c < 0xE000) return true;
  }
  return false;
}

}  // namespace

nlohmann::json JsonNames::operator()(const std::u16string& name) {
  if (!NeedsHolding(name)) return host::WideToUtf8(name);
  held_.push_back(name);
  return std::string(1, '\0') + std::to_string(held_.size() - 1) + std::string(1, '\0');
}

nlohmann::json JsonNames::Host(std::string_view hostText) {
  std::u16string wide;
  bool exact = true;
  for (size_t at = 0; at < hostText.size();) {
    char32_t cp;
    const size_t length = host::DecodeUtf8(hostText, at, cp);
    if (length == 0) {
      exact = false;
      wide.push_back(static_cast<char16_t>(0xDC00 | static_cast<unsigned char>(hostText[at])));
      ++at;
      continue;
    }
    host::AppendUtf16(wide, cp);
    at += length;
  }
  if (exact) return std::string(hostText);
  return (*this)(wide);
}

std::string JsonNames::Dump(const nlohmann::json& doc, int indent) {
  std::string text = doc.dump(indent);
  if (held_.empty()) return text;
  std::string out;
  out.reserve(text.size());
  size_t from = 0;
  for (size_t at; (at = text.find(kPlaceholderOpen, from)) != std::string::npos;) {
    const size_t digits = at + kPlaceholderOpen.size();
    size_t end = digits;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    const size_t index = end > digits ? std::stoul(text.substr(digits, end - digits)) : held_.size();
    if (index >= held_.size() || text.compare(end, kPlaceholderClose.size(), kPlaceholderClose) != 0) {
      out.append(text, from, digits - from);
      from = digits;
      continue;
    }
    out.append(text, from, at - from);
    out += JsonString(held_[index]);
    from = end + kPlaceholderClose.size();
  }
  out.append(text, from, std::string::npos);
  held_.clear();
  return out;
}

std::string JsonString(std::u16string_view text) {
  std::string out = "\"";
  char code[8];
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      host::AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00));
      continue;
    }
    switch (c) {
      case u'"': out += "\\\""; continue;
      case u'\\': out += "\\\\"; continue;
      case u'\b': out += "\\b"; continue;
      case u'\f': out += "\\f"; continue;
      case u'\n': out += "\\n"; continue;
      case u'\r': out += "\\r"; continue;
      case u'\t': out += "\\t"; continue;
      default: break;
    }
    if (c < 0x20 || (c >= 0xD800 && c < 0xE000)) {
      std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
      out += code;
    } else {
      host::AppendUtf8(out, c);
    }
  }
  out += '"';
  return out;
}

}  // namespace cli
