#include "compose/jobcompose.h"

#include "compose/imagebuffer.h"
#include "compose/memorybudget.h"
#include "compose/raster.h"
#include "compose/resample.h"
#include "compose/rowreaders.h"
#include "compose/turn.h"
#include "platform/failure.h"
#include "platform/japanese.h"
#include "platform/numbers.h"
#include "platform/stop.h"
#include "platform/syscolor.h"
#include "platform/units.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    const QImage straight =
        image.format() == QImage::Format_ARGB32 ? image : image.convertToFormat(QImage::Format_ARGB32);
    const QRgb background = resolveColorValue(color).rgb();
    for (int y = 0; y < out.height(); ++y) {
        auto *d = reinterpret_cast<std::uint32_t *>(out.scanLine(y));
        std::memcpy(d, straight.constScanLine(y), size_t(out.width()) * 4);
        flattenRow(d, out.width(), background);
    }
    return out;
}

// A picture with straight alpha as two opaque pictures that the scaling and the
// turn treat alike: its colour premultiplied by alpha, and its alpha as grey.
// Filtering premultiplied colour keeps the colour of a transparent pixel (often
// black or garbage) from bleeding into its visible neighbours.
std::pair<QImage, QImage> splitAlpha(const QImage &image)
{
    const QImage straight =
        image.format() == QImage::Format_ARGB32 ? image : image.convertToFormat(QImage::Format_ARGB32);
    QImage colour = newImage(image.width(), image.height());
    QImage alpha = newImage(image.width(), image.height());
    for (int y = 0; y < image.height(); ++y) {
        const auto *s = reinterpret_cast<const std::uint32_t *>(straight.constScanLine(y));
        auto *c = reinterpret_cast<std::uint32_t *>(colour.scanLine(y));
        auto *a = reinterpret_cast<std::uint32_t *>(alpha.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const std::uint32_t v = s[x], k = v >> 24;
            const auto times = [k](std::uint32_t ch) { return (ch * k + 127) / 255; };
            c[x] = 0xFF000000u | (times((v >> 16) & 0xFF) << 16) | (times((v >> 8) & 0xFF) << 8) | times(v & 0xFF);
            a[x] = 0xFF000000u | (k << 16) | (k << 8) | k;
        }
    }
    return {colour, alpha};
}

// One pixel back from premultiplied colour and alpha to straight alpha. The
// filter's lobes may leave a channel above its alpha: it is clamped, not wrapped.
std::uint32_t straightPixel(std::uint32_t colour, std::uint32_t a)
{
    if (a == 0)
        return 0;
    const auto divide = [a](std::uint32_t ch) { return std::min<std::uint32_t>(255, (ch * 255 + a / 2) / a); };
    return (a << 24) | (divide((colour >> 16) & 0xFF) << 16) | (divide((colour >> 8) & 0xFF) << 8)
           | divide(colour & 0xFF);
}

