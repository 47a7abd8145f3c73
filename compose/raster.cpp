#include "compose/raster.h"

#include "compose/picturedecoder.h"
#include "compose/resample.h"
#include "compose/surface.h"
#include "compose/turn.h"
#include "platform/busypointer.h"
#include "platform/failure.h"
#include "platform/numbers.h"

#include <cmath>

namespace kestrovia {

namespace {

std::int32_t roundedSize(float v)
{
    const auto r = roundToInt32(static_cast<double>(v));
    if (!r || *r < 0)
        throw Failure(QString::fromUtf8("画像の大きさ %1 ピクセルは扱えません").arg(static_cast<double>(v)));
    return *r;
}

} // namespace

void ComposePicture(const Surface &src, Surface &dst, float srcWidth, float srcHeight,
                    float targetWidth, float targetHeight, std::int16_t rotation)
{
    BusyPointer::set();
    // The default pointer comes back however the call ends: a failure caught by
    // the preview (which stops silently) must not leave the pointer busy for good.
    struct Restore {
        ~Restore() { BusyPointer::restore(); }
    } restore;
    const std::int32_t w = roundedSize(srcWidth);
    const std::int32_t h = roundedSize(srcHeight);
    const std::int32_t tw = roundedSize(targetWidth);
    const std::int32_t th = roundedSize(targetHeight);
    checkPictureSize(w, h);
    checkPictureSize(tw, th);

    const bool quarter = rotation == 90 || rotation == 270;
    if (w > 0 && h > 0 && !src.pixelSize().isEmpty()) {
        // The W x H block at the source's (0, 0), in backing-image pixels (fewer
        // than W x H when the source holds a reduced decode, whose extent says
        // which of them stand for the picture).
        const QImage &from = src.image();
        QRectF part = src.toImage(QRectF(0, 0, w, h));
        QImage block = from;
        if (w != src.pixelSize().width() || h != src.pixelSize().height()) {
            const QRect pixels = part.toAlignedRect() & from.rect();
            block = from.copy(pixels);
            part.translate(-pixels.topLeft());
        }
        const QImage work = turnImage(block, rotation);
        const QRectF workExtent = turnRect(part, block.size(), rotation);
        const QSize workSize = quarter ? QSize(h, w) : QSize(w, h);

        if (dst.pixelSize() == QSize(tw, th) && workSize == QSize(tw, th)) {
            // One to one over the whole destination, as both callers use it: the
            // destination simply takes the turned picture (shared, not copied,
            // and still at the reduced scale if the source had one).
            dst.setBackingImage(work, workExtent);
        } else {
            QImage &to = dst.image();
            drawScaled(to, dst.toImage(QRectF(0, 0, tw, th)), work, workExtent);
            dst.refresh();
        }
    }
}

void FitAspectSize(std::int32_t &width, std::int32_t &height, std::int32_t boxWidth,
                   std::int32_t boxHeight)
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
