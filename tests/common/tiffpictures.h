#pragma once
// TIFF pictures written by libtiff into memory, in the layouts the decoder must
// read: strips of any height or square tiles, samples together or in planes of
// their own, 1 to 64 bits a sample, integers or floats, grey, RGB, palette or CMYK,
// with an alpha channel, a profile and an orientation.

#include <QByteArray>
#include <QImage>
#include <QList>

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <vector>

namespace testpics {

struct TiffLayout {
    int width = 0, height = 0;
    int photometric = PHOTOMETRIC_RGB;
    int samples = 3; // alpha included
    int bits = 8;
    int sampleFormat = SAMPLEFORMAT_UINT;
    int compression = COMPRESSION_NONE;
    int predictor = PREDICTOR_NONE;
    bool planes = false; // PLANARCONFIG_SEPARATE (samples of 8 bits or more)
    int rowsPerStrip = 0; // 0: the whole picture in one strip
    int tileSide = 0; // square tiles instead of strips
    int alpha = -1; // EXTRASAMPLE_* of the last sample, when it is an extra one
    int orientation = 0;
    bool bigEndian = false;
    int fillOrder = 0; // FILLORDER_LSB2MSB: the bits of each byte stored lowest first
    QByteArray icc{};
    QList<quint16> colormap{}; // palette: the red, green and blue tables one after another
};

// Fills row y of the picture as one contiguous scanline: samples interleaved,
// packed most significant bit first below 8 bits, in the machine's byte order.
using TiffRowFunction = std::function<void(int y, std::uint8_t *row)>;

namespace tiffdetail {
struct Memory {
    QByteArray data;
    qint64 at = 0;
};
inline tmsize_t read(thandle_t h, void *to, tmsize_t n)
{
    auto *m = static_cast<Memory *>(h);
    const qint64 got = std::clamp<qint64>(m->data.size() - m->at, 0, n);
    std::memcpy(to, m->data.constData() + m->at, size_t(got));
    m->at += got;
    return tmsize_t(got);
}
inline tmsize_t write(thandle_t h, void *from, tmsize_t n)
{
    auto *m = static_cast<Memory *>(h);
    if (m->at + n > m->data.size())
        m->data.resize(m->at + n);
    std::memcpy(m->data.data() + m->at, from, size_t(n));
    m->at += n;
    return n;
}
inline toff_t seek(thandle_t h, toff_t at, int whence)
{
    auto *m = static_cast<Memory *>(h);
    m->at = qint64(at) + (whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->data.size() : 0);
    return toff_t(m->at);
}
inline int close(thandle_t) { return 0; }
inline toff_t size(thandle_t h) { return toff_t(static_cast<Memory *>(h)->data.size()); }
} // namespace tiffdetail

inline QByteArray tiffPicture(const TiffLayout &l, const TiffRowFunction &fill)
{
    // libtiff warns on standard error about what tests write on purpose (the older
    // Deflate code, a picture read back in its own test).
    TIFFSetWarningHandler(nullptr);
    tiffdetail::Memory memory;
    TIFF *t = TIFFClientOpen("test", l.bigEndian ? "wb" : "wl", &memory, tiffdetail::read, tiffdetail::write,
                             tiffdetail::seek, tiffdetail::close, tiffdetail::size, nullptr, nullptr);
    if (!t)
        throw std::runtime_error("TIFFClientOpen");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(l.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(l.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, l.bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, l.samples);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, l.sampleFormat);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, l.planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, l.compression);
    if (l.predictor != PREDICTOR_NONE)
        TIFFSetField(t, TIFFTAG_PREDICTOR, l.predictor);
    if (l.compression == COMPRESSION_JPEG && l.photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    if (l.alpha >= 0) {
        const std::uint16_t extra[1] = {std::uint16_t(l.alpha)};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (l.orientation)
        TIFFSetField(t, TIFFTAG_ORIENTATION, l.orientation);
    if (l.fillOrder)
        TIFFSetField(t, TIFFTAG_FILLORDER, l.fillOrder);
    if (!l.icc.isEmpty())
        TIFFSetField(t, TIFFTAG_ICCPROFILE, std::uint32_t(l.icc.size()), l.icc.constData());
    if (!l.colormap.isEmpty()) {
        std::vector<std::uint16_t> map(l.colormap.begin(), l.colormap.end());
        const size_t n = map.size() / 3;
        TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
    }

    const int planes = l.planes ? l.samples : 1;
    const int perPixel = l.planes ? 1 : l.samples;
    const size_t rowBytes = (size_t(l.width) * size_t(l.samples) * size_t(l.bits) + 7) / 8;
    const size_t sampleBytes = size_t(l.bits) / 8;
    std::vector<std::uint8_t> row(rowBytes), planeRow(rowBytes);
    // One plane's part of a contiguous row (planes hold whole bytes a sample).
    const auto planeOf = [&](const std::uint8_t *from, int p, std::uint8_t *to) {
        if (planes == 1) {
            std::memcpy(to, from, rowBytes);
            return;
        }
        for (int x = 0; x < l.width; ++x)
            std::memcpy(to + size_t(x) * sampleBytes, from + (size_t(x) * size_t(l.samples) + size_t(p)) * sampleBytes,
                        sampleBytes);
    };
    bool ok = true;
    if (l.tileSide > 0) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, l.tileSide);
        TIFFSetField(t, TIFFTAG_TILELENGTH, l.tileSide);
        std::vector<std::uint8_t> whole(rowBytes * size_t(l.height));
        for (int y = 0; y < l.height; ++y)
            fill(y, whole.data() + rowBytes * size_t(y));
        const size_t pixelBits = size_t(perPixel) * size_t(l.bits);
        const size_t tileRow = (size_t(l.tileSide) * pixelBits + 7) / 8;
        std::vector<std::uint8_t> tile(tileRow * size_t(l.tileSide));
        for (int p = 0; p < planes; ++p)
            for (int ty = 0; ty < l.height; ty += l.tileSide)
                for (int tx = 0; tx < l.width; tx += l.tileSide) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (int y = ty; y < std::min(l.height, ty + l.tileSide); ++y) {
                        planeOf(whole.data() + rowBytes * size_t(y), p, planeRow.data());
                        const int n = std::min(l.tileSide, l.width - tx);
                        // Whole bytes only: tiles of sub-byte samples start on a byte.
                        std::memcpy(tile.data() + tileRow * size_t(y - ty),
                                    planeRow.data() + size_t(tx) * pixelBits / 8, (size_t(n) * pixelBits + 7) / 8);
                    }
                    ok = ok
                         && TIFFWriteTile(t, tile.data(), std::uint32_t(tx), std::uint32_t(ty), 0, std::uint16_t(p))
                                >= 0;
                }
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, std::uint32_t(l.rowsPerStrip > 0 ? l.rowsPerStrip : l.height));
        for (int p = 0; p < planes; ++p)
            for (int y = 0; y < l.height; ++y) {
                fill(y, row.data());
                planeOf(row.data(), p, planeRow.data());
                ok = ok && TIFFWriteScanline(t, planeRow.data(), std::uint32_t(y), std::uint16_t(p)) >= 0;
            }
    }
    TIFFClose(t);
    if (!ok)
        throw std::runtime_error("TIFFWrite");
    return memory.data;
}

