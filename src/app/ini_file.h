// The few lines of INI handling the configuration file needs. Qt's settings
// class rewrites backslashes and cannot read files written by other programs,
// so the file is read and written here the way the Windows profile functions
// treat it: sections and keys without regard to case, blanks around names and
// values ignored, ";" lines are comments, every other line kept as it was.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <optional>

namespace app {

// The value of `key` in `section` of the file's text, or nothing.
std::optional<QString> IniValue(const QString& text, const QString& section, const QString& key);
// The text with `key` in `section` set to `value`: the first such line is
// replaced, or the key is added at the end of the section, or the section
// is added at the end of the text. Line endings follow the text's own.
QString WithIniValue(const QString& text, const QString& section, const QString& key, const QString& value);

// The file's bytes as text: UTF-8 when they are valid UTF-8, code page 932
// otherwise (files written on the systems the backups come from).
QString DecodeIniText(const QByteArray& bytes);

// The most of a file that is read: settings never need more, and a file
// that is larger (or a device such as /dev/zero in its place) is not one.
inline constexpr size_t kIniSizeLimit = 1 << 20;

// Reads the value from a regular file of at most kIniSizeLimit bytes;
// nothing when the file or the key is missing, or the file is refused.
std::optional<QString> ReadIniValue(const QString& path, const QString& section, const QString& key);
// Writes the value into the file (UTF-8), keeping its other lines and its
// mode; the file is replaced whole (a new file renamed over it), so a failed
// write never leaves it half written. A file that cannot be read is left.
bool WriteIniValue(const QString& path, const QString& section, const QString& key, const QString& value);

}  // namespace app
