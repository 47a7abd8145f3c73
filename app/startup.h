#pragma once
// Start-up pieces that main() and the tests share: the program's identity, Qt's
// own translations and the first window.

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class QCoreApplication;
class QTranslator;

namespace kestrovia {

class Form1;
struct NotAdded;

// Application name "Kestrovia", the version, and the desktop file's name without
// ".desktop", by which Wayland compositors (and X11 docks) match the window to its
// launcher. Static settings: call before the application object is made.
void setApplicationIdentity(const QString &version, const QString &desktopFileName);

// Installs Qt's Japanese translation (qtbase_ja from Qt's translations folder) into
// app, so that Qt's own dialogs and buttons (the colour chooser, "Cancel") speak the
// program's language whatever the locale. Returns the installed translator, owned by
// app, or null, changing nothing, when the translation is not installed (Debian
// package qt6-translations-l10n).
QTranslator *installQtTranslations(QCoreApplication &app);

// Whether a window can be opened at all: a platform other than X11's was chosen
// (-platform, or QT_QPA_PLATFORM), or a display server answers: the Wayland socket
// WAYLAND_DISPLAY names exists, or the X server DISPLAY names accepts a connection.
// Without one, Qt's window system integration aborts the process with an English
// message; asking first lets the program say why, in Japanese, and exit. With only
// Wayland answering and no platform chosen, Wayland is chosen, as Qt would
// otherwise try X11 first.
bool windowSystemReachable(const QStringList &rawArguments);

// Creates and shows the main window and queues files as a drop of them on the job
// list would, with the settings panel as it stands at start-up; notAdded (names
// found unusable before) are named in the window's note with what the drop refuses.
std::unique_ptr<Form1> openMainWindow(const QStringList &files, const QList<NotAdded> &notAdded = {});

} // namespace kestrovia
