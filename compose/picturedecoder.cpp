#include "compose/picturedecoder.h"

#include "compose/formatdecoders.h"
#include "compose/imagebuffer.h"
#include "compose/memorybudget.h"
#include "compose/pictureformat.h"
#include "compose/rowsplit.h"
#include "compose/rowreaders.h"
#include "compose/sourcefile.h"
#include "compose/turn.h"
#include "platform/failure.h"
#include "platform/japanese.h"
#include "platform/stop.h"

#include <QTransform>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kestrovia {

namespace {

[[noreturn]] void fail(const QString &reason) { throw Failure(reason); }

} // namespace

QImage orientImage(const QImage &img, int orientation)
{
    if (img.hasAlphaChannel()) {
        // Qt's own transforms keep the alpha channel and move quarter turns exactly.
        const auto turn = [](const QImage &i, int degrees) { return i.transformed(QTransform().rotate(degrees)); };
        switch (orientation) {
        case 2: return img.mirrored(true, false);
        case 3: return turn(img, 180);
        case 4: return img.mirrored(false, true);
        case 5: return turn(img.mirrored(true, false), 270);
        case 6: return turn(img, 90);
        case 7: return turn(img.mirrored(true, false), 90);
        case 8: return turn(img, 270);
        default: return img;
        }
    }
    switch (orientation) {
    case 2: return mirrorImage(img, true, false);
    case 3: return turnImage(img, 180);
    case 4: return mirrorImage(img, false, true);
    case 5: return turnImage(mirrorImage(img, true, false), 270); // transpose
    case 6: return turnImage(img, 90);
    case 7: return turnImage(mirrorImage(img, true, false), 90); // transverse
    case 8: return turnImage(img, 270);
    default: return img;
    }
}

QRectF orientRect(const QRectF &r, QSize size, int orientation)
{
    switch (orientation) {
    case 2: return mirrorRect(r, size, true, false);
    case 3: return turnRect(r, size, 180);
    case 4: return mirrorRect(r, size, false, true);
    case 5: return turnRect(mirrorRect(r, size, true, false), size, 270);
    case 6: return turnRect(r, size, 90);
    case 7: return turnRect(mirrorRect(r, size, true, false), size, 90);
    case 8: return turnRect(r, size, 270);
    default: return r;
    }
}

namespace {

QImage allocate(int w, int h)
{
    QImage img = newImage(w, h);
    if (img.isNull())
        fail(ja("画像を展開するメモリが足りません（%1 × %2 ピクセル）").arg(w).arg(h));
    return img;
}

} // namespace

HeldPicture readAllRows(RowReader &r, std::optional<QRgb> background)
{
    const QSize up = r.upright();
    HeldPicture held;
    held.memory = MemoryReservation(
        r.memory + qint64(r.size.width()) * r.size.height() * 4 * (r.orientation > 1 ? 2 : 1), up.width(), up.height());
    QImage img = allocate(r.size.width(), r.size.height());
    std::vector<std::uint8_t *> rows(size_t(r.chunk));
    for (int y = 0; y < r.size.height();) {
        const int n = std::min(r.chunk, r.size.height() - y);
        for (int i = 0; i < n; ++i)
            rows[size_t(i)] = img.scanLine(y + i);
        r.read(rows.data(), n);
        if (r.alpha && background)
            for (int i = 0; i < n; ++i)
                flattenRow(reinterpret_cast<std::uint32_t *>(rows[size_t(i)]), img.width(), *background);
        y += n;
        checkPoint();
    }
    r.finish();
    if (r.alpha && !background) {
        // A picture stored with an alpha channel that is opaque everywhere counts
        // as opaque.
        img.reinterpretAsFormat(QImage::Format_ARGB32);
        bool transparent = false;
        for (int y = 0; y < img.height() && !transparent; ++y) {
            const auto *p = reinterpret_cast<const std::uint32_t *>(img.constScanLine(y));
            transparent = std::any_of(p, p + img.width(), [](std::uint32_t v) { return v < 0xFF000000u; });
        }
        if (!transparent)
            img.reinterpretAsFormat(QImage::Format_RGB32);
    }
    DecodedPicture &out = held.picture;
    out.image = orientImage(img, r.orientation);
    out.size = up;
    out.extent = orientRect(r.extent, r.size, r.orientation);
    out.blocks = r.blocks;
    out.iccProfile = r.rgbProfile ? rgbOnly(r.blocks.icc) : QByteArray();
    return held;
}

