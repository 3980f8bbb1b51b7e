// The program's numbered texts as Qt strings, and the few message boxes
// every window raises with them.
#pragma once

#include <QString>
#include <initializer_list>

#include "host/string_ids.h"

class QWidget;

namespace app {

// The string table's numbers, as the desktop program has always spelled them.
namespace Text = host::StringId;

// Offered after the backup files in the open dialog, so that a folder's
// other files can be seen; a set is still opened only through a ".qpx" or
// ".qpi" name.
inline constexpr char kAllFilesFilter[] = "すべてのファイル (*)";

// The text with this number; false (and `out` unchanged) when the table has none.
// Qt's own texts (the standard buttons "はい"/"いいえ", the folder chooser)
// in the language of the program's texts, whatever the user's locale: a
// Japanese question with English buttons reads as two programs. Without the
// translation files the buttons stay in English. Once per application object.
void InstallQtTranslations();

bool LoadText(int id, QString& out);
// The text, or an empty string when the table has none.
QString AppText(int id);

// Fills the numeric conversions of a table text ("%d", "%02d", "%lu",
// "%I64u" ...) with `numbers` in order; "%%" is a percent sign. A conversion
// without a number left stays as written.
QString FormatNumbers(const QString& format, std::initializer_list<long long> numbers);

// Turns a filter of the Windows form "Name|*.x|Name|*.y|" into Qt's
// "Name (*.x);;Name (*.y)"; a name that ends with its patterns in
// parentheses is kept as it is.
QString QtFileFilter(const QString& windowsFilter);

// Quiet mode silences ShowErrorMessage: on only while a file is restored
// quietly to be opened.
void SetQuietMode(bool quiet);
bool IsQuietMode();

// The owner of every error box (the main window); may be null.
void SetMessageOwner(QWidget* owner);
QWidget* MessageOwner();

// An error box with the text, caption 107 and the error icon, unless quiet
// mode is on. Must run on the user-interface thread.
void ShowErrorMessage(int id);
void ShowErrorText(const QString& text);

}  // namespace app
