#pragma once
// Window geometry is in twips (1/1440 inch); pictures are in pixels. The engine
// never asks the screen: callers pass the factor in.

#include <cmath>
#include <cstdint>

namespace kestrovia {

struct TwipsPerPixel {
    int x = 15;
    int y = 15;
};

// 1440 / the primary screen's logical DPI, rounded; 15 when there is no screen.
TwipsPerPixel screenTwipsPerPixel();

// Twips to pixels drops the fraction (floor); pixels to twips is exact for whole pixels.
inline int twipsToPixels(double twips, int tpp) { return static_cast<int>(std::floor(twips / tpp)); }
inline std::int64_t pixelsToTwips(std::int64_t pixels, int tpp) { return pixels * tpp; }

} // namespace kestrovia