namespace {

QString unknownFormat()
{
    return ja("対応していない形式のため読み込めません（JPEG、BMP、PNG、TIFF、WebP、GIF、HEIC のいずれでもありません）");
}

DecodedPicture decodeSource(const PictureSource &source, const NeedFunction &need)
{
    if (source.size() == 0)
        fail(ja("画像ファイルが空です（0 バイト）"));
    // The content decides, never the name: a PNG saved as photo.jpg is a PNG.
    const PictureFormat format = sniffPictureFormat(source.head());
    if (format == PictureFormat::Unknown)
        fail(unknownFormat());
    if (const std::unique_ptr<RowReader> reader = openRowReader(source, format, need))
        return readAllRows(*reader).picture;

    // GIF decodes whole, its first frame's bytes and the picture reserved first.
    MemoryReservation memory;
    FormatPicture p = decodeGif(source, memory, [&](QSize size) {
        // Qt's picture, its conversion and ours.
        memory.grow(qint64(size.width()) * size.height() * 12, size.width(), size.height());
        if (need)
            need(size);
    });
    DecodedPicture out;
    out.size = p.image.size();
    out.extent = QRectF(p.image.rect());
    out.image = std::move(p.image);
    out.iccProfile = rgbOnly(p.iccProfile);
    out.blocks = p.blocks;
    return out;
}

NeedFunction fixedNeed(QSize reduceTo)
{
    return [reduceTo](QSize) { return reduceTo; };
}

} // namespace

std::optional<QSize> plainJpegSize(const PictureSource &source)
{
    try {
        const auto reader = openPlaneReader(source);
        if (reader)
            return reader->stored;
    } catch (const Failure &) {
    }
    return std::nullopt;
}

QImage rgbOfJpegPlanes(const QImage &y, const QImage &cb, const QImage &cr)
{
    const int w = y.width(), h = y.height();
    const bool full = cb.size() == y.size() && cr.size() == y.size();
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    if (!full && (cb.width() < cw || cb.height() < ch || cr.width() < cw || cr.height() < ch))
        throw Failure(ja("画像の色の並びに対応していません"));
    constexpr int kHalf = 1 << 15;
    const auto clamp = [](int v) { return std::clamp(v, 0, 255); };
    QImage rgb = newImage(w, h);
    const auto put = [&](QRgb *to, int x, int luma, int b, int r) {
        b -= 128;
        r -= 128;
        to[x] = qRgb(clamp(luma + ((91881 * r + kHalf) >> 16)), clamp(luma + ((-22554 * b - 46802 * r + kHalf) >> 16)),
                     clamp(luma + ((116130 * b + kHalf) >> 16)));
    };
    splitRows(h, 6.0 * w * h, [&](int first, int end) {
        // For 4:2:0: each output row's chroma, 3 x the nearer chroma row + the next
        // one (above for an even row, below for an odd one), per chroma column.
        std::vector<int> sumB(full ? 0 : size_t(cw)), sumR(full ? 0 : size_t(cw));
        for (int row = first; row < end; ++row) {
            const uchar *luma = y.constScanLine(row);
            auto *to = reinterpret_cast<QRgb *>(rgb.scanLine(row));
            if (full) {
                const uchar *b = cb.constScanLine(row), *r = cr.constScanLine(row);
                for (int x = 0; x < w; ++x)
                    put(to, x, luma[x], b[x], r[x]);
                continue;
            }
            const int near = row / 2, next = std::clamp(row % 2 ? near + 1 : near - 1, 0, ch - 1);
            const uchar *b0 = cb.constScanLine(near), *b1 = cb.constScanLine(next);
            const uchar *r0 = cr.constScanLine(near), *r1 = cr.constScanLine(next);
            for (int j = 0; j < cw; ++j) {
                sumB[size_t(j)] = 3 * b0[j] + b1[j];
                sumR[size_t(j)] = 3 * r0[j] + r1[j];
            }
            for (int x = 0; x < w; ++x) {
                const int j = x / 2;
                // The left sample rounds up, the right one down, as libjpeg's does.
                const int other = x % 2 ? std::min(j + 1, cw - 1) : std::max(j - 1, 0), bias = x % 2 ? 7 : 8;
                put(to, x, luma[x], (3 * sumB[size_t(j)] + sumB[size_t(other)] + bias) >> 4,
                    (3 * sumR[size_t(j)] + sumR[size_t(other)] + bias) >> 4);
            }
        }
    });
    return rgb;
}

