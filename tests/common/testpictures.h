#pragma once
// Test pictures made on the fly: JPEG in every flavour the decoder must read (via
// TurboJPEG, and libjpeg for what TurboJPEG does not write), BMP in every layout,
// EXIF orientation, the files they go into, and the reason a call fails with.

#include "compose/jobrow.h"
#include "platform/failure.h"

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QList>
#include <QString>
#include <QTransform>

#include <turbojpeg.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio> // jpeglib.h needs FILE
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

namespace testpics {

inline const QRgb kRed = qRgb(255, 0, 0);
inline const QRgb kGreen = qRgb(0, 255, 0);
inline const QRgb kBlue = qRgb(0, 0, 255);
inline const QRgb kYellow = qRgb(255, 255, 0);

// Top-left red, top-right green, bottom-left blue, bottom-right yellow.
inline QImage quadrants(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, y < h / 2 ? (x < w / 2 ? kRed : kGreen) : (x < w / 2 ? kBlue : kYellow));
    return img;
}

// Pseudo-random pixels: a picture that compresses badly.
inline QImage noise(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    quint32 seed = 7;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            img.setPixel(x, y, qRgb(int(seed >> 24), int(seed >> 16) & 255, x & 255));
        }
    return img;
}

// Smooth shading, hard edges and grain, as in a photo: every quality step changes
// what such a picture costs.
inline QImage photoLike(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    quint32 seed = 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int grain = int(seed >> 27) - 16;
            const int shade = int(60 * std::sin(x * 0.07) * std::cos(y * 0.05));
            const int block = (x / 40 + y / 30) % 2 ? 60 : 0;
            const auto c = [&](int v) { return std::clamp(v + shade + grain, 0, 255); };
            img.setPixel(x, y, qRgb(c(90 + block), c(130 + x / 4), c(170 - block)));
        }
    return img;
}

inline bool near(QRgb a, QRgb b, int tolerance = 24)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
           && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

