// Icons and type names for the panes: the icon theme's icon for a file's
// type (by its name, through the MIME database) with the program's own
// icons in its place where no theme is installed. Icons are cached per
// extension, as a list of thousands of files has few types.
#pragma once

#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QString>

namespace app {

class FileIcons {
 public:
  // The one instance of the user-interface thread.
  static FileIcons& Instance();

  QIcon Folder() const { return folder_; }
  QIcon Drive() const { return drive_; }
  QIcon Application() const { return application_; }
  // The icon of a file's type, by its name's extension.
  QIcon ForFile(const QString& name);
  // The type's name in the user's language ("テキストファイル" under a Japanese locale).
  QString TypeName(const QString& name);

 private:
  FileIcons();

  QMimeDatabase mimes_;
  QIcon folder_;
  QIcon drive_;
  QIcon file_;
  QIcon application_;
  QHash<QString, QIcon> byExtension_;
  QHash<QString, QString> typeByExtension_;
};

}  // namespace app
