#include "app/ini_file.h"

#include <QStringConverter>
#include <QStringList>

#include "host/private_folder.h"
#include "host/text.h"

namespace app {
namespace {

// "[name]" with blanks allowed around the name; nothing for other lines.
std::optional<QString> SectionName(const QString& line) {
  const QString t = line.trimmed();
  if (t.size() < 2 || !t.startsWith(u'[')) return std::nullopt;
  const qsizetype close = t.indexOf(u']');
  if (close < 0) return std::nullopt;
  return t.mid(1, close - 1).trimmed();
}

// The key of a "key=value" line, or nothing for comments and other lines.
std::optional<QString> KeyName(const QString& line, QString* value) {
  const QString t = line.trimmed();
  if (t.isEmpty() || t.startsWith(u';')) return std::nullopt;
  const qsizetype eq = t.indexOf(u'=');
  if (eq <= 0) return std::nullopt;
  if (value != nullptr) {
    QString v = t.mid(eq + 1).trimmed();
    // The profile functions drop one pair of quotes around a whole value.
    if (v.size() >= 2 && ((v.startsWith(u'"') && v.endsWith(u'"')) || (v.startsWith(u'\'') && v.endsWith(u'\''))))
      v = v.mid(1, v.size() - 2);
    *value = v;
  }
  return t.left(eq).trimmed();
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

}  // namespace

std::optional<QString> IniValue(const QString& text, const QString& section, const QString& key) {
  bool inSection = false;
  for (const QString& raw : text.split(u'\n')) {
    QString line = raw;
    if (line.endsWith(u'\r')) line.chop(1);
    if (const auto name = SectionName(line)) {
      inSection = SameName(*name, section);
      continue;
    }
    if (!inSection) continue;
    QString value;
    const auto k = KeyName(line, &value);
    if (k && SameName(*k, key)) return value;
  }
  return std::nullopt;
}

QString WithIniValue(const QString& text, const QString& section, const QString& key, const QString& value) {
  const QString eol = text.contains(QStringLiteral("\r\n")) ? QStringLiteral("\r\n") : QStringLiteral("\n");
  QStringList lines;
  if (!text.isEmpty()) lines = text.split(u'\n');
  if (text.endsWith(u'\n')) lines.removeLast();
  for (QString& line : lines)
    if (line.endsWith(u'\r')) line.chop(1);

  const QString entry = key + u'=' + value;
  qsizetype sectionStart = -1;  // index of the section's heading line
  qsizetype sectionEnd = -1;    // index after its last key line
  for (qsizetype i = 0; i < lines.size(); ++i) {
    if (const auto name = SectionName(lines[i])) {
      if (sectionStart >= 0) break;
      if (SameName(*name, section)) sectionStart = sectionEnd = i + 1;
      continue;
    }
    if (sectionStart < 0) continue;
    const auto k = KeyName(lines[i], nullptr);
    if (k && SameName(*k, key)) {
      lines[i] = entry;
      return lines.join(eol) + eol;
    }
    if (!lines[i].trimmed().isEmpty()) sectionEnd = i + 1;
  }
  if (sectionStart >= 0) {
    lines.insert(sectionEnd, entry);
  } else {
    lines << u'[' + section + u']' << entry;
  }
  return lines.join(eol) + eol;
}

QString DecodeIniText(const QByteArray& bytes) {
  auto decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = decoder.decode(bytes);
  if (!decoder.hasError()) {
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    return text;
  }
  std::u16string wide;
  if (host::AnsiToWide(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), wide))
    return QString::fromStdU16String(wide);
  return text;  // neither: the replacement characters at least keep the rest readable
}

std::optional<QString> ReadIniValue(const QString& path, const QString& section, const QString& key) {
  std::string bytes;
  if (host::ReadSmallFile(path.toStdString(), kIniSizeLimit, bytes) != host::SmallFileRead::kRead) return std::nullopt;
  return IniValue(DecodeIniText(QByteArray::fromStdString(bytes)), section, key);
}

bool WriteIniValue(const QString& path, const QString& section, const QString& key, const QString& value) {
  std::string bytes;
  const host::SmallFileRead read = host::ReadSmallFile(path.toStdString(), kIniSizeLimit, bytes);
  // What could not be read is not the program's to replace.
  if (read == host::SmallFileRead::kRefused) return false;
  const QString text = DecodeIniText(QByteArray::fromStdString(bytes));
  return host::ReplaceSmallFile(path.toStdString(), WithIniValue(text, section, key, value).toUtf8().toStdString());
}

}  // namespace app