std::optional<JpegPlanes> decodeJpegPlanes(const QByteArray &data, const NeedFunction &need)
{
    const auto reader = openPlaneReader(PictureSource::memory(data));
    if (!reader)
        return std::nullopt;
    reader->start(need);
    const MemoryReservation memory(reader->memory + qint64(reader->planes[0].width()) * reader->planes[0].height() * 3,
                                   reader->stored.width(), reader->stored.height());
    JpegPlanes out;
    out.size = reader->stored;
    QImage *planes[3] = {&out.y, &out.cb, &out.cr};
    for (int c = 0; c < 3; ++c)
        *planes[c] = newPlane(reader->planes[c].width(), reader->planes[c].height());
    std::vector<std::uint8_t *> rows[3];
    int at[3] = {};
    while (reader->more()) {
        std::uint8_t *const *ptrs[3];
        for (int c = 0; c < 3; ++c) {
            rows[c].resize(size_t(reader->rowsPerChunk[c]));
            for (int i = 0; i < reader->rowsPerChunk[c]; ++i)
                rows[c][size_t(i)] = planes[c]->scanLine(at[c] + i);
            ptrs[c] = rows[c].data();
            at[c] += reader->rowsPerChunk[c];
        }
        reader->read(ptrs);
        checkPoint();
    }
    reader->finish();
    // Only the picture's own pixels; libjpeg writes whole blocks.
    const QSize luma(int(std::ceil(reader->lumaExtent.width())), int(std::ceil(reader->lumaExtent.height())));
    const QSize chroma(int(std::ceil(reader->chromaExtent.width())), int(std::ceil(reader->chromaExtent.height())));
    out.y = out.y.copy(QRect(QPoint(0, 0), luma));
    out.cb = out.cb.copy(QRect(QPoint(0, 0), chroma));
    out.cr = out.cr.copy(QRect(QPoint(0, 0), chroma));
    out.lumaExtent = reader->lumaExtent;
    out.chromaExtent = reader->chromaExtent;
    out.blocks = reader->blocks;
    out.iccProfile = rgbOnly(reader->blocks.icc);
    return out;
}

DecodedPicture decodePictureData(const QByteArray &data, QSize reduceTo)
{
    return decodePictureData(data, fixedNeed(reduceTo));
}

DecodedPicture decodePictureData(const QByteArray &data, const NeedFunction &need)
{
    return decodeSource(PictureSource::memory(data), need);
}

DecodedPicture decodePictureSource(const PictureSource &source, const NeedFunction &need)
{
    return decodeSource(source, need);
}

DecodedPicture decodePicture(const QString &path, QSize reduceTo) { return decodePicture(path, fixedNeed(reduceTo)); }

DecodedPicture decodePicture(const QString &path, const NeedFunction &need)
{
    try {
        return decodeSource(PictureSource::open(path), need);
    } catch (const Failure &f) {
        throw unreadablePicture(path, f);
    }
}

} // namespace kestrovia
