#pragma once
// Test pictures made on the fly: JPEG in every flavour the decoder must read (via
// TurboJPEG), BMP in several layouts, EXIF orientation, broken files.

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QString>

#include <turbojpeg.h>

#include <cstdint>
#include <map>
#include <stdexcept>

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

inline bool near(QRgb a, QRgb b, int tolerance = 24)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
           && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

inline QString describe(QRgb c)
{
    return QStringLiteral("(%1,%2,%3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

// pixelFormat TJPF_CMYK expects `image` already holding the inverted CMYK bytes.
inline QByteArray jpeg(const QImage &image, int quality = 95, int subsamp = TJSAMP_444, int flags = 0)
{
    const QImage src = image.convertToFormat(QImage::Format_RGB32);
    tjhandle h = tjInitCompress();
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    if (tjCompress2(h, src.constBits(), src.width(), int(src.bytesPerLine()), src.height(), TJPF_BGRX,
                    &buf, &size, subsamp, quality, flags) != 0)
        throw std::runtime_error(tjGetErrorStr2(h));
    QByteArray out(reinterpret_cast<const char *>(buf), qsizetype(size));
    tjFree(buf);
    tjDestroy(h);
    return out;
}

// A CMYK JPEG stored the way Adobe programs store it (inverted: 255 = no ink).
inline QByteArray cmykJpeg(const QImage &image)
{
    const QImage src = image.convertToFormat(QImage::Format_RGB32);
    QByteArray cmyk(qsizetype(src.width()) * src.height() * 4, 0);
    auto *d = reinterpret_cast<unsigned char *>(cmyk.data());
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x, d += 4) {
            const QRgb c = src.pixel(x, y);
            const int k = std::max({qRed(c), qGreen(c), qBlue(c)});
            d[0] = k ? uchar(qRed(c) * 255 / k) : 0;
            d[1] = k ? uchar(qGreen(c) * 255 / k) : 0;
            d[2] = k ? uchar(qBlue(c) * 255 / k) : 0;
            d[3] = uchar(k);
        }
    tjhandle h = tjInitCompress();
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    if (tjCompress2(h, reinterpret_cast<const unsigned char *>(cmyk.constData()), src.width(),
                    src.width() * 4, src.height(), TJPF_CMYK, &buf, &size, TJSAMP_444, 95, 0) != 0)
        throw std::runtime_error(tjGetErrorStr2(h));
    QByteArray out(reinterpret_cast<const char *>(buf), qsizetype(size));
    tjFree(buf);
    tjDestroy(h);
    return out;
}

// Inserts an APP1 Exif segment with the orientation tag right after SOI.
inline QByteArray withExifOrientation(const QByteArray &jpegData, int orientation, bool bigEndian = false)
{
    QByteArray tiff;
    const auto u16 = [&](int v) {
        if (bigEndian) {
            tiff.append(char(v >> 8));
            tiff.append(char(v));
        } else {
            tiff.append(char(v));
            tiff.append(char(v >> 8));
        }
    };
    const auto u32 = [&](quint32 v) {
        if (bigEndian) {
            u16(int(v >> 16));
            u16(int(v & 0xFFFF));
        } else {
            u16(int(v & 0xFFFF));
            u16(int(v >> 16));
        }
    };
    tiff.append(bigEndian ? "MM" : "II");
    u16(42);
    u32(8);
    u16(1);          // one entry
    u16(0x0112);     // orientation
    u16(3);          // SHORT
    u32(1);
    u16(orientation);
    u16(0);
    u32(0);          // no next IFD
    QByteArray app1("\xFF\xE1", 2);
    const int len = 2 + 6 + int(tiff.size());
    app1.append(char(len >> 8));
    app1.append(char(len & 0xFF));
    app1.append(QByteArray("Exif\0\0", 6));
    app1.append(tiff);
    return jpegData.left(2) + app1 + jpegData.mid(2);
}

// Uncompressed BMP: bpp 8 (palette), 24 or 32; rows bottom-up unless topDown.
inline QByteArray bmp(const QImage &image, int bpp, bool topDown = false)
{
    const QImage src = image.convertToFormat(QImage::Format_RGB32);
    const int w = src.width(), h = src.height();
    std::map<QRgb, int> index;
    QByteArray palette;
    if (bpp == 8) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const QRgb c = src.pixel(x, y) | 0xFF000000u;
                if (!index.count(c)) {
                    const int i = int(index.size());
                    index[c] = i;
                    palette.append(char(qBlue(c)));
                    palette.append(char(qGreen(c)));
                    palette.append(char(qRed(c)));
                    palette.append(char(0));
                }
            }
        if (index.size() > 256)
            throw std::runtime_error("too many colours for an 8-bit BMP");
    }
    const int stride = ((w * bpp + 31) / 32) * 4;
    const int offset = 54 + int(palette.size());
    QByteArray out(offset + qsizetype(stride) * h, 0);
    auto *p = reinterpret_cast<unsigned char *>(out.data());
    const auto le32 = [&](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            p[at + i] = uchar(v >> (8 * i));
    };
    p[0] = 'B';
    p[1] = 'M';
    le32(2, quint32(out.size()));
    le32(10, quint32(offset));
    le32(14, 40);
    le32(18, quint32(w));
    le32(22, quint32(topDown ? -h : h));
    p[26] = 1;
    p[28] = uchar(bpp);
    le32(46, quint32(index.size()));
    std::copy(palette.begin(), palette.end(), out.begin() + 54);
    for (int y = 0; y < h; ++y) {
        unsigned char *row = p + offset + qsizetype(stride) * (topDown ? y : h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const QRgb c = src.pixel(x, y) | 0xFF000000u;
            if (bpp == 8) {
                row[x] = uchar(index[c]);
            } else {
                unsigned char *d = row + x * (bpp / 8);
                d[0] = uchar(qBlue(c));
                d[1] = uchar(qGreen(c));
                d[2] = uchar(qRed(c));
                if (bpp == 32)
                    d[3] = 0;
            }
        }
    }
    return out;
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
