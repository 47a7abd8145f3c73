#pragma once
// Quarter, half and three-quarter turns of a whole image, moved in cache-sized tiles.

#include <QImage>
#include <QRectF>

namespace kestrovia {

// Returns src turned by the rotation code: 90 clockwise, 270 counter-clockwise,
// 180 half turn; any other code returns src itself (shared, no copy). The result
// is Format_RGB32; a quarter turn swaps width and height.
QImage turnImage(const QImage &src, int rotationCode);

// Mirrors left to right (horizontal) and/or top to bottom (vertical).
QImage mirrorImage(const QImage &src, bool horizontal, bool vertical);

// Where a rectangle r of an image of the given size lands after the same turn or
// mirroring; used to carry a reduced picture's extent along with its pixels.
QRectF turnRect(const QRectF &r, QSize imageSize, int rotationCode);
QRectF mirrorRect(const QRectF &r, QSize imageSize, bool horizontal, bool vertical);

} // namespace kestrovia
