#include "compose/formatdecoders.h"

#include "compose/memorybudget.h"
#include "compose/pictureformat.h"
#include "compose/picturelimits.h"
#include "platform/failure.h"
#include "platform/japanese.h"

#include <QBuffer>
#include <QImageReader>

#include <cstdint>

namespace kestrovia {

namespace {

[[noreturn]] void fail(const QString &reason) { throw Failure(reason); }

// Screens up to this size are drawn whole, as Qt draws them, whatever the frame.
constexpr qint64 kScreenPixels = 16'000'000;
// Comments, application data and profiles before the first frame: far less in any
// real file.
constexpr qint64 kMaxBlocksBeforeFrame = qint64(16) << 20;

// Opaque pictures as Format_RGB32, the rest as Format_ARGB32 (straight alpha), so
// the composition has only these two to handle. A picture stored with an alpha
// channel that is opaque everywhere (Qt reads every GIF that way) counts as opaque.
QImage normalised(const QImage &img)
{
    const bool alpha = img.hasAlphaChannel();
    QImage out = img.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (out.isNull())
        fail(ja("画像を展開するメモリが足りません（%1 × %2 ピクセル）").arg(img.width()).arg(img.height()));
    if (alpha) {
        for (int y = 0; y < out.height(); ++y) {
            const auto *p = reinterpret_cast<const std::uint32_t *>(out.constScanLine(y));
            for (int x = 0; x < out.width(); ++x)
                if (p[x] < 0xFF000000u)
                    return out;
        }
        out.reinterpretAsFormat(QImage::Format_RGB32);
    }
    return out;
}

void allowPicturesUpToOurLimit()
{
    // Qt refuses to allocate more than 256 MB for one picture by default, less than
    // a picture within our own limit needs. The size is checked against our limit
    // before reading, so Qt's is set to match it. The setting is process-wide; it
    // is made once, before any reader runs here.
    static const bool done = [] {
        QImageReader::setAllocationLimit(int(kMaxPicturePixels * 8 / (1 << 20) + 1));
        return true;
    }();
    Q_UNUSED(done);
}

int tableBytes(int flags) { return (flags & 0x80) ? 3 * (2 << (flags & 7)) : 0; }

// The offset past a chain of data sub-blocks starting at `at`, adding their
// payload to bytes; fails when the chain passes `limit` or the end of the file.
qint64 skipSubBlocks(SourceWindow &w, qint64 at, qint64 limit, qint64 &bytes)
{
    for (;;) {
        const int n = w.byte(at);
        if (n < 0)
            fail(cutShortReason(PictureFormat::Gif));
        if (n == 0)
            return at + 1;
        bytes += n;
        at += 1 + n;
        if (at > limit)
            fail(damagedReason(PictureFormat::Gif));
    }
}

} // namespace

GifLayout gifLayout(const PictureSource &source, bool withData)
{
    SourceWindow w(source);
    std::uint8_t h[13];
    if (w.read(0, h, 13) < 13)
        fail(cutShortReason(PictureFormat::Gif));
    GifLayout g;
    g.screen = QSize(h[6] | h[7] << 8, h[8] | h[9] << 8);
    qint64 at = 13 + tableBytes(h[10]);
    for (;;) {
        const int b = w.byte(at);
        if (b < 0)
            fail(cutShortReason(PictureFormat::Gif));
        if (b == 0x2C)
            break;
        if (b != 0x21) // the trailer, or anything else, before any picture
            fail(damagedReason(PictureFormat::Gif));
        qint64 ignored = 0;
        at = skipSubBlocks(w, at + 2, kMaxBlocksBeforeFrame, ignored);
    }
    std::uint8_t d[10];
    if (w.read(at, d, 10) < 10)
        fail(cutShortReason(PictureFormat::Gif));
    g.descriptorAt = at;
    g.frame = QRect(d[1] | d[2] << 8, d[3] | d[4] << 8, d[5] | d[6] << 8, d[7] | d[8] << 8);
    if (g.frame.isEmpty())
        fail(damagedReason(PictureFormat::Gif));
    const QRect screen(QPoint(0, 0), g.screen);
    const bool large = qint64(g.screen.width()) * g.screen.height() > kScreenPixels;
    g.picture = g.screen.isEmpty()                   ? QRect(QPoint(0, 0), g.frame.size())
                : large && !g.frame.contains(screen) ? g.frame & screen
                                                     : screen;
    if (g.picture.isEmpty())
        fail(damagedReason(PictureFormat::Gif)); // a frame beside its screen shows nothing
    checkPictureSize(g.picture.width(), g.picture.height());
    if (withData) {
        // The LZW code size, then the data. A code of at most 12 bits stands for at
        // least one pixel, and a clear code comes at most once a pixel: more data
        // than this is no picture of the frame's size.
        const qint64 frameBytes = qint64(g.frame.width()) * g.frame.height() * 3 + 65536;
        const qint64 dataAt = at + 10 + tableBytes(d[9]) + 1;
        g.end = skipSubBlocks(w, dataAt, dataAt + frameBytes, g.dataBytes);
    }
    return g;
}

FormatPicture decodeGif(const PictureSource &source, MemoryReservation &memory,
                        const std::function<void(QSize)> &beforeDecode)
{
    const GifLayout g = gifLayout(source, true);
    // A code of 3 bits or more stands for at most 4096 pixels: a picture past 16
    // megapixels (always covered by the frame, see gifLayout) needs data to match.
    const qint64 pixels = qint64(g.picture.width()) * g.picture.height();
    if (pixels > kScreenPixels && pixels > g.dataBytes * 8 / 3 * 4096)
        fail(ja("GIF ファイルが壊れているか途中で切れています（%1 × %2 ピクセルに対してデータが少なすぎます）")
                 .arg(g.picture.width())
                 .arg(g.picture.height()));

    const QByteArray qtFormat = QByteArrayLiteral("gif");
    if (!QImageReader::supportedImageFormats().contains(qtFormat))
        fail(ja("GIF ファイルを読むための部品がインストールされていません（qt6-image-formats-plugins）"));
    allowPicturesUpToOurLimit();

    // Qt is given the file up to the first frame's end: padding, later frames and
    // whatever else follows are never read. A picture that is only the frame's
    // part of a vast screen becomes a screen of its own with the frame at its
    // corner (the part on the screen is always the frame's top-left part).
    memory.grow(g.end + 1, g.picture.width(), g.picture.height());
    QByteArray data = source.bytes(0, g.end);
    if (data.size() < g.end)
        fail(cutShortReason(PictureFormat::Gif));
    data += ';';
    if (g.picture.size() != g.screen) {
        const auto put16 = [&](qint64 at, int v) {
            data[at] = char(v);
            data[at + 1] = char(v >> 8);
        };
        put16(6, g.picture.width());
        put16(8, g.picture.height());
        put16(g.descriptorAt + 1, 0);
        put16(g.descriptorAt + 3, 0);
    }
    if (beforeDecode)
        beforeDecode(g.picture.size());

    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, qtFormat);
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(false);
    QImage img;
    if (!reader.read(&img) || img.isNull()) {
        if (reader.error() == QImageReader::UnsupportedFormatError)
            fail(ja("この種類の GIF ファイルには対応していません"));
        fail(damagedReason(PictureFormat::Gif));
    }
    // Qt draws the frame on the screen the file declares: nothing may come out
    // other than what was checked.
    if (img.size() != g.picture.size())
        fail(damagedReason(PictureFormat::Gif));

    FormatPicture out;
    out.image = normalised(img);
    return out;
}

} // namespace kestrovia
