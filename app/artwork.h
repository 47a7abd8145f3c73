#pragma once
// The program's icon and the banner of the main window, drawn in code so that
// they scale cleanly and need no image files.

#include <QIcon>
#include <QPixmap>

namespace kestrovia {

// A square icon of the given size in pixels.
QPixmap iconPixmap(int size);
QIcon programIcon();
// The 280 × 40 banner with the program's name.
QPixmap bannerPixmap();

} // namespace kestrovia
