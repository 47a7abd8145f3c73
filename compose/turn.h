#pragma once
// Quarter, half and three-quarter turns of a whole image, moved in cache-sized tiles.

#include <QImage>

namespace kestrovia {

// Returns src turned by the rotation code: 90 clockwise, 270 counter-clockwise,
// 180 half turn; any other code returns src itself (shared, no copy). The result
// is Format_RGB32; a quarter turn swaps width and height.
QImage turnImage(const QImage &src, int rotationCode);

// Mirrors left to right (horizontal) and/or top to bottom (vertical).
QImage mirrorImage(const QImage &src, bool horizontal, bool vertical);

} // namespace kestrovia
