#pragma once
// The program's icon and the banner of the main window, drawn in code so that
// they scale cleanly and need no image files.

#include <QIcon>
#include <QPixmap>

class QPainter;

namespace kestrovia {

// Paints the program's icon into the square (0, 0, size, size) of painter's
// coordinates. The launcher icons are drawn from this at build time.
void paintIcon(QPainter &painter, int size);
// A square icon of the given size in pixels.
QPixmap iconPixmap(int size);
QIcon programIcon();
// The 280 × 40 banner with the program's name.
QPixmap bannerPixmap();

} // namespace kestrovia