// The picture as libtiff's own RGBA interface reads it whole, upright, with
// straight alpha (Format_ARGB32); a null image when libtiff cannot read it.
inline QImage libtiffPicture(const QByteArray &file)
{
    TIFFSetErrorHandler(nullptr); // what it cannot use in a directory, read past anyway
    tiffdetail::Memory memory{file, 0};
    TIFF *t = TIFFClientOpen("test", "rm", &memory, tiffdetail::read, tiffdetail::write, tiffdetail::seek,
                             tiffdetail::close, tiffdetail::size, nullptr, nullptr);
    if (!t)
        return {};
    std::uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    std::vector<std::uint32_t> abgr(size_t(w) * h);
    const bool read = TIFFReadRGBAImageOriented(t, w, h, abgr.data(), ORIENTATION_TOPLEFT, 0);
    TIFFClose(t);
    if (!read)
        return {};
    QImage out(int(w), int(h), QImage::Format_ARGB32);
    for (size_t i = 0; i < abgr.size(); ++i) {
        const std::uint32_t p = abgr[i];
        const int a = int(TIFFGetA(p));
        // Premultiplied there, straight here.
        const auto c = [a](std::uint32_t v) {
            return a ? std::min(255, int((v * 255 + std::uint32_t(a) / 2) / std::uint32_t(a))) : 0;
        };
        out.setPixel(int(i % w), int(i / w), qRgba(c(TIFFGetR(p)), c(TIFFGetG(p)), c(TIFFGetB(p)), a));
    }
    return out;
}

// The samples of every row as libtiff's scanlines give them (those of a pixel
// together, in the machine's byte order), with the picture's size and profile.
struct TiffSamples {
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 1;
    QByteArray icc;
    std::vector<std::uint8_t> bytes; // height rows of bytes.size() / height bytes
};
inline TiffSamples tiffSamples(const QByteArray &file)
{
    TiffSamples out;
    tiffdetail::Memory memory{file, 0};
    TIFF *t = TIFFClientOpen("test", "rm", &memory, tiffdetail::read, tiffdetail::write, tiffdetail::seek,
                             tiffdetail::close, tiffdetail::size, nullptr, nullptr);
    if (!t)
        return out;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &out.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &out.height);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &out.samples);
    std::uint32_t iccLength = 0;
    void *icc = nullptr;
    if (TIFFGetField(t, TIFFTAG_ICCPROFILE, &iccLength, &icc))
        out.icc = QByteArray(static_cast<const char *>(icc), qsizetype(iccLength));
    const size_t rowBytes = size_t(TIFFScanlineSize64(t));
    out.bytes.resize(rowBytes * out.height);
    for (std::uint32_t y = 0; y < out.height; ++y)
        TIFFReadScanline(t, out.bytes.data() + rowBytes * y, y, 0);
    TIFFClose(t);
    return out;
}

// An 8-bit RGB (or RGBA, straight alpha) TIFF of image in the given layout; the
// layout's size, samples and photometric come from the image.
inline QByteArray tiffOf(const QImage &image, TiffLayout l = {})
{
    const bool alpha = image.hasAlphaChannel();
    const QImage src = image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    l.width = src.width();
    l.height = src.height();
    l.samples = alpha ? 4 : 3;
    l.bits = 8;
    l.photometric = l.compression == COMPRESSION_JPEG ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB;
    if (alpha)
        l.alpha = EXTRASAMPLE_UNASSALPHA;
    return tiffPicture(l, [&](int y, std::uint8_t *row) {
        std::memcpy(row, src.constScanLine(y), size_t(src.width()) * size_t(l.samples));
    });
}

} // namespace testpics
