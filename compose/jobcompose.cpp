#include "compose/jobcompose.h"

#include "compose/imagebuffer.h"
#include "compose/picturedecoder.h"
#include "compose/raster.h"
#include "compose/resample.h"
#include "compose/surface.h"
#include "platform/failure.h"
#include "platform/numbers.h"

#include <QRectF>

#include <algorithm>
#include <cmath>

namespace kestrovia {

namespace {

QString tr(const char *text) { return QString::fromUtf8(text); }

bool isQuarterTurn(std::int16_t code) { return code == 90 || code == 270; }

} // namespace

std::int16_t rotationCode(QStringView rotationText)
{
    if (rotationText == u"+90°")
        return 90;
    if (rotationText == u"-90°")
        return 270;
    if (rotationText == u"+180°")
        return 180;
    return 0;
}

std::optional<QSize> canvasPixelSize(QStringView sizeText)
{
    const qsizetype star = sizeText.indexOf(u'*');
    if (star < 0)
        return std::nullopt;
    const auto side = [&](QStringView text, const char *which) -> std::int32_t {
        const auto value = parseDecimal(text);
        if (!value)
            throw Failure(tr("新しいサイズ「%1」の%2が数値ではありません").arg(sizeText, tr(which)));
        const auto rounded = roundToInt32(*value);
        if (!rounded)
            throw Failure(tr("新しいサイズ「%1」が大きすぎます").arg(sizeText));
        if (*rounded < 0)
            throw Failure(tr("新しいサイズ「%1」に負の値は使えません").arg(sizeText));
        return *rounded;
    };
    const std::int32_t w = side(sizeText.left(star), "幅");
    const std::int32_t h = side(sizeText.mid(star + 1), "高さ");
    if (w == 0 || h == 0)
        return std::nullopt;
    try {
        checkPictureSize(w, h);
    } catch (const Failure &f) {
        throw Failure(tr("新しいサイズ「%1」は出力できません: %2").arg(sizeText, f.message()));
    }
    return QSize(w, h);
}

void loadJobSource(JobSurfaces surfaces, const JobSettings &job, TwipsPerPixel tpp, bool applyTurn)
{
    surfaces.canvas.empty();
    surfaces.source.setAutoSize(true);
    surfaces.source.empty();

    // The smallest picture that still gives every drawn pixel its own source
    // detail: the size the picture will be drawn at on the canvas (the fitted
    // rectangle, or the whole canvas when stretched), seen from the unturned
    // picture. A bad size text is reported by composeJob; here it only means
    // "decode in full".
    std::optional<QSize> canvas;
    try {
        canvas = canvasPixelSize(job.newSize);
    } catch (const Failure &) {
        canvas.reset();
    }
    const bool quarter = applyTurn && isQuarterTurn(rotationCode(job.rotation));
    const bool keepAspect = job.fit == u"OFF";
    const auto need = [=](QSize picture) -> QSize {
        if (!canvas)
            return QSize();
        QSize drawn = *canvas;
        if (keepAspect) {
            const QSize turned = quarter ? picture.transposed() : picture;
            std::int32_t w = turned.width() * tpp.x, h = turned.height() * tpp.y;
            FitAspectSize(w, h, canvas->width() * tpp.x, canvas->height() * tpp.y);
            drawn = QSize(std::max(1, (w + tpp.x - 1) / tpp.x), std::max(1, (h + tpp.y - 1) / tpp.y));
        }
        return quarter ? drawn.transposed() : drawn;
    };
    surfaces.source.loadPicture(job.path, need);
}

void composeJob(JobSurfaces surfaces, const JobSettings &job, TwipsPerPixel tpp, Surface &target,
                bool applyTurn)
{
    Surface &source = surfaces.source;
    const QSize picture = source.pixelSize();
    if (picture.isEmpty())
        throw Failure(tr("画像が読み込まれていません"));

    // Canvas: the new size, or the picture's own (unturned) size without one.
    const QSize canvas = canvasPixelSize(job.newSize).value_or(picture);
    const int cw = canvas.width() * tpp.x;
    const int ch = canvas.height() * tpp.y;

    const bool keepAspect = job.fit == u"OFF";
    const auto color = textToInt32(job.backColor);
    if (!color)
        throw Failure(tr("背景色「%1」が数値ではありません").arg(job.backColor));
    // Texts outside the tables fall back to top-left and no turn, so nothing of
    // the previous job leaks into this one.
    const bool centred = job.position == u"Center";
    const std::int16_t code = applyTurn ? rotationCode(job.rotation) : 0;

    target.setScaleMode(ScaleMode::Twips);
    target.resize(cw, ch);

    QSize turned = picture;
    if (applyTurn && isQuarterTurn(code))
        turned.transpose();

    // Where the turned picture goes, in the target's twips.
    QRectF rect(0, 0, cw, ch);
    if (keepAspect) {
        target.setBackColor(*color);
        std::int32_t w = turned.width() * tpp.x;
        std::int32_t h = turned.height() * tpp.y;
        FitAspectSize(w, h, cw, ch);
        const auto place = [centred](std::int32_t &pos, std::int32_t &size, int total, int unit) {
            if (size < unit) {
                // A side that rounds to nothing (a 1 x 4000 picture in a wide box):
                // the whole picture squeezed into a sliver one pixel across, on whole
                // pixels so that the edge rounding cannot lose it.
                size = unit;
                pos = centred ? static_cast<std::int32_t>(std::lrint((total - unit) / 2.0 / unit)) * unit : 0;
            } else {
                pos = centred ? roundToInt32((total - double(size)) / 2).value_or(0) : 0;
            }
        };
        std::int32_t x = 0, y = 0;
        place(x, w, cw, tpp.x);
        place(y, h, ch, tpp.y);
        rect = QRectF(x, y, w, h);
    }

    // The turn, one to one into the turn surface sized for the turned picture.
    const Surface *drawing = &source;
    if (applyTurn) {
        Surface &work = surfaces.turned;
        work.setScaleMode(ScaleMode::Twips);
        work.empty();
        work.resize(turned.width() * work.twipsPerPixel().x, turned.height() * work.twipsPerPixel().y);
        // A turn moves every pixel. When the picture is drawn smaller, it is first
        // scaled to the pixels it will cover, unturned, so only those are turned and
        // the drawing below is a plain copy; the filter is separable, so the result
        // is the one of scaling the turned picture.
        const TwipsPerPixel ttp = target.twipsPerPixel();
        const PixelSpan sx = pixelSpan(rect.x() / ttp.x, rect.width() / ttp.x);
        const PixelSpan sy = pixelSpan(rect.y() / ttp.y, rect.height() / ttp.y);
        QSize covered(sx.end - sx.first, sy.end - sy.first);
        if (isQuarterTurn(code))
            covered.transpose();
        Surface scaled(source.twipsPerPixel());
        const Surface *from = &source;
        if (code != 0 && !covered.isEmpty() && covered.width() <= picture.width()
            && covered.height() <= picture.height() && covered != picture) {
            QImage small = newImage(covered.width(), covered.height());
            drawScaled(small, QRectF(small.rect()), source.image(),
                       source.toImage(QRectF(QPointF(0, 0), QSizeF(picture))));
            scaled.resize(source.width(), source.height());
            scaled.setBackingImage(small);
            from = &scaled;
        }
        ComposePicture(*from, work, float(picture.width()), float(picture.height()), float(turned.width()),
                       float(turned.height()), code);
        drawing = &work;
    }
    target.paintPicture(*drawing, rect, QRectF(0, 0, drawing->scaleWidth(), drawing->scaleHeight()));
    target.refresh();
}

void composeJobToCanvas(JobSurfaces surfaces, const JobSettings &job, TwipsPerPixel tpp)
{
    loadJobSource(surfaces, job, tpp);
    composeJob(surfaces, job, tpp, surfaces.canvas, true);
}

} // namespace kestrovia
