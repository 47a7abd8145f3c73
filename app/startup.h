#pragma once
// Start-up pieces that main() and the tests share: the program's identity and the
// first window.

#include <QString>
#include <QStringList>
#include <memory>

namespace kestrovia {

class Form1;

// Application name "Kestrovia", the version, and the desktop file's name without
// ".desktop", by which Wayland compositors (and X11 docks) match the window to its
// launcher. Static settings: call before the application object is made.
void setApplicationIdentity(const QString &version, const QString &desktopFileName);

// Creates and shows the main window and queues files as a drop of them on the job
// list would, with the settings panel as it stands at start-up.
std::unique_ptr<Form1> openMainWindow(const QStringList &files);

} // namespace kestrovia
