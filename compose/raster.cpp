#include "compose/raster.h"

#include "compose/imagebuffer.h"
#include "compose/picturelimits.h"
#include "compose/resample.h"
#include "compose/turn.h"
#include "platform/numbers.h"

namespace kestrovia {

QImage ComposePicture(const QImage &src, const QRectF &extent, QSize target, std::int16_t rotation)
{
    checkPictureSize(target.width(), target.height());
    if (target.isEmpty() || src.isNull() || extent.isEmpty())
        return newImage(target.width(), target.height());
    const bool quarter = rotation == 90 || rotation == 270;
    const QSize unturned = quarter ? target.transposed() : target;
    if (unturned.width() <= extent.width() && unturned.height() <= extent.height()) {
        // Drawn smaller: scaled first, so that only the pixels that remain are
        // turned; the filter is separable, so the result is that of scaling the
        // turned picture.
        if (extent == QRectF(src.rect()) && unturned == src.size())
            return turnImage(src, rotation);
        QImage scaled = newImage(unturned.width(), unturned.height());
        drawScaled(scaled, QRectF(scaled.rect()), src, extent);
        return turnImage(scaled, rotation);
    }
    const QImage turned = turnImage(src, rotation);
    QImage out = newImage(target.width(), target.height());
    drawScaled(out, QRectF(out.rect()), turned, turnRect(extent, src.size(), rotation));
    return out;
}

void FitAspectSize(std::int32_t &width, std::int32_t &height, std::int32_t boxWidth, std::int32_t boxHeight)
{
    if (height == 0)
        return; // no aspect ratio to keep
    const double r = double(width) / double(height);
    const double bw = boxWidth;
    const double bh = boxHeight;

    // Each step fails as a whole (division by zero, overflow): nothing is stored.
    const auto wider = [&]() -> bool {
        const auto cw = roundToInt32(bh * r);
        if (!cw)
            return false;
        if (*cw <= boxWidth) {
            width = *cw;
            height = boxHeight;
            return true;
        }
        // The height comes from the rounded candidate width, not from r.
        if (*cw == 0)
            return false; // only with a negative box: bw / 0
        const auto h = roundToInt32(bw / *cw * bh);
        if (!h)
            return false;
        width = boxWidth;
        height = *h;
        return true;
    };
    const auto higher = [&]() -> bool {
        if (r == 0)
            return false;
        const auto ch = roundToInt32(bw / r);
        if (!ch)
            return false;
        if (*ch <= boxHeight) {
            width = boxWidth;
            height = *ch;
            return true;
        }
        if (*ch == 0)
            return false;
        const auto w = roundToInt32(bh / *ch * bw);
        if (!w)
            return false;
        width = *w;
        height = boxHeight;
        return true;
    };

    if (boxWidth > boxHeight) {
        wider();
    } else if (boxWidth < boxHeight) {
        higher();
    } else if (width == height) {
        width = boxWidth;
        height = boxHeight;
    } else if (width > height) {
        wider();
    } else {
        higher();
    }
}

} // namespace kestrovia
