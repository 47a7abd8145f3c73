#include "export/levels.h"

#include <algorithm>
#include <array>

namespace kestrovia {

// The lossy formats' qualities were measured with `kestrovia_bench calibrate` on
// the batch's photos (4000x3000, grain 24) made 1600x1200 as the batch does: for
// each level, the quality whose outputs' mean SSIM (luma, 11x11 Gaussian window)
// against the composed canvas comes nearest JPEG's at that level, on six of the
// twenty photos; `CASES=levels FORMATS=... bench/compare.sh` checks them on all
// twenty.

namespace {

size_t index(std::int16_t level) { return size_t(std::clamp<int>(level, 0, 10)); }

} // namespace

WebpSettings webpSettings(std::int16_t level)
{
    // JPEG's SSIM by level: .9989 .9939 .9737 .9567 .9407 .9018 .8534 .7869 .7263
    // .6716 .6658. WebP's at these qualities: lossless, .9938 (its best lossy),
    // .9736 .9556 .9414 .9023 .8540 .7845 .7287 .6722 .6665. Level 0 is lossless:
    // no lossy WebP reaches JPEG's there.
    static constexpr std::array<int, 11> kQuality = {75, 100, 91, 87, 84, 77, 44, 25, 18, 8, 7};
    WebpSettings s;
    s.lossless = index(level) == 0;
    s.quality = kQuality[index(level)]; // lossless: libwebp's default effort
    return s;
}

AvifSettings avifSettings(std::int16_t level)
{
    // At speed 9, AVIF's SSIM at these qualities: .9997 .9942 .9721 .9556 .9409
    // .9030 .8551 .7846 .7259 .6780 .6594 (JPEG's: see webpSettings). Levels 9 and
    // 10 miss JPEG's by .0064 each: one quality step moves AV1's quantiser a long
    // way there. Level 0 is the best lossy AVIF there is, not a lossless one: with
    // RGB kept exactly (identity matrix) the photos' files were larger than PNG's.
    static constexpr std::array<int, 11> kQuality = {100, 95, 84, 78, 71, 41, 24, 8, 7, 4, 3};
    AvifSettings s;
    s.quality = kQuality[index(level)];
    // Full chroma where JPEG keeps it (fullChroma).
    s.fullChroma = index(level) <= 3;
    // libaom's fastest speed: at the same SSIM its files are 13-36% larger than at
    // speed 6 (its default in libheif) but it spends 5-9 times less time, so that
    // an AVIF batch takes about as long as a JPEG one instead of three times as
    // long, and the files are still smaller than JPEG's: by a third at level 1, by
    // half at level 2, to a tenth and less from level 5. Speed 8 gave the same
    // files as 9 in almost three times the time, and 7 larger ones than 6.
    s.speed = 9;
    return s;
}

PngSettings pngSettings(std::int16_t level)
{
    // Measured on the batch's photos at 1600x1200 with every filter (KB, ms of one
    // core): zlib 1 3033 108, 2 3001 117, 3 2922 148, 4 3035 166, 5 3003 217,
    // 6 2952 325, 7 2931 438, 8 2899 735, 9 2897 755. Levels 4 to 7 cost more than 3
    // and give larger files (zlib switches from its fast matcher to its lazy one
    // there), so the scale skips them: a higher level never gives a larger file.
    static constexpr std::array<int, 11> kZlib = {1, 1, 2, 2, 3, 3, 3, 3, 9, 9, 9};
    return PngSettings{kZlib[index(level)]};
}

} // namespace kestrovia
