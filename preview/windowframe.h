#pragma once
// The window system's frame around a window (title bar and borders) and keeping a
// window's frame on the screen, for the main window and the preview alike.

#include <QMargins>
#include <QRect>

class QWidget;

namespace kestrovia {

// The distances from w's client area to its frame's outer edges, in logical
// units; all 0 while the window manager has not framed it yet.
QMargins frameMargins(const QWidget &w);

// frame moved back just enough to lie whole within room (a screen's free area), so
// that its border can be reached; a frame larger than room keeps its top-left on it.
QRect keptWithin(QRect frame, const QRect &room);

} // namespace kestrovia