// Where the turned picture goes on a canvas of cw x ch twips.
QRectF placement(const Job &job, QSize turned, int cw, int ch)
{
    if (!job.keepAspect)
        return QRectF(0, 0, cw, ch);
    std::int32_t w = turned.width() * kTwipsPerPixel;
    std::int32_t h = turned.height() * kTwipsPerPixel;
    FitAspectSize(w, h, cw, ch);
    const bool centred = job.centred;
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

struct CanvasPlace {
    QSize canvas;
    std::int16_t code; // the turn drawn
    PixelSpan sx, sy; // the canvas pixels the picture covers
};

CanvasPlace canvasPlace(const Job &job, QSize picture, bool applyTurn)
{
    CanvasPlace p;
    p.canvas = job.canvas.value_or(picture);
    // Texts outside the tables give top-left and no turn, so nothing of the previous
    // job leaks into this one.
    p.code = applyTurn ? job.rotation : 0;
    const QSize turned = isQuarterTurn(p.code) ? picture.transposed() : picture;
    const QRectF rect = placement(job, turned, p.canvas.width() * kTwipsPerPixel, p.canvas.height() * kTwipsPerPixel);
    // Each edge rounded to the nearest pixel boundary.
    p.sx = pixelSpan(rect.x() / kTwipsPerPixel, rect.width() / kTwipsPerPixel);
    p.sy = pixelSpan(rect.y() / kTwipsPerPixel, rect.height() / kTwipsPerPixel);
    return p;
}

// The canvas with the scaled and turned picture (piece, the size of the place's
// span) in its place. The band around a fitted picture takes the background
// colour, or stays transparent when the job keeps alpha; alpha, when given, is
// the piece's alpha as grey, its colour then premultiplied (splitAlpha). The
// result is Format_ARGB32 (straight alpha) when the job keeps alpha and the
// picture has some or leaves a band; Format_RGB32 otherwise.
QImage onCanvas(const Job &job, const CanvasPlace &place, const QImage &piece, const QImage *alpha)
{
    const QSize canvasSize = place.canvas;
    if (piece.size() == canvasSize && !alpha)
        return piece; // stretched, or fitted without a band
    checkPictureSize(canvasSize.width(), canvasSize.height());
    QImage canvas = newImage(canvasSize.width(), canvasSize.height());
    if (!job.keepsAlpha()) {
        canvas.fill(resolveColorValue(job.backColor).rgb());
        drawScaled(canvas, QRectF(place.sx.first, place.sy.first, piece.width(), piece.height()), piece,
                   QRectF(piece.rect()));
        return canvas;
    }
    canvas.reinterpretAsFormat(QImage::Format_ARGB32);
    canvas.fill(0);
    // The piece has the span's size: it is copied one to one, clipped to the canvas.
    const int x0 = std::max(place.sx.first, 0), x1 = std::min(place.sx.first + piece.width(), canvasSize.width());
    const int y0 = std::max(place.sy.first, 0), y1 = std::min(place.sy.first + piece.height(), canvasSize.height());
    for (int y = y0; y < y1; ++y) {
        const auto *c = reinterpret_cast<const std::uint32_t *>(piece.constScanLine(y - place.sy.first));
        const auto *a =
            alpha ? reinterpret_cast<const std::uint32_t *>(alpha->constScanLine(y - place.sy.first)) : nullptr;
        auto *d = reinterpret_cast<std::uint32_t *>(canvas.scanLine(y));
        for (int x = x0; x < x1; ++x) {
            const int i = x - place.sx.first;
            d[x] = a ? straightPixel(c[i], a[i] & 0xFF) : (c[i] | 0xFF000000u);
        }
    }
    return canvas;
}

} // namespace

QSize drawnSize(const Job &job, QSize upright, bool applyTurn)
{
    const QSize canvas = job.canvas.value_or(upright);
    const bool quarter = applyTurn && isQuarterTurn(job.rotation);
    const QSize turned = quarter ? upright.transposed() : upright;
    const QRectF r = placement(job, turned, canvas.width() * kTwipsPerPixel, canvas.height() * kTwipsPerPixel);
    const QSize drawn(int(std::ceil(r.width() / kTwipsPerPixel)), int(std::ceil(r.height() / kTwipsPerPixel)));
    return quarter ? drawn.transposed() : drawn;
}

namespace {

NeedFunction jobNeed(const Job &job, bool applyTurn, const std::function<void(QSize picture)> &beforeDecode)
{
    // The smallest picture that still gives every drawn pixel its own source
    // detail. Without a new size the picture is drawn at its own size: in full.
    return [job, beforeDecode, applyTurn](QSize picture) -> QSize {
        if (beforeDecode)
            beforeDecode(picture);
        return job.canvas ? drawnSize(job, picture, applyTurn) : QSize();
    };
}

// Rows a and b, `sourceWidth` samples each, averaged 2 x 2 into `width` samples,
// rounded as a 4:2:0 encoder rounds. A plane of an odd width (a reduced decode's)
// has no right neighbour for its last sample: that one pairs with itself.
void averagePairs(const std::uint8_t *a, const std::uint8_t *b, int sourceWidth, std::uint8_t *to, int width)
{
    int x = 0;
#if defined(__SSE2__)
    // Eight outputs from 16 samples of each row: the rows added as 16-bit lanes,
    // then neighbouring lanes added by a multiply-add with ones.
    const __m128i zero = _mm_setzero_si128();
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i two = _mm_set1_epi32(2);
    for (; x + 8 <= width && 2 * x + 16 <= sourceWidth; x += 8) {
        const __m128i ra = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + 2 * x));
        const __m128i rb = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + 2 * x));
        const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(ra, zero), _mm_unpacklo_epi8(rb, zero));
        const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(ra, zero), _mm_unpackhi_epi8(rb, zero));
        const __m128i s0 = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(lo, ones), two), 2);
        const __m128i s1 = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(hi, ones), two), 2);
        const __m128i packed = _mm_packs_epi32(s0, s1);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(to + x), _mm_packus_epi16(packed, packed));
    }
