#include "bench/benchpictures.h"

#include <QFile>

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace benchpics {

namespace {

// Deterministic per-pixel noise: film grain and foliage-like texture that a
// resampler must average properly, unlike flat synthetic colour.
std::uint32_t hash(std::uint32_t x, std::uint32_t y)
{
    std::uint32_t h = x * 374761393u + y * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

} // namespace

QImage photoLike(int w, int h, int seed, int grain)
{
    QImage img(w, h, QImage::Format_RGB32);
    const double horizon = h * (0.45 + 0.01 * (seed % 7));
    const double phase = 0.37 * seed;
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<std::uint32_t *>(img.scanLine(y));
        const double fy = double(y) / h;
        for (int x = 0; x < w; ++x) {
            const double fx = double(x) / w;
            double r, g, b;
            if (y < horizon) { // sky with soft clouds
                const double cloud =
                    0.5 + 0.5 * std::sin(fx * 9.0 + phase + std::sin(fy * 13.0) * 2.0) * std::cos(fy * 7.0 - fx * 3.0);
                r = 90 + 120 * fy + 60 * cloud;
                g = 140 + 80 * fy + 50 * cloud;
                b = 220 - 20 * fy + 30 * cloud;
            } else { // ground: grass texture, stripes of a field, a few stones
                const double texture = std::sin(x * 0.9 + y * 0.3) * std::sin(y * 1.3 - x * 0.2);
                const double rows = std::sin(fx * 160.0 + fy * (40.0 + seed));
                r = 70 + 40 * texture + 25 * rows + 40 * fy;
                g = 120 + 50 * texture + 20 * rows;
                b = 50 + 20 * texture;
                if (((x / 97) + (y / 83) + seed) % 11 == 0) { // stones with hard edges
                    r = g = b = 170 + 30 * texture;
                }
            }
            const int noise =
                int(hash(std::uint32_t(x + 7919 * seed), std::uint32_t(y)) % std::uint32_t(grain)) - grain / 2;
            const auto c = [&](double v) { return std::uint32_t(std::clamp(int(v) + noise, 0, 255)); };
            row[x] = 0xFF000000u | (c(r) << 16) | (c(g) << 8) | c(b);
        }
    }
    return img;
}

bool writeJpeg(const QImage &img, const QString &path, int quality, int subsamp, int flags)
{
    tjhandle h = tjInitCompress();
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    const bool ok = tjCompress2(h, img.constBits(), img.width(), int(img.bytesPerLine()), img.height(), TJPF_BGRX, &buf,
                                &size, subsamp < 0 ? TJSAMP_420 : subsamp, quality, flags)
                    == 0;
    tjDestroy(h);
    QFile f(path);
    const bool written = ok && f.open(QIODevice::WriteOnly)
                         && f.write(reinterpret_cast<const char *>(buf), qint64(size)) == qint64(size);
    tjFree(buf);
    return written;
}

} // namespace benchpics
