#include "compose/formatdecoders.h"

#include "compose/imagebuffer.h"
#include "compose/picturelimits.h"
#include "platform/failure.h"
#include "platform/japanese.h"

#include <QBuffer>
#include <QImageReader>

#include <cstdint>
#include <cstring>
#include <memory>

namespace kestrovia {

namespace {

[[noreturn]] void fail(const QString &reason) { throw Failure(reason); }

// Whether the first GIF picture's data runs to its end: Qt's reader shows a cut
// frame as if it were whole.
bool gifFirstFrameComplete(const QByteArray &data)
{
    const auto *p = reinterpret_cast<const std::uint8_t *>(data.constData());
    const qint64 size = data.size();
    const auto tableBytes = [](int flags) { return (flags & 0x80) ? 3 * (2 << (flags & 7)) : 0; };
    // Skips a chain of data sub-blocks at `at`; -1 when it runs past the end.
    const auto skipBlocks = [&](qint64 at) {
        while (at < size && p[at] != 0)
            at += 1 + p[at];
        return at < size ? at + 1 : -1;
    };
    if (size < 13)
        return false;
    qint64 at = 13 + tableBytes(p[10]);
    while (at >= 0 && at < size) {
        if (p[at] == 0x21 && at + 2 < size) { // extension: label, then sub-blocks
            at = skipBlocks(at + 2);
        } else if (p[at] == 0x2C && at + 10 < size) { // image: descriptor, table, LZW size, data
            at += 10 + tableBytes(p[at + 9]);
            return at < size && skipBlocks(at + 1) >= 0;
        } else {
            return false;
        }
    }
    return false;
}

// Whether the container visibly ends early: a PNG without its closing chunk, a GIF
// whose first picture is cut, a WebP shorter than its RIFF header says. Such a file
// is refused even where a reader would show what it got, as a cut JPEG is; TIFF
// and HEIF have no such mark.
bool endsEarly(const QByteArray &data, PictureFormat format)
{
    switch (format) {
    case PictureFormat::Png:
        // Searched from the end: some writers append bytes after it.
        return data.lastIndexOf(QByteArrayLiteral("IEND\xAE\x42\x60\x82")) < 0;
    case PictureFormat::Gif: return !gifFirstFrameComplete(data);
    case PictureFormat::WebP: {
        if (data.size() < 8)
            return true;
        const auto *p = reinterpret_cast<const std::uint8_t *>(data.constData());
        const qint64 riff = qint64(p[4]) | (qint64(p[5]) << 8) | (qint64(p[6]) << 16) | (qint64(p[7]) << 24);
        return riff + 8 > data.size();
    }
    default: return false;
    }
}

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

// ---- PNG, TIFF, WebP, GIF through Qt ----

void allowPicturesUpToOurLimit()
{
    // Qt refuses to allocate more than 256 MB for one picture by default, less than
    // a picture within our own limit needs (16-bit RGBA: 8 bytes a pixel). The size
    // is checked against our limit before reading, so Qt's is set to match it. The
    // setting is process-wide; it is made once, before any reader runs here.
    static const bool done = [] {
        QImageReader::setAllocationLimit(int(kMaxPicturePixels * 8 / (1 << 20) + 1));
        return true;
    }();
    Q_UNUSED(done);
}

// Whether data can hold as many pixels as the header declares, before any pixel is
// allocated: a file of a few dozen bytes that declares hundreds of millions of
// pixels is damaged or hostile, and decoding it would fill gigabytes and take
// minutes. Deflate packs at most 1032 bytes into one, and one byte holds at least
// 8 pixels of a PNG, so the PNG bound is exact. An LZW code of at least 3 bits
// stands for at most 4096 GIF pixels; a GIF's frames may leave its logical
// screen to the background, so only screens beyond 16 million pixels are held to
// it. TIFF and WebP have codings (fax, single-colour lossless) that no ratio bounds.
void checkDataCovers(const QByteArray &data, PictureFormat format, QSize size)
{
    const qint64 pixels = qint64(size.width()) * size.height();
    const qint64 bytes = data.size();
    const bool implausible = format == PictureFormat::Png   ? pixels > bytes * 1032 * 8
                             : format == PictureFormat::Gif ? pixels > 16'000'000 && pixels > bytes * 8 / 3 * 4096
                                                            : false;
    if (implausible)
        fail(ja("%1 ファイルが壊れているか途中で切れています（%2 × %3 ピクセルに対してデータが少なすぎます）")
                 .arg(pictureFormatName(format))
                 .arg(size.width())
                 .arg(size.height()));
}

FormatPicture decodeWithQt(const QByteArray &data, PictureFormat format, const std::function<void(QSize)> &beforeDecode)
{
    const QByteArray qtFormat = QByteArrayLiteral("gif");
    if (!QImageReader::supportedImageFormats().contains(qtFormat))
        fail(ja("%1 ファイルを読むための部品がインストールされていません（qt6-image-formats-plugins）")
                 .arg(pictureFormatName(format)));
    allowPicturesUpToOurLimit();

    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, qtFormat);
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(false);

    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        fail(endsEarly(data, format) ? cutShortReason(format) : damagedReason(format));
    checkPictureSize(size.width(), size.height());
    checkDataCovers(data, format, size);
    if (beforeDecode)
        beforeDecode(size);

    QImage img;
    const bool read = reader.read(&img) && !img.isNull();
    const bool cut = endsEarly(data, format);
    if (cut)
        fail(cutShortReason(format));
    if (!read) {
        if (reader.error() == QImageReader::UnsupportedFormatError)
            fail(ja("この種類の %1 ファイルには対応していません").arg(pictureFormatName(format)));
        fail(damagedReason(format));
    }
    // A GIF's first frame is drawn on its logical screen; nothing may come out
    // larger than what was checked.
    checkPictureSize(img.width(), img.height());

    FormatPicture out;
    out.image = normalised(img);
    return out;
}

} // namespace

FormatPicture decodeFormatPicture(const QByteArray &data, PictureFormat format,
                                  const std::function<void(QSize)> &beforeDecode)
{
    switch (format) {
    case PictureFormat::Gif: return decodeWithQt(data, format, beforeDecode);
    default: fail(ja("対応していない形式の画像です"));
    }
}

} // namespace kestrovia