#endif
    for (; x < width; ++x) {
        const int x0 = 2 * x, x1 = std::min(2 * x + 1, sourceWidth - 1);
        to[x] = std::uint8_t((a[x0] + a[x1] + b[x0] + b[x1] + 2) >> 2);
    }
}

} // namespace

DecodedPicture loadJobSource(const Job &job, bool applyTurn, const std::function<void(QSize picture)> &beforeDecode)
{
    return decodePicture(job.path, jobNeed(job, applyTurn, beforeDecode));
}

DecodedPicture decodeJobSource(const Job &job, const QByteArray &data, bool applyTurn,
                               const std::function<void(QSize picture)> &beforeDecode)
{
    return decodePictureData(data, jobNeed(job, applyTurn, beforeDecode));
}

DecodedPicture decodeJobSource(const Job &job, const PictureSource &source, bool applyTurn,
                               const std::function<void(QSize picture)> &beforeDecode)
{
    return decodePictureSource(source, jobNeed(job, applyTurn, beforeDecode));
}

std::optional<JpegPlanes> composeJobPlanes(const Job &job, const QByteArray &data, bool halfChroma,
                                           const std::function<void(QSize picture)> &beforeDecode)
{
    return composeJobPlanes(job, PictureSource::memory(data), halfChroma, beforeDecode);
}

std::optional<JpegPlanes> composeJobPlanes(const Job &job, const PictureSource &source, bool halfChroma,
                                           const std::function<void(QSize picture)> &beforeDecode)
{
    if (job.rotation != 0)
        return std::nullopt;
    const std::unique_ptr<PlaneReader> reader = openPlaneReader(source);
    if (!reader)
        return std::nullopt;
    const QSize size = reader->stored;
    const QSize canvas = job.canvas.value_or(size);
    const QRectF whole(0, 0, canvas.width() * kTwipsPerPixel, canvas.height() * kTwipsPerPixel);
    if (placement(job, size, int(whole.width()), int(whole.height())) != whole
        || (halfChroma && (canvas.width() % 2 || canvas.height() % 2)))
        return std::nullopt;
    checkPictureSize(canvas.width(), canvas.height());
    reader->start(jobNeed(job, true, beforeDecode));

    JpegPlanes out;
    out.size = canvas;
    const QSize chroma = halfChroma ? canvas / 2 : canvas;
    const QSize sizes[3] = {canvas, chroma, chroma};
    // Chroma stored at full size (4:4:4) and drawn at a quarter of that or less is
    // averaged 2 x 2 as it comes, as a 4:2:0 encoder averages it: the filter then
    // weighs a quarter of the samples, and the picture gets the chroma the same
    // photo stored 4:2:0 would give.
    const bool paired = halfChroma && reader->planes[1] == reader->planes[0] && reader->rowsPerChunk[1] % 2 == 0
                        && reader->chromaExtent.width() >= 4 * chroma.width()
                        && reader->chromaExtent.height() >= 4 * chroma.height();
    // Halved by integer division: QSize's own division rounds, which made one pair
    // more than the rows hold.
    const QSize chromaSource =
        paired ? QSize((reader->planes[1].width() + 1) / 2, (reader->planes[1].height() + 1) / 2) : reader->planes[1];
    const QSize sources[3] = {reader->planes[0], chromaSource, chromaSource};
    const QRectF chromaExtent = paired
                                    ? QRectF(0, 0, reader->chromaExtent.width() / 2, reader->chromaExtent.height() / 2)
                                    : reader->chromaExtent;
    const QRectF extents[3] = {reader->lumaExtent, chromaExtent, chromaExtent};
    QImage *planes[3] = {&out.y, &out.cb, &out.cr};
    qint64 bytes = reader->memory;
    for (int c = 0; c < 3; ++c) {
        const double scaleY = extents[c].height() / std::max(1, sizes[c].height());
        bytes += qint64(sizes[c].width()) * sizes[c].height() + scaledRowsMemory(sources[c], 1, sizes[c], scaleY);
    }
    const MemoryReservation memory(bytes, size.width(), size.height());
    // Each plane filtered at its own size, straight from the decoded rows.
    std::unique_ptr<RowScaler> scalers[3];
    const int chunks[3] = {reader->rowsPerChunk[0], reader->rowsPerChunk[1] / (paired ? 2 : 1),
                           reader->rowsPerChunk[2] / (paired ? 2 : 1)};
    for (int c = 0; c < 3; ++c) {
        *planes[c] = newPlane(sizes[c].width(), sizes[c].height());
        scalers[c] =
            std::make_unique<RowScaler>(*planes[c], QRectF(planes[c]->rect()), sources[c], extents[c], 1, chunks[c]);
    }
    // Planes of whole blocks of 2 or more pixels (the rows come in pairs) have an
    // even width.
    const int fullWidth = reader->planes[1].width();
    std::vector<std::uint8_t> pairRows[2];
    std::vector<std::uint8_t *> pairPtrs[2];
    if (paired)
        for (int c = 0; c < 2; ++c) {
            pairRows[c].resize(size_t(fullWidth) * size_t(reader->rowsPerChunk[1]));
            for (int i = 0; i < reader->rowsPerChunk[1]; ++i)
                pairPtrs[c].push_back(pairRows[c].data() + size_t(i) * size_t(fullWidth));
        }
    while (reader->more()) {
        std::uint8_t *const *rows[3];
        for (int c = 0; c < 3; ++c)
            rows[c] = paired && c > 0 ? pairPtrs[c - 1].data() : scalers[c]->take(chunks[c]);
        reader->read(rows);
        if (paired)
            for (int c = 1; c < 3; ++c) {
                std::uint8_t *const *to = scalers[c]->take(chunks[c]);
                for (int i = 0; i < chunks[c]; ++i)
                    averagePairs(rows[c][2 * i], rows[c][2 * i + 1], fullWidth, to[i], chromaSource.width());
            }
        for (int c = 0; c < 3; ++c)
            scalers[c]->put(chunks[c]);
    }
    reader->finish();
    out.lumaExtent = QRectF(out.y.rect());
    out.chromaExtent = QRectF(out.cb.rect());
    out.blocks = reader->blocks;
    out.iccProfile = rgbOnly(reader->blocks.icc);
    return out;
}

