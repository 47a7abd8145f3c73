#include "compose/turn.h"

#include "compose/imagebuffer.h"

#include <algorithm>
#include <cstdint>

namespace kestrovia {

namespace {

// Tiles keep both the rows read and the rows written in cache while a quarter
// turn walks the source column-wise.
constexpr int kTile = 64;

inline const std::uint32_t *row(const QImage &img, int y)
{
    return reinterpret_cast<const std::uint32_t *>(img.constScanLine(y));
}

QImage asRgb32(const QImage &src)
{
    return src.format() == QImage::Format_RGB32 ? src : src.convertToFormat(QImage::Format_RGB32);
}

} // namespace

QImage turnImage(const QImage &input, int code)
{
    if (code != 90 && code != 180 && code != 270)
        return input;
    const QImage src = asRgb32(input);
    const int w = src.width();
    const int h = src.height();
    if (code == 180)
        return mirrorImage(src, true, true);

    QImage out = newImage(h, w);
    if (w == 0 || h == 0)
        return out;
    auto *base = reinterpret_cast<std::uint32_t *>(out.bits());
    const qsizetype stride = out.bytesPerLine() / 4;
    // Source pixel (x, y) goes to (h-1-y, x) for 90 and to (y, w-1-x) for 270.
    for (int y0 = 0; y0 < h; y0 += kTile) {
        const int y1 = std::min(h, y0 + kTile);
        for (int x0 = 0; x0 < w; x0 += kTile) {
            const int x1 = std::min(w, x0 + kTile);
            for (int y = y0; y < y1; ++y) {
                const std::uint32_t *s = row(src, y);
                if (code == 90) {
                    std::uint32_t *d = base + (h - 1 - y);
                    for (int x = x0; x < x1; ++x)
                        d[x * stride] = s[x];
                } else {
                    std::uint32_t *d = base + y;
                    for (int x = x0; x < x1; ++x)
                        d[(w - 1 - x) * stride] = s[x];
                }
            }
        }
    }
    return out;
}

QImage mirrorImage(const QImage &input, bool horizontal, bool vertical)
{
    const QImage src = asRgb32(input);
    if (!horizontal && !vertical)
        return src;
    const int w = src.width();
    const int h = src.height();
    QImage out = newImage(w, h);
    auto *base = reinterpret_cast<std::uint32_t *>(out.bits());
    const qsizetype stride = out.bytesPerLine() / 4;
    for (int y = 0; y < h; ++y) {
        const std::uint32_t *s = row(src, vertical ? h - 1 - y : y);
        std::uint32_t *d = base + y * stride;
        if (horizontal)
            std::reverse_copy(s, s + w, d);
        else
            std::copy(s, s + w, d);
    }
    return out;
}

QRectF turnRect(const QRectF &r, QSize size, int code)
{
    // Point (x, y) goes to (h - y, x) for 90 and to (y, w - x) for 270.
    switch (code) {
    case 90: return QRectF(size.height() - r.bottom(), r.left(), r.height(), r.width());
    case 270: return QRectF(r.top(), size.width() - r.right(), r.height(), r.width());
    case 180: return mirrorRect(r, size, true, true);
    default: return r;
    }
}

QRectF mirrorRect(const QRectF &r, QSize size, bool horizontal, bool vertical)
{
    return QRectF(horizontal ? size.width() - r.right() : r.left(), vertical ? size.height() - r.bottom() : r.top(),
                  r.width(), r.height());
}

} // namespace kestrovia