inline QString describe(QRgb c) { return QStringLiteral("(%1,%2,%3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c)); }

// TurboJPEG's JPEG of raw pixels in pixelFormat (TJPF_BGRX, TJPF_CMYK, ...).
inline QByteArray tjEncode(const uchar *pixels, int w, int h, int pitch, int pixelFormat, int subsamp, int quality,
                           int flags = 0)
{
    tjhandle tj = tjInitCompress();
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    if (tjCompress2(tj, pixels, w, pitch, h, pixelFormat, &buf, &size, subsamp, quality, flags) != 0)
        throw std::runtime_error(tjGetErrorStr2(tj));
    const QByteArray out(reinterpret_cast<const char *>(buf), qsizetype(size));
    tjFree(buf);
    tjDestroy(tj);
    return out;
}

inline QByteArray jpeg(const QImage &image, int quality = 95, int subsamp = TJSAMP_444, int flags = 0)
{
    const QImage src = image.convertToFormat(QImage::Format_RGB32);
    return tjEncode(src.constBits(), src.width(), src.height(), int(src.bytesPerLine()), TJPF_BGRX, subsamp, quality,
                    flags);
}

// A 4:2:0 JPEG from libjpeg, for what TurboJPEG does not write: restart markers
// after every row of blocks, arithmetic coding; and the standard Huffman tables
// whatever TJ_OPTIMIZE says (the converter sets it), where a test damages the data.
struct LibjpegFile {
    bool restarts = false;
    bool arithmetic = false;
    bool progressive = false;
};
inline QByteArray libjpegFile(const QImage &image, LibjpegFile kind = {})
{
    jpeg_compress_struct c{};
    jpeg_error_mgr e{};
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    const QImage src = image.convertToFormat(QImage::Format_RGB32);
    c.image_width = JDIMENSION(src.width());
    c.image_height = JDIMENSION(src.height());
    c.input_components = 4;
    c.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 92, TRUE);
    c.restart_in_rows = kind.restarts ? 1 : 0;
    c.arith_code = kind.arithmetic ? TRUE : FALSE;
    if (kind.progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(src.constScanLine(int(c.next_scanline)));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    const QByteArray data(reinterpret_cast<const char *>(out), qsizetype(size));
    std::free(out);
    return data;
}

// A CMYK JPEG stored inverted as Adobe programs store it (255 = no ink): the bytes
// R, G, B, 255 are the picture in cyan, magenta and yellow ink, without black.
inline QByteArray cmykJpeg(const QImage &image)
{
    const QImage src = image.convertToFormat(QImage::Format_RGBX8888);
    return tjEncode(src.constBits(), src.width(), src.height(), int(src.bytesPerLine()), TJPF_CMYK, TJSAMP_444, 95);
}

// An APP1 Exif segment holding only the orientation tag, inserted right after SOI.
inline QByteArray withExifOrientation(const QByteArray &jpegData, int orientation, bool bigEndian = false)
{
    // TIFF header, one IFD entry (0x0112, SHORT, count 1, the value), no next IFD.
    const char o = char(orientation);
    const QByteArray tiff =
        bigEndian ? QByteArray("MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0", 19) + o + QByteArray(6, '\0')
                  : QByteArray("II\x2A\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 18) + o + QByteArray(7, '\0');
    const int len = 8 + int(tiff.size());
    return jpegData.left(2) + "\xFF\xE1" + char(len >> 8) + char(len) + QByteArray("Exif\0\0", 6) + tiff
           + jpegData.mid(2);
}

inline void putLe(QByteArray &a, qsizetype at, quint32 v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        a[at + i] = char(v >> (8 * i));
}

// A BMP file with a header of headerSize bytes (12 OS/2, 40, 108 V4, 124 V5) for
// w x h pixels (h < 0: rows stored top-down), the colour masks when given, the
// palette, then the pixel bytes as given.
inline QByteArray bmpFile(int headerSize, int w, int h, int bpp, int compression, const QByteArray &pixels,
                          const QList<QRgb> &palette = {}, const QList<quint32> &masks = {})
{
    const bool os2 = headerSize == 12;
    QByteArray info(headerSize, 0);
    putLe(info, 0, quint32(headerSize), 4);
    putLe(info, 4, quint32(w), os2 ? 2 : 4);
    putLe(info, os2 ? 6 : 8, quint32(h), os2 ? 2 : 4);
    putLe(info, os2 ? 8 : 12, 1, 2);
    putLe(info, os2 ? 10 : 14, quint32(bpp), 2);
    if (!os2) {
        putLe(info, 16, quint32(compression), 4);
        putLe(info, 20, quint32(pixels.size()), 4);
        putLe(info, 32, quint32(palette.size()), 4);
    }
    QByteArray maskBytes(12, 0);
    for (int i = 0; i < masks.size(); ++i)
        putLe(maskBytes, 4 * i, masks[i], 4);
    if (!masks.isEmpty() && headerSize > 40)
        info.replace(40, 12, maskBytes); // V4 and V5 hold the masks themselves
    else if (!masks.isEmpty())
        info += maskBytes;
    for (QRgb c : palette) {
        info += char(qBlue(c));
        info += char(qGreen(c));
        info += char(qRed(c));
        if (!os2)
            info += '\0';
    }
    QByteArray file(14, 0);
    file[0] = 'B';
    file[1] = 'M';
    putLe(file, 2, quint32(14 + info.size() + pixels.size()), 4);
    putLe(file, 10, quint32(14 + info.size()), 4);
    return file + info + pixels;
}

// image as an uncompressed BMP: bpp 1, 4 or 8 over a palette of its colours; 16, 24
// or 32 with each channel scaled into its mask (given masks are stored as bit
// fields; without, 5-5-5 for 16 bits, 8-8-8 else).
inline QByteArray bmp(const QImage &image, int bpp, bool topDown = false, int headerSize = 40,
                      const QList<quint32> &masks = {})
{
    const QImage src = image.convertToFormat(QImage::Format_RGB32);
    const int w = src.width(), h = src.height(), stride = (w * bpp + 31) / 32 * 4;
    const QList<quint32> m = !masks.isEmpty() ? masks
                             : bpp == 16      ? QList<quint32>{0x7C00, 0x03E0, 0x001F}
                                              : QList<quint32>{0xFF0000, 0xFF00, 0xFF};
    QList<QRgb> palette;
    QByteArray pixels(qsizetype(stride) * h, 0);
    for (int y = 0; y < h; ++y) {
        const qsizetype row = qsizetype(stride) * (topDown ? y : h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const QRgb c = src.pixel(x, y) | 0xFF000000u;
            if (bpp <= 8) {
                if (!palette.contains(c))
                    palette.append(c);
                const int at = int(row) + x * bpp / 8, shift = 8 - bpp - x * bpp % 8;
                pixels[at] = char(pixels[at] | (palette.indexOf(c) << shift));
                continue;
            }
            const quint32 channels[3] = {quint32(qRed(c)), quint32(qGreen(c)), quint32(qBlue(c))};
            quint32 v = 0;
            for (int i = 0; i < 3; ++i) {
                const int shift = std::countr_zero(m[i]);
                v |= (channels[i] * (m[i] >> shift) + 127) / 255 << shift;
            }
            putLe(pixels, row + x * bpp / 8, v, bpp / 8);
        }
    }
    if (palette.size() > (1 << std::min(bpp, 8)))
        throw std::runtime_error("too many colours for the BMP's palette");
    return bmpFile(headerSize, w, topDown ? -h : h, bpp, masks.isEmpty() ? 0 : 3, pixels, palette, masks);
}

// img as a photo viewer shows it under EXIF (or TIFF) orientation o.
inline QImage upright(const QImage &img, int o)
{
    const int turn[] = {0, 0, 0, 180, 0, 270, 90, 90, 270};
    return img.mirrored(o == 2 || o == 5 || o == 7, o == 4).transformed(QTransform().rotate(turn[o]));
}

// A job row that draws the picture at size ("W*H"; empty: its own size), fitted and
// centred on black.
inline kestrovia::JobRow fittedRow(const QString &path, const QString &size)
{
    kestrovia::JobRow row;
    row.path = path;
    row.newSize = size;
    row.fit = QStringLiteral("OFF");
    row.backColor = QStringLiteral("0");
    row.position = QStringLiteral("Center");
    row.compression = QStringLiteral("5");
    return row;
}

// The reason f fails with; empty when it does not fail.
template <typename F> QString failureOf(const F &f)
{
    try {
        f();
    } catch (const kestrovia::Failure &e) {
        return e.message();
    }
    return {};
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write test file");
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace testpics
