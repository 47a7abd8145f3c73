#pragma once
// Window geometry is in twips (1/1440 inch); pictures are in pixels. One pixel is
// 15 twips on every screen (the 96-dpi value), so that a job gives the same file
// whatever the screen's resolution; the preview maps its pixels to device pixels.

#include <QRect>

#include <cmath>
#include <cstdint>

namespace kestrovia {

inline constexpr int kTwipsPerPixel = 15;

// Twips to pixels drops the fraction (floor); pixels to twips is exact for whole pixels.
inline int twipsToPixels(double twips) { return static_cast<int>(std::floor(twips / kTwipsPerPixel)); }
inline std::int64_t pixelsToTwips(std::int64_t pixels) { return pixels * kTwipsPerPixel; }

// A design rectangle in twips as pixels, each value floored on its own.
inline QRect twipsRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

} // namespace kestrovia