namespace {

// The picture drawn into target pixels from its rows as they come, turned by the
// EXIF orientation and then the job's turn: ComposePicture's steps, scaled first in
// the stored orientation. nullopt when the picture is drawn larger than it is and
// turned, which ComposePicture turns first.
std::optional<QImage> scaledFromRows(RowReader &r, QSize target, std::int16_t code, QRgb background)
{
    const bool quarter = code == 90 || code == 270;
    const QSize unturned = quarter ? target.transposed() : target;
    const QRectF extent = orientRect(r.extent, r.size, r.orientation);
    const bool smaller = unturned.width() <= extent.width() && unturned.height() <= extent.height();
    if (!smaller && (code != 0 || r.orientation != 1))
        return std::nullopt;
    const QSize storedTarget = r.orientation >= 5 ? unturned.transposed() : unturned;
    const double scaleY = r.extent.height() / std::max(1, storedTarget.height());
    const QSize up = r.upright();
    const MemoryReservation memory(r.memory + scaledRowsMemory(r.size, 4, storedTarget, scaleY)
                                       + qint64(storedTarget.width()) * storedTarget.height() * 4 * 2,
                                   up.width(), up.height());
    QImage scaled = newImage(storedTarget.width(), storedTarget.height());
    RowScaler scaler(scaled, QRectF(scaled.rect()), r.size, r.extent, 4, r.chunk);
    while (scaler.wantsMore()) {
        const int n = std::min(r.chunk, r.size.height() - scaler.nextRow());
        std::uint8_t *const *rows = scaler.take(n);
        r.read(rows, n);
        if (r.alpha)
            for (int i = 0; i < n; ++i)
                flattenRow(reinterpret_cast<std::uint32_t *>(rows[i]), r.size.width(), background);
        scaler.put(n);
    }
    r.finish();
    return turnImage(orientImage(scaled, r.orientation), code);
}

} // namespace

