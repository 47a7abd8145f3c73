#pragma once
// Pictures read row by row, top to bottom in their stored orientation, for the
// decoders that reduce as they read (resample's RowScaler) and for whole decodes
// alike. Each reader looks at the header first: the format's limits and what its
// data can hold are checked before anything else is read or allocated.

#include "compose/memorybudget.h"
#include "compose/metadatablocks.h"
#include "compose/picturedecoder.h"
#include "compose/pictureformat.h"
#include "compose/sourcefile.h"

#include <QByteArray>
#include <QRectF>
#include <QRgb>
#include <QSize>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>

namespace kestrovia {

// A pixel of straight alpha (Format_ARGB32) from one whose colour is premultiplied
// by its alpha, as TIFF and HEIF may store it; a clear pixel keeps its colour.
inline std::uint32_t straightPixel(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b)
{
    if (a != 255 && a != 0) {
        const auto undo = [a](std::uint32_t c) { return std::min<std::uint32_t>(255, (c * 255 + a / 2) / a); };
        r = undo(r);
        g = undo(g);
        b = undo(b);
    }
    return (a << 24) | (r << 16) | (g << 8) | b;
}

// Straight-alpha pixels laid on the background colour, in place: the same rounding
// for a whole picture and for a band.
inline void flattenRow(std::uint32_t *p, int n, QRgb background)
{
    const std::uint32_t br = qRed(background), bg = qGreen(background), bb = qBlue(background);
    for (int x = 0; x < n; ++x) {
        const std::uint32_t v = p[x], a = v >> 24;
        if (a == 255)
            continue;
        const auto mix = [a](std::uint32_t c, std::uint32_t b) { return (c * a + b * (255 - a) + 127) / 255; };
        p[x] = 0xFF000000u | (mix((v >> 16) & 0xFF, br) << 16) | (mix((v >> 8) & 0xFF, bg) << 8) | mix(v & 0xFF, bb);
    }
}

class RowReader {
public:
    virtual ~RowReader() = default;

    QSize size; // the rows as they come (after a reduction on load)
    QRectF extent; // the part of them that stands for the whole picture
    QSize stored; // the picture's real size, stored orientation
    int orientation = 1; // EXIF orientation still to apply (1..8)
    bool alpha = false; // rows are straight ARGB32 that may be transparent, else RGB32
    bool rgbProfile = true; // whether blocks.icc describes the rows' colours
    // Rows of a grey picture (R = G = B) in the stored greys, which a grey profile in
    // blocks.icc describes: openRowReader then hands them out converted to sRGB.
    bool greyRows = false;
    int chunk = 16; // rows the reader likes to give at a time
    qint64 memory = 0; // bytes the reader holds while it reads, besides the rows asked for
    MetadataBlocks blocks;

    QSize upright() const { return orientation >= 5 ? stored.transposed() : stored; }

    // The next n rows into rows[0..n), size.width() pixels of 4 bytes each. Throws
    // Failure for damaged or cut data.
    virtual void read(std::uint8_t *const *rows, int n) = 0;
    // After the last row: checks the rest of the data (a JPEG's end, a PNG's last
    // chunks) and collects the metadata found there.
    virtual void finish() { }
};

// Every row of the reader into one picture, upright, under a reservation for what
// it holds (the rows, and their turned copy when the EXIF turn moves them), kept
// with it. With a background, straight alpha is laid on it as the rows come and the
// picture is opaque; without, a picture whose alpha is opaque everywhere comes out
// Format_RGB32 and any other Format_ARGB32. Throws as the reader's reads do, and
// Stopped between bands of rows.
struct HeldPicture {
    DecodedPicture picture;
    MemoryReservation memory;
};
HeldPicture readAllRows(RowReader &reader, std::optional<QRgb> background = std::nullopt);

// Opens the picture for reading by rows, reduced on load for the need when the
// format can (JPEG by its reduced inverse DCTs, bitmaps and TIFF by block averages,
// WebP by its own scaled decoding). A grey picture with a grey profile comes out
// converted to sRGB. HEIF is decoded whole by libheif at the first read and
// handed out by rows from its plane. nullptr for GIF, read whole. Throws
// Failure for a header that is damaged, too large, or more than its data can hold.
std::unique_ptr<RowReader> openRowReader(const PictureSource &source, PictureFormat format, const NeedFunction &need);

// A plain colour JPEG (YCbCr sampled 4:4:4, 4:2:2, 4:2:0 or 4:4:0, stored
// upright) read by its colour planes, as stored, its header read; nullptr for any
// other picture.
class PlaneReader {
public:
    virtual ~PlaneReader() = default;
    QSize stored; // the picture's real size
    QSize planes[3]; // Y, Cb, Cr as they come (after a reduction on load)
    QRectF lumaExtent, chromaExtent; // each plane's own, as libjpeg scales it
    int rowsPerChunk[3] = {}; // rows of each plane one read gives
    qint64 memory = 0;
    MetadataBlocks blocks;
    // Starts decoding, reduced on load for the need (asked with the real size);
    // the sizes above are known from then on.
    virtual void start(const NeedFunction &need) = 0;
    // Whether rows are left to read.
    virtual bool more() const = 0;
    // The next chunk of rows of each plane into rows[c][0..rowsPerChunk[c]).
    virtual void read(std::uint8_t *const *const *rows) = 0;
    virtual void finish() = 0;
};
std::unique_ptr<PlaneReader> openPlaneReader(const PictureSource &source);

// The need, asked with the upright size and answered in stored pixels (EXIF
// orientation 1..8 still to apply).
QSize storedNeed(const NeedFunction &need, QSize stored, int orientation);

// The reduction on load a reader takes for a need: the largest of the factors
// (tried in order) that keeps three reduced pixels for each one drawn.
int reductionFor(qint64 w, qint64 h, QSize need, std::initializer_list<int> factors);

// Refuses a picture whose data is too small for the w x h pixels it declares:
// damaged or crafted.
[[noreturn]] void failTooLittleData(PictureFormat format, qint64 w, qint64 h);

// A profile the output should carry: an RGB one (sRGB needs none; a grey or CMYK
// one does not describe decoded RGB pixels).
QByteArray rgbOnly(const QByteArray &profile);

} // namespace kestrovia
