#pragma once
// The two raster routines: the turn-and-stretch of a picture, and the keep-aspect
// size of a picture inside a box.

#include <QImage>
#include <QRectF>
#include <QSize>
#include <cstdint>

namespace kestrovia {

// Turns the picture held in src by the rotation code and stretches it into a new
// image of target pixels. extent is the rectangle of src, in its pixels, that stands
// for the whole picture (src.rect() after a full decode, see DecodedPicture).
// Rotation codes: 90 quarter turn clockwise, 270 quarter turn counter-clockwise, 180
// half turn; every other value (0, 45, -90 ...) leaves the picture unturned. The
// pixels move in bulk; each lands where the per-pixel rule puts it: 90 -> (H-1-y, x),
// 270 -> (y, W-1-x), 180 -> (W-1-x, H-1-y). Format_RGB32; src must be Format_RGB32.
// Throws Failure for a target beyond the size limits.
QImage ComposePicture(const QImage &src, const QRectF &extent, QSize target, std::int16_t rotation);

// Adjusts width x height (in/out, any unit) to the largest size with the same
// aspect ratio that fits the box boxWidth x boxHeight. The candidate side is rounded
// (nearest, ties to even) first and the other side derived from that rounded value;
// a candidate that rounds to 0 is kept (a 1 x 4000 picture in a 200 x 100 box gives
// 0 x 100: callers that draw it widen it to a sliver). On an arithmetic failure (zero height, zero width where a
// division needs it, a result beyond 32 bits) width and height are left unchanged.
void FitAspectSize(std::int32_t &width, std::int32_t &height, std::int32_t boxWidth, std::int32_t boxHeight);

} // namespace kestrovia
