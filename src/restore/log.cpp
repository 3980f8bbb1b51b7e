#include "restore/log.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>

#include "host/string_table.h"
#include "host/text.h"
#include "io/qpx_file_io.h"
#include "io/section.h"
#include "paths/user_text.h"

namespace QPXFile {
namespace {

// Streams take at most 4 GiB less one byte per call; a log is written in
// pieces well below that so no length is ever truncated.
constexpr size_t kWriteChunk = 1 << 20;

bool WriteAll(CIO& output, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t piece = std::min(kWriteChunk, bytes.size() - done);
    if (!output.Write(bytes.data() + done, static_cast<uint32_t>(piece))) return false;
    done += piece;
  }
  return true;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Code page 932 bytes of one line. The whole line converts in one go when it
// can; otherwise each character is tried alone and those without a code are
// written as "?", as the Windows conversion does with its default character.
std::string LineToAnsi(std::u16string_view line) {
  std::string out;
  if (host::WideToAnsi(line, out)) return out;
  out.clear();
  for (size_t i = 0; i < line.size();) {
    size_t length = 1;
    if (IsHighSurrogate(line[i]) && i + 1 < line.size() && IsLowSurrogate(line[i + 1])) length = 2;
    std::string one;
    if (host::WideToAnsi(line.substr(i, length), one)) {
      out += one;
    } else {
      out += '?';
    }
    i += length;
  }
  return out;
}

// Format notes: the saved log is code page 932 text. Each entry is one line
// ending in CR LF; a line break inside an entry's text ("\r\n" or a lone
// "\n") becomes CR LF too, so a two-line message gives two clean lines and
// never a doubled CR.
std::string SavedBytes(const std::vector<std::unique_ptr<CLog>>& entries) {
  std::string bytes;
  std::u16string text;
  for (const auto& entry : entries) {
    text.clear();
    entry->GetText(text);
    text += u'\n';
    size_t lineStart = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != u'\n') continue;
      size_t lineEnd = i;
      if (lineEnd > lineStart && text[lineEnd - 1] == u'\r') --lineEnd;
      bytes += LineToAnsi(std::u16string_view(text).substr(lineStart, lineEnd - lineStart));
      bytes += "\r\n";
      lineStart = i + 1;
    }
  }
  return bytes;
}

}  // namespace

std::u16string FormatWithText(std::u16string_view pattern, std::u16string_view text) {
  std::u16string out;
  out.reserve(pattern.size() + text.size());
  bool argumentUsed = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != u'%' || i + 1 == pattern.size()) {
      out += pattern[i];
      continue;
    }
    const char16_t next = pattern[i + 1];
    if (next == u'%') {
      out += u'%';
      ++i;
    } else if (next == u's') {
      if (!argumentUsed) out += text;
      argumentUsed = true;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

// ---- CFileLog

CFileLog::CFileLog(std::u16string text, uint32_t messageId)
    : text_(std::move(text)), messageId_(messageId) {}

bool CFileLog::GetText(std::u16string& out) const { return Render(false, out); }

bool CFileLog::GetPrintedText(std::u16string& out) const { return Render(true, out); }

// A line the memory does not suffice for is left out; the rest of the log
// is still shown or saved.
bool CFileLog::Render(bool printed, std::u16string& out) const {
  out.clear();
  try {
    std::u16string pattern;
    if (!host::LoadString(messageId_, pattern)) return false;
    out = printed ? FormatWithText(pattern, paths::ShownText(text_)) : FormatWithText(pattern, text_);
    return true;
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
}

std::unique_ptr<CLog> CFileLog::Clone() const { return std::make_unique<CFileLog>(*this); }

// ---- CMessageLog

CMessageLog::CMessageLog(uint32_t messageId) {
  try {
    host::LoadString(messageId, message_);
  } catch (const std::bad_alloc&) {
    message_.clear();
  }
}

bool CMessageLog::GetText(std::u16string& out) const {
  try {
    out = message_;
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
  return !out.empty();
}

std::unique_ptr<CLog> CMessageLog::Clone() const { return std::make_unique<CMessageLog>(*this); }

// ---- CLogger

CLogger::~CLogger() { Clear(); }

int CLogger::Add(const CLog& entry) {
  // A line that finds no memory is lost, and the restore goes on.
  try {
    entries_.push_back(entry.Clone());
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return static_cast<int>(entries_.size() - 1);
}

void CLogger::Clear() {
  while (!entries_.empty()) entries_.pop_back();
  entries_.shrink_to_fit();
}

const CLog& CLogger::GetAt(size_t index) const {
  if (index >= entries_.size()) throw std::invalid_argument("log entry index out of range");
  return *entries_[index];
}

bool CLogger::GetText(std::u16string& out) const {
  out.clear();
  try {
    std::u16string line;
    for (const auto& entry : entries_) {
      line.clear();
      entry->GetText(line);
      out += line;
      out += u"\r\n";
    }
    return true;
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
}

void CLogger::GetPrintedText(std::string& out) const {
  out.clear();
  std::u16string line;
  for (const auto& entry : entries_) {
    line.clear();
    entry->GetPrintedText(line);
    std::string text = host::WideToUtf8(line);
    for (size_t i = 0; i < text.size(); ++i)
      if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out.push_back(text[i]);
    out += '\n';
  }
}

bool CLogger::WriteTo(CIO& output) const {
  try {
    std::u16string text, line;
    for (const auto& entry : entries_) {
      line.clear();
      entry->GetPrintedText(line);
      text += line;
      text += u"\r\n";
    }
    text += u'\0';
    return WriteAll(output, WideToUtf16Le(text));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool CLogger::SaveAs(const std::u16string& path) const {
  CQPXFileIO file;
  return SaveAs(file, path);
}

bool CLogger::SaveAs(CFileIO& file, const std::u16string& path) const {
  std::string bytes;
  try {
    bytes = SavedBytes(entries_);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!file.Open(path, kModeCreate)) return false;
  const bool written = WriteAll(file, bytes) && file.Flush();
  const bool closed = file.Close();
  return written && closed;
}

}  // namespace QPXFile
