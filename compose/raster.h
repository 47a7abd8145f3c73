#pragma once
// The two raster routines: the turn-and-stretch of one surface onto another, and
// the keep-aspect size of a picture inside a box.

#include <cstdint>

namespace kestrovia {

class Surface;

// Turns the picture at src's pixel (0, 0) of srcWidth x srcHeight pixels by the
// rotation code and draws it onto dst, stretched into the pixel rectangle
// (0, 0, targetWidth, targetHeight), clipped to dst; dst pixels outside that
// rectangle keep their colour. All four sizes are rounded to whole pixels (nearest,
// ties to even). Rotation codes: 90 quarter turn clockwise, 270 quarter turn
// counter-clockwise, 180 half turn; every other value (0, 45, -90 ...) copies the
// picture unturned. The pixels move in bulk; each lands where the per-pixel rule
// puts it: 90 -> (H-1-y, x), 270 -> (y, W-1-x), 180 -> (W-1-x, H-1-y).
// Shows the busy pointer while it works and the default one when it ends, also
// when it throws Failure (a size that is not finite, negative or too large).
void ComposePicture(const Surface &src, Surface &dst, float srcWidth, float srcHeight,
                    float targetWidth, float targetHeight, std::int16_t rotation);

// Adjusts width x height (in/out, any unit) to the largest size with the same
// aspect ratio that fits the box boxWidth x boxHeight. The candidate side is rounded
// (nearest, ties to even) first and the other side derived from that rounded value;
// a candidate that rounds to 0 is kept (a 1 x 4000 picture in a 200 x 100 box gives
// 0 x 100: callers that draw it widen it to a sliver). On an arithmetic failure (zero height, zero width where a division needs it, a
// result beyond 32 bits) width and height are left unchanged.
void FitAspectSize(std::int32_t &width, std::int32_t &height, std::int32_t boxWidth,
                   std::int32_t boxHeight);

} // namespace kestrovia