ComposedJob composeJobFile(const Job &job, bool applyTurn, const std::function<void(QSize picture)> &beforeDecode,
                           PlaneRoute planes)
{
    try {
        const PictureSource source = PictureSource::open(job.path);
        if (planes != PlaneRoute::None && applyTurn) {
            ComposedJob out;
            out.planes = composeJobPlanes(job, source, planes == PlaneRoute::HalfChroma, beforeDecode);
            if (out.planes) {
                out.pictureSize = out.planes->size;
                out.iccProfile = out.planes->iccProfile;
                out.blocks = out.planes->blocks;
                return out;
            }
        }
        return composeJobSource(job, source, applyTurn, beforeDecode);
    } catch (const Failure &f) {
        throw unreadablePicture(job.path, f);
    }
}

ComposedJob composeJobSource(const Job &job, const PictureSource &source, bool applyTurn,
                             const std::function<void(QSize picture)> &beforeDecode)
{
    const PictureFormat format = sniffPictureFormat(source.head());
    const NeedFunction need = jobNeed(job, applyTurn, beforeDecode);
    std::unique_ptr<RowReader> reader;
    if (format != PictureFormat::Unknown)
        reader = openRowReader(source, format, need);
    ComposedJob out;
    if (!reader) {
        // Read whole: GIF, the file reserved before it is read; and the refusals
        // of unknown content, from its first bytes.
        const DecodedPicture picture = decodePictureSource(source, need);
        out.canvas = composeJob(job, picture, applyTurn);
        out.pictureSize = picture.size;
        out.iccProfile = picture.iccProfile;
        out.blocks = picture.blocks;
        return out;
    }
    out.pictureSize = reader->upright();
    out.blocks = reader->blocks;
    out.iccProfile = reader->rgbProfile ? rgbOnly(reader->blocks.icc) : QByteArray();

    // composeJob's placement, on the picture's real size.
    const CanvasPlace place = canvasPlace(job, out.pictureSize, applyTurn);
    const std::int32_t color = job.backColor;
    const std::int16_t code = place.code;
    const PixelSpan sx = place.sx, sy = place.sy;
    const QSize target(sx.end - sx.first, sy.end - sy.first);
    checkPictureSize(target.width(), target.height());
    // Transparency that is kept is scaled premultiplied, beside the colour: the
    // whole picture's route does that.
    const bool keptAlpha = reader->alpha && job.keepsAlpha();
    std::optional<QImage> piece;
    if (!target.isEmpty() && !keptAlpha)
        piece = scaledFromRows(*reader, target, code, resolveColorValue(color).rgb());
    if (!piece) {
        // Drawn larger and turned, or with its alpha kept: the whole picture,
        // turned first; a kept alpha is not laid on the background.
        MemoryReservation split;
        if (keptAlpha) {
            // Kept alpha takes two more pictures of this size (splitAlpha).
            split = MemoryReservation(qint64(reader->size.width()) * reader->size.height() * 8,
                                      out.pictureSize.width(), out.pictureSize.height());
        }
        const HeldPicture held = readAllRows(
            *reader, keptAlpha ? std::nullopt : std::optional<QRgb>(resolveColorValue(color).rgb()));
        out.canvas = composeJob(job, held.picture, applyTurn);
        return out;
    }
    out.canvas = onCanvas(job, place, *piece, nullptr);
    return out;
}

QImage composeJob(const Job &job, const DecodedPicture &picture, bool applyTurn)
{
    if (picture.size.isEmpty() || picture.image.isNull())
        throw Failure(ja("画像が読み込まれていません"));
    const CanvasPlace place = canvasPlace(job, picture.size, applyTurn);
    const QSize target(place.sx.end - place.sx.first, place.sy.end - place.sy.first);
    if (job.keepsAlpha() && picture.image.hasAlphaChannel()) {
        const auto [colour, alpha] = splitAlpha(picture.image);
        const QImage piece = ComposePicture(colour, picture.extent, target, place.code);
        const QImage pieceAlpha = ComposePicture(alpha, picture.extent, target, place.code);
        return onCanvas(job, place, piece, &pieceAlpha);
    }
    return onCanvas(job, place,
                    ComposePicture(opaque(picture.image, job.backColor), picture.extent, target, place.code), nullptr);
}

} // namespace kestrovia
