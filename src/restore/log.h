// The restore log: one line when a run starts, one for each file or folder
// that needed a decision or failed, one when the run ends. The result log
// shows it after the run and can save it as a text file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "io/io.h"

namespace QPXFile {

// Puts `text` in place of the first "%s" of a string-table pattern; "%%"
// stands for one "%". The patterns take one argument, so a further "%s" in a
// damaged or mistranslated pattern yields nothing rather than reading past
// the argument list. Other "%" sequences are kept as they are.
std::u16string FormatWithText(std::u16string_view pattern, std::u16string_view text);

// One line of the log.
class CLog {
 public:
  virtual ~CLog() = default;
  // The line as shown, without its line end. False, with `out` empty, when
  // the line has no text (an id without a string, or no memory).
  virtual bool GetText(std::u16string& out) const = 0;
  // The line as a terminal or a window shows it: the same, but the name a
  // line is about cannot move the cursor, start a line of its own or show
  // its letters in another order (paths::ShownText).
  virtual bool GetPrintedText(std::u16string& out) const { return GetText(out); }
  // A heap copy.
  virtual std::unique_ptr<CLog> Clone() const = 0;
};

// A line about one file or folder: the message with the path in its "%s".
class CFileLog : public CLog {
 public:
  CFileLog(std::u16string text, uint32_t messageId);

  bool GetText(std::u16string& out) const override;
  bool GetPrintedText(std::u16string& out) const override;
  std::unique_ptr<CLog> Clone() const override;

  const std::u16string& GetSubject() const { return text_; }
  uint32_t GetMessageId() const { return messageId_; }

 private:
  bool Render(bool printed, std::u16string& out) const;

  std::u16string text_;  // the path the line is about; may be empty
  uint32_t messageId_;   // string-table id of the wording
};

// A line that is a whole message, read from the string table once, when the
// entry is made.
class CMessageLog : public CLog {
 public:
  // An id without a string makes an empty line.
  explicit CMessageLog(uint32_t messageId);
  // A message the program composes itself.
  explicit CMessageLog(std::u16string message) : message_(std::move(message)) {}
  CMessageLog(const CMessageLog& other) = default;

  bool GetText(std::u16string& out) const override;
  std::unique_ptr<CLog> Clone() const override;

 private:
  std::u16string message_;  // the loaded text
};

// The entries of one log, in the order added.
class CLogger {
 public:
  CLogger() = default;
  ~CLogger();
  CLogger(const CLogger&) = delete;
  CLogger& operator=(const CLogger&) = delete;

  // Stores a copy of `entry` at the end; the caller keeps `entry`. The index
  // of the copy, or -1 when no copy could be made (the restore goes on).
  int Add(const CLog& entry);

  // Destroys the entries, the last first.
  void Clear();

  size_t GetCount() const { return entries_.size(); }
  // Throws std::invalid_argument for an index past the end.
  const CLog& GetAt(size_t index) const;

  // Every entry's text followed by "\r\n", as the result log shows it.
  // False when memory runs out.
  bool GetText(std::u16string& out) const;

  // Every entry's printed text (CLog::GetPrintedText) as UTF-8 for a
  // terminal or a pipe, each line ending in "\n"; the line breaks of a
  // message of several lines stay, as "\n". Memory running out here is
  // the command's to tell.
  void GetPrintedText(std::string& out) const;

  // Writes every entry's printed text, each followed by "\r\n", and a
  // terminating NUL as UTF-16LE code units, for the result log to show.
  // The output's result.
  bool WriteTo(CIO& output) const;

  // Saves the log as a text file in code page 932, one line per entry and
  // every line ending in CR LF, so that messages holding a line break give
  // two lines. The file is created or truncated. Characters the code page
  // has no byte for are saved as "?", so one foreign name does not cost the
  // whole file. False on any file error; the file keeps what was written.
  bool SaveAs(const std::u16string& path) const;
  // The same through a given stream, which is opened on `path` in mode 1
  // and closed again.
  bool SaveAs(CFileIO& file, const std::u16string& path) const;

 private:
  std::vector<std::unique_ptr<CLog>> entries_;
};

}  // namespace QPXFile
