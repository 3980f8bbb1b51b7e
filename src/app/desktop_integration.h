// The program's place on a freedesktop desktop: its help file and the
// launcher that the shortcut command puts on the user's desktop.
#pragma once

#include <QString>
#include <functional>

namespace app {

// The help's start page: the installed copy below the program's own prefix
// (share/tessera/help), else the copy in the source tree for a program run
// from its build folder. When neither exists, the installed path all the same,
// so that the browser reports the missing file.
QString HelpFilePath(const QString& executableFolder);

// The launcher's text: a Type=Application entry that starts `executable`
// (quoted and escaped as the Desktop Entry rules require) with a file.
QString LauncherText(const QString& executable);

// Writes "Tessera.desktop" for `executable` into `desktopFolder`, made when
// missing, replacing an existing launcher (a link there is replaced, never
// followed), executable as file managers want a trusted launcher to be.
bool WriteDesktopLauncher(const QString& desktopFolder, const QString& executable);

// The user's desktop folder (XDG_DESKTOP_DIR, else ~/Desktop).
QString DesktopFolder();

// Opens a host file or folder with the application the desktop registers
// for its type. When there is none, or the desktop cannot start it, the user
// is told so in a message box; false then.
bool OpenWithDesktop(const QString& hostPath);

// Whether the desktop has an application registered for a MIME type; a
// replaceable answer for tests. An empty function restores the real query.
using ApplicationQuery = std::function<bool(const QString& mimeType)>;
void SetApplicationQuery(ApplicationQuery query);

}  // namespace app
