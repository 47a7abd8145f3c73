#pragma once
// Window geometry is in twips (1/1440 inch); pictures are in pixels. One pixel is
// 15 twips on every screen (the 96-dpi value), so that a job gives the same file
// whatever the screen's resolution; the preview maps its pixels to device pixels.

#include <cmath>
#include <cstdint>

namespace kestrovia {

struct TwipsPerPixel {
    int x = 15;
    int y = 15;
};

// Twips to pixels drops the fraction (floor); pixels to twips is exact for whole pixels.
inline int twipsToPixels(double twips, int tpp) { return static_cast<int>(std::floor(twips / tpp)); }
inline std::int64_t pixelsToTwips(std::int64_t pixels, int tpp) { return pixels * tpp; }

} // namespace kestrovia
