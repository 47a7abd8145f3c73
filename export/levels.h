#pragma once
// What each output format makes of the compression level 0..10: one scale for
// every format, so that a level means the same visual quality whatever is written
// (JPEG's quality for each level is jpegQuality, outputname.h).

#include <cstdint>

namespace kestrovia {

struct WebpSettings {
    bool lossless = false;
    int quality = 75; // lossy: libwebp's quality 0..100; lossless: its effort 0..100
    int method = 4; // libwebp's speed/size trade-off 0..6 (4: its default)
};

struct AvifSettings {
    bool lossless = false;
    int quality = 50; // libheif's quality 0..100 for libaom
    bool fullChroma = false; // 4:4:4 instead of 4:2:0
    int speed = 6; // libaom's cpu-used 0..9
};

// Lossless at every level: the level buys compression effort only. Rows are
// filtered by libpng's choice per row among all five filters, and zlib runs its
// default strategy.
struct PngSettings {
    int zlibLevel = 3; // 1..9
};

// Levels outside 0..10 (which the settings panel never writes) take the nearest end.
WebpSettings webpSettings(std::int16_t level);
AvifSettings avifSettings(std::int16_t level);
PngSettings pngSettings(std::int16_t level);

} // namespace kestrovia
