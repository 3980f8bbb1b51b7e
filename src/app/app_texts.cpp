#include "app/app_texts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QTranslator>
#include <QStringList>
#include <atomic>

#include "host/string_table.h"

namespace app {
namespace {

std::atomic<bool> quietMode{false};
QPointer<QWidget> messageOwner;

}  // namespace

void InstallQtTranslations() {
  QCoreApplication* application = QCoreApplication::instance();
  const QString name = QStringLiteral("tessera-qt-translations");
  if (application == nullptr || application->findChild<QTranslator*>(name, Qt::FindDirectChildrenOnly)) return;
  auto* translator = new QTranslator(application);
  translator->setObjectName(name);
  if (translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(translator);
}

bool LoadText(int id, QString& out) {
  std::u16string text;
  if (id < 0 || !host::LoadString(static_cast<uint32_t>(id), text)) return false;
  out = QString::fromStdU16String(text);
  return true;
}

QString AppText(int id) {
  QString text;
  LoadText(id, text);
  return text;
}

QString FormatNumbers(const QString& format, std::initializer_list<long long> numbers) {
  QString out;
  auto next = numbers.begin();
  for (qsizetype i = 0; i < format.size(); ++i) {
    if (format[i] != u'%' || i + 1 >= format.size()) {
      out += format[i];
      continue;
    }
    if (format[i + 1] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    qsizetype j = i + 1;
    const bool zeros = format[j] == u'0';
    int width = 0;
    while (j < format.size() && format[j].isDigit()) width = width * 10 + format[j++].digitValue();
    if (format.mid(j, 3) == QStringLiteral("I64")) j += 3;
    while (j < format.size() && (format[j] == u'l' || format[j] == u'h')) ++j;
    if (j >= format.size() || (format[j] != u'd' && format[j] != u'u' && format[j] != u'i') || next == numbers.end()) {
      out += format[i];
      continue;
    }
    out += QStringLiteral("%1").arg(*next++, width, 10, QChar(zeros ? u'0' : u' '));
    i = j;
  }
  return out;
}

QString QtFileFilter(const QString& windowsFilter) {
  const QStringList parts = windowsFilter.split(u'|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) break;
    // Qt takes the patterns from the parentheses that end the name; a name
    // that shows its patterns already is kept as it is.
    const QString patterns = QString(parts[i + 1]).replace(u';', u' ');
    filters << (parts[i].endsWith(u')') ? parts[i] : parts[i] + QStringLiteral(" (") + patterns + u')');
  }
  return filters.join(QStringLiteral(";;"));
}

void SetQuietMode(bool quiet) { quietMode = quiet; }
bool IsQuietMode() { return quietMode; }

void SetMessageOwner(QWidget* owner) { messageOwner = owner; }
QWidget* MessageOwner() { return messageOwner.data(); }

void ShowErrorText(const QString& text) {
  if (IsQuietMode()) return;
  QMessageBox box(QMessageBox::Critical, AppText(Text::kCaption), text, QMessageBox::Ok, MessageOwner());
  box.exec();
}

void ShowErrorMessage(int id) { ShowErrorText(AppText(id)); }

}  // namespace app
