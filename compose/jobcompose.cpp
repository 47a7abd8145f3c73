#include "compose/jobcompose.h"

#include "compose/imagebuffer.h"
#include "compose/raster.h"
#include "compose/resample.h"
#include "platform/failure.h"
#include "platform/numbers.h"
#include "platform/syscolor.h"
#include "platform/units.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kestrovia {

namespace {

bool isQuarterTurn(std::int16_t code) { return code == 90 || code == 270; }

// The picture with any transparency laid on the background colour: transparent
// parts come out in that colour, whatever the fit.
QImage opaque(const QImage &image, std::int32_t color)
{
    if (!image.hasAlphaChannel())
        return image.format() == QImage::Format_RGB32 ? image : image.convertToFormat(QImage::Format_RGB32);
    QImage out = newImage(image.width(), image.height());
    out.fill(resolveColorValue(color));
    QPainter painter(&out);
    painter.drawImage(0, 0, image);
    return out;
}

// Where the turned picture goes on a canvas of cw x ch twips.
QRectF placement(const JobRow &job, QSize turned, int cw, int ch)
{
    if (!job.keepsAspect())
        return QRectF(0, 0, cw, ch);
    std::int32_t w = turned.width() * kTwipsPerPixel;
    std::int32_t h = turned.height() * kTwipsPerPixel;
    FitAspectSize(w, h, cw, ch);
    const bool centred = job.centred();
    const auto place = [centred](std::int32_t &pos, std::int32_t &size, int total) {
        if (size < kTwipsPerPixel) {
            // A side that rounds to nothing (a 1 x 4000 picture in a wide box): the
            // whole picture squeezed into a sliver one pixel across, on whole pixels
            // so that the edge rounding cannot lose it.
            size = kTwipsPerPixel;
            pos = centred ? static_cast<std::int32_t>(std::lrint((total - kTwipsPerPixel) / 2.0 / kTwipsPerPixel))
                                * kTwipsPerPixel
                          : 0;
        } else {
            pos = centred ? roundToInt32((total - double(size)) / 2).value_or(0) : 0;
        }
    };
    std::int32_t x = 0, y = 0;
    place(x, w, cw);
    place(y, h, ch);
    return QRectF(x, y, w, h);
}

} // namespace

namespace {

NeedFunction jobNeed(const JobRow &job, bool applyTurn, const std::function<void(QSize picture)> &beforeDecode)
{
    // The smallest picture that still gives every drawn pixel its own source
    // detail: the size the picture will be drawn at on the canvas (the fitted
    // rectangle, or the whole canvas when stretched), seen from the unturned
    // picture. A size text that is not a number only means "decode in full" here.
    std::optional<QSize> canvas;
    try {
        canvas = job.canvasSize();
    } catch (const Failure &) {
        canvas.reset();
    }
    const bool quarter = applyTurn && isQuarterTurn(job.rotationCode());
    return [job, beforeDecode, canvas, quarter](QSize picture) -> QSize {
        if (beforeDecode)
            beforeDecode(picture);
        if (!canvas)
            return QSize();
        const QSize turned = quarter ? picture.transposed() : picture;
        const QRectF r = placement(job, turned, canvas->width() * kTwipsPerPixel, canvas->height() * kTwipsPerPixel);
        const QSize drawn(int(std::ceil(r.width() / kTwipsPerPixel)), int(std::ceil(r.height() / kTwipsPerPixel)));
        return quarter ? drawn.transposed() : drawn;
    };
}

} // namespace

DecodedPicture loadJobSource(const JobRow &job, bool applyTurn, const std::function<void(QSize picture)> &beforeDecode)
{
    return decodePicture(job.path, jobNeed(job, applyTurn, beforeDecode));
}

DecodedPicture decodeJobSource(const JobRow &job, const QByteArray &data, bool applyTurn,
                               const std::function<void(QSize picture)> &beforeDecode)
{
    return decodePictureData(data, jobNeed(job, applyTurn, beforeDecode));
}

std::optional<JpegPlanes> composeJobPlanes(const JobRow &job, const QByteArray &data, bool halfChroma,
                                           const std::function<void(QSize picture)> &beforeDecode)
{
    if (job.rotationCode() != 0)
        return std::nullopt;
    const std::optional<QSize> size = plainJpegSize(data);
    if (!size)
        return std::nullopt;
    const QSize canvas = job.canvasSize().value_or(*size);
    const QRectF whole(0, 0, canvas.width() * kTwipsPerPixel, canvas.height() * kTwipsPerPixel);
    if (placement(job, *size, int(whole.width()), int(whole.height())) != whole
        || (halfChroma && (canvas.width() % 2 || canvas.height() % 2)))
        return std::nullopt;
    job.backColorValue(); // a colour that is no number fails here as on the RGB route
    const std::optional<JpegPlanes> decoded = decodeJpegPlanes(data, jobNeed(job, true, beforeDecode));
    if (!decoded)
        return std::nullopt;
    JpegPlanes out;
    out.size = canvas;
    const QSize chroma = halfChroma ? canvas / 2 : canvas;
    const struct {
        QImage *to;
        const QImage &from;
        QSize size;
        QRectF extent;
    } planes[] = {{&out.y, decoded->y, canvas, decoded->lumaExtent},
                  {&out.cb, decoded->cb, chroma, decoded->chromaExtent},
                  {&out.cr, decoded->cr, chroma, decoded->chromaExtent}};
    for (const auto &p : planes) {
        *p.to = newPlane(p.size.width(), p.size.height());
        drawScaledPlane(*p.to, QRectF(p.to->rect()), p.from, p.extent);
    }
    out.lumaExtent = QRectF(out.y.rect());
    out.chromaExtent = QRectF(out.cb.rect());
    out.iccProfile = decoded->iccProfile;
    return out;
}

QImage composeJob(const JobRow &job, const DecodedPicture &picture, bool applyTurn)
{
    if (picture.size.isEmpty() || picture.image.isNull())
        throw Failure(QString::fromUtf8("画像が読み込まれていません"));
    const QSize canvasSize = job.canvasSize().value_or(picture.size);
    const std::int32_t color = job.backColorValue();
    // Texts outside the tables give top-left and no turn, so nothing of the previous
    // job leaks into this one.
    const std::int16_t code = applyTurn ? job.rotationCode() : 0;
    const QSize turned = isQuarterTurn(code) ? picture.size.transposed() : picture.size;

    const QRectF rect =
        placement(job, turned, canvasSize.width() * kTwipsPerPixel, canvasSize.height() * kTwipsPerPixel);
    // The canvas pixels the picture covers: each edge rounded to the nearest pixel
    // boundary.
    const PixelSpan sx = pixelSpan(rect.x() / kTwipsPerPixel, rect.width() / kTwipsPerPixel);
    const PixelSpan sy = pixelSpan(rect.y() / kTwipsPerPixel, rect.height() / kTwipsPerPixel);
    const QImage piece =
        ComposePicture(opaque(picture.image, color), picture.extent, QSize(sx.end - sx.first, sy.end - sy.first), code);
    if (piece.size() == canvasSize)
        return piece; // stretched, or fitted without a band
    checkPictureSize(canvasSize.width(), canvasSize.height());
    QImage canvas = newImage(canvasSize.width(), canvasSize.height());
    canvas.fill(resolveColorValue(color));
    drawScaled(canvas, QRectF(sx.first, sy.first, piece.width(), piece.height()), piece, QRectF(piece.rect()));
    return canvas;
}

} // namespace kestrovia
