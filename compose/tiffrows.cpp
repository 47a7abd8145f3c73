// TIFF read by rows, a few rows held at a time whatever the strips.
//
// libtiff reads the directory. Strips in the common codings (none, PackBits, LZW,
// Deflate) are decoded here while their bytes are read (tiffcodings.h), each plane
// on its own; libtiff decodes the other codings (fax, JPEG, ...) a row at a time,
// and tiles a row of tiles at a time. Samples of 1 to 16 bits, 32-bit integers and
// 32- or 64-bit floats (0 to 1) become 8-bit colour: grey, RGB, palette, and CMYK
// through its own profile or the standard one. What only libtiff turns into colour
// (old-style JPEG, YCbCr without JPEG, CIE L*a*b*, LogLuv) goes through its RGBA
// interface, a strip or a row of tiles at a time. A large picture drawn small is
// averaged over k x k blocks as it is read, as a bitmap is.

#include "compose/colorprofile.h"
#include "compose/jpegrules.h"
#include "compose/memorybudget.h"
#include "compose/rowreaders.h"
#include "compose/tiffcodings.h"
#include "compose/tiffmetadata.h"
#include "platform/failure.h"
#include "platform/japanese.h"
#include "platform/stop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <tiffio.h>

namespace kestrovia {

namespace {

[[noreturn]] void fail(const QString &reason) { throw Failure(reason); }

QString unsupportedTiff() { return ja("この種類の TIFF ファイルには対応していません"); }

// How many bytes a byte of the data can stand for at most, by compression: a bound
// that refuses a few hundred bytes declaring gigabytes. 0: no bound is known.
double tiffExpansion(int compression)
{
    switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return 64; // a 2-byte run stands for 128 bytes
    case COMPRESSION_LZW: return 4096.0 * 8 / 9; // a code of 9 bits or more, at most 4096 bytes
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return 1032;
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG: return 4096; // a bit for every 8 x 8 block of each sample
    default: return 0;
    }
}

// libtiff's handle and picture reader, freed also when a constructor throws.
struct TiffHandles {
    TIFF *tif = nullptr;
    TIFFRGBAImage image{};
    bool begun = false;
    ~TiffHandles()
    {
        if (begun)
            TIFFRGBAImageEnd(&image);
        if (tif)
            TIFFClose(tif);
    }
};

// What the directory says about the samples of a pixel.
struct SampleLayout {
    std::uint32_t width = 0;
    int bits = 1;
    int count = 1; // samples a pixel, extra ones included
    bool floats = false;
    int photometric = PHOTOMETRIC_MINISBLACK; // JPEG's YCbCr comes out as RGB
    int alphaAt = -1; // the sample holding alpha
    bool premultiplied = false;
    bool planes = false; // each sample in a plane of its own

    // The bytes of a row with the samples of a pixel together.
    size_t rowBytes() const { return (size_t(width) * size_t(count) * size_t(bits) + 7) / 8; }
    // The bytes of a row of one plane.
    size_t planeRowBytes() const { return planes ? (size_t(width) * size_t(bits) + 7) / 8 : rowBytes(); }
    bool grey() const { return photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE; }
};

// A row of samples, the samples of a pixel together, into 8-bit colour.
class SampleConverter {
public:
    SampleConverter(const SampleLayout &s, const std::vector<std::uint32_t> &palette, const QByteArray &profile)
        : m_s(s)
        , m_palette(palette)
    {
        for (int v = 0; v < 256; ++v)
            m_grey[size_t(v)] = std::uint8_t(s.photometric == PHOTOMETRIC_MINISWHITE ? 255 - v : v);
        for (int v = 0; v < 256; ++v)
            for (int bit = 0; bit < 8; ++bit)
                m_bitsToGrey[size_t(v)][size_t(bit)] = m_grey[(v >> (7 - bit)) & 1 ? 255 : 0];
        if (s.photometric == PHOTOMETRIC_SEPARATED) {
            m_cmyk = std::make_unique<CmykConverter>(profile);
            m_inks.resize(size_t(s.width) * 4);
        }
        m_eight.resize(size_t(s.width) * size_t(s.count));
    }

    // A grey picture without alpha: one byte a pixel, in out or (when the samples
    // are those bytes already) in row itself.
    const std::uint8_t *grey(const std::uint8_t *row, std::uint8_t *out)
    {
        const std::uint32_t w = m_s.width;
        if (m_s.bits == 1 && m_s.count == 1) {
            // Eight pixels a byte: a fax page of 400 megapixels is mostly this.
            for (std::uint32_t x = 0; x < w / 8; ++x)
                std::memcpy(out + 8 * size_t(x), m_bitsToGrey[row[x]].data(), 8);
            for (std::uint32_t x = w / 8 * 8; x < w; ++x)
                out[x] = m_bitsToGrey[row[x / 8]][x % 8];
            return out;
        }
        const std::uint8_t *v = eightBit(row);
        if (m_s.count == 1 && m_s.photometric == PHOTOMETRIC_MINISBLACK)
            return v;
        for (std::uint32_t x = 0; x < w; ++x)
            out[x] = m_grey[v[size_t(x) * size_t(m_s.count)]];
        return out;
    }

    // Any picture: Format_RGB32, or straight ARGB32 with alpha.
    void pixels(const std::uint8_t *row, std::uint32_t *out)
    {
        const std::uint8_t *v = eightBit(row);
        const size_t n = size_t(m_s.count);
        const std::uint32_t w = m_s.width;
        switch (m_s.photometric) {
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_MINISWHITE:
            for (std::uint32_t x = 0; x < w; ++x)
                out[x] = 0xFF000000u | (0x010101u * m_grey[v[x * n]]);
            break;
        case PHOTOMETRIC_PALETTE:
            for (std::uint32_t x = 0; x < w; ++x)
                out[x] = m_palette[v[x * n]];
            break;
        case PHOTOMETRIC_SEPARATED:
            // The converter takes CMYK as Adobe stores it in JPEGs: 255 is no ink.
            for (size_t i = 0; i < size_t(w) * 4; ++i)
                m_inks[i] = std::uint8_t(255 - v[i / 4 * n + i % 4]);
            m_cmyk->convert(m_inks.data(), out, int(w));
            break;
        default:
            for (std::uint32_t x = 0; x < w; ++x)
                out[x] =
                    0xFF000000u | (std::uint32_t(v[x * n]) << 16) | (std::uint32_t(v[x * n + 1]) << 8) | v[x * n + 2];
        }
        if (m_s.alphaAt < 0)
            return;
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint32_t a = v[x * n + size_t(m_s.alphaAt)], p = out[x];
            out[x] = m_s.premultiplied ? straightPixel(a, (p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF)
                                       : (a << 24) | (p & 0xFFFFFFu);
        }
    }

private:
    // Every sample as 8 bits (palette indices as they are): 16-bit ones rounded,
    // floats from 0..1, clamped.
    const std::uint8_t *eightBit(const std::uint8_t *row)
    {
        const size_t n = size_t(m_s.width) * size_t(m_s.count);
        std::uint8_t *out = m_eight.data();
        const auto clamped = [](double v) {
            return std::uint8_t(v >= 1 ? 255 : v > 0 ? std::lround(v * 255) : 0); // NaN: 0
        };
        switch (m_s.bits) {
        case 8: return row;
        case 16:
            for (size_t i = 0; i < n; ++i) {
                std::uint16_t v;
                std::memcpy(&v, row + 2 * i, 2);
                out[i] = std::uint8_t((v + 128u) / 257u);
            }
            return out;
        case 32:
            for (size_t i = 0; i < n; ++i) {
                std::uint32_t v;
                std::memcpy(&v, row + 4 * i, 4);
                float f;
                std::memcpy(&f, &v, 4);
                out[i] = m_s.floats ? clamped(f) : std::uint8_t((std::uint64_t(v) * 255 + 0x7FFFFFFFu) / 0xFFFFFFFFu);
            }
            return out;
        case 64:
            for (size_t i = 0; i < n; ++i) {
                double d;
                std::memcpy(&d, row + 8 * i, 8);
                out[i] = clamped(d);
            }
            return out;
        default: {
            // 1, 2 or 4 bits, highest first; scaled to 0..255 except palette indices.
            const int bits = m_s.bits;
            const unsigned mask = (1u << bits) - 1;
            const unsigned scale = m_s.photometric == PHOTOMETRIC_PALETTE ? 1 : 255 / mask;
            for (size_t i = 0; i < n; ++i) {
                const size_t at = i * size_t(bits);
                out[i] = std::uint8_t(((row[at / 8] >> (8 - bits - int(at % 8))) & mask) * scale);
            }
            return out;
        }
        }
    }

    SampleLayout m_s;
    std::vector<std::uint32_t> m_palette;
    std::array<std::uint8_t, 256> m_grey{};
    std::array<std::array<std::uint8_t, 8>, 256> m_bitsToGrey{}; // a byte of 1-bit samples as 8 greys
    std::unique_ptr<CmykConverter> m_cmyk;
    std::vector<std::uint8_t> m_eight, m_inks;
};

// How the rows' samples come out of the file.
enum class Route {
    Strips, // strips in a coding decoded here, each plane as it is read
    Scanlines, // strips in another coding, a row at a time by libtiff
    Bands, // tiles, or planes in another coding: a row of tiles or a strip at a time by libtiff
    Rgba, // libtiff's RGBA interface, a strip or a row of tiles at a time
};

class TiffRows : public RowReader {
public:
    TiffRows(const PictureSource &source, const NeedFunction &need)
        : m_source(source)
    {
        TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, onMessage, this);
        TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, this);
        // libtiff allocates what the directory asks for (its tables, a strip or a
        // tile read whole) before anything can be reserved: no single allocation of
        // its own may pass what the whole budget holds.
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(memorybudget::capacity()));
        // "m": read, never map (another program may shorten the file meanwhile).
        m_h.tif = m_tif = TIFFClientOpenExt("picture", "rm", this, onRead, onWrite, onSeek, onClose, onSize, nullptr,
                                            nullptr, options);
        TIFFOpenOptionsFree(options);
        if (!m_tif)
            failed();
        // What libtiff reported while it still read the directory (a tag it cannot
        // use, an unknown field) left the picture readable; only decoding errors count.
        m_error.clear();
        std::uint32_t w = 0, h = 0;
        TIFFGetField(m_tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(m_tif, TIFFTAG_IMAGELENGTH, &h);
        if (w == 0 || h == 0)
            failed();
        checkPictureSize(w, h);
        stored = QSize(int(w), int(h));
        checkDataCovers();

        // The EXIF, GPS, XMP and IPTC of the first directory, read on their own with
        // bounded reads; the profile as libtiff found it.
        blocks = tiffMetadataBlocks(source);
        std::uint32_t iccLength = 0;
        void *icc = nullptr;
        if (TIFFGetField(m_tif, TIFFTAG_ICCPROFILE, &iccLength, &icc) && icc && iccLength < (32u << 20))
            blocks.icc = QByteArray(static_cast<const char *>(icc), qsizetype(iccLength));

        m_route = chooseRoute();
        if (m_route == Route::Rgba)
            beginRgba();
        else
            beginSamples();

        // Averaged over k x k blocks when drawn much smaller, as bitmaps are (a box of
        // 8 blurs a bilevel page visibly); not with transparency, whose colours would
        // need weighing by it.
        m_k = alpha ? 1 : reductionFor(w, h, storedNeed(need, stored, orientation), {4, 2});
        size = QSize(int((w + unsigned(m_k) - 1) / unsigned(m_k)), int((h + unsigned(m_k) - 1) / unsigned(m_k)));
        extent = QRectF(0, 0, double(w) / m_k, double(h) / m_k);
        chunk = 16;
        memory = heldBytes();
    }

    void read(std::uint8_t *const *rows, int n) override
    {
        if (!m_started)
            start();
        const int h = stored.height();
        for (int i = 0; i < n; ++i) {
            auto *d = reinterpret_cast<std::uint32_t *>(rows[i]);
            if (m_k == 1) {
                storedRow(d);
                continue;
            }
            const int first = (m_row + i) * m_k, count = std::min(m_k, h - first);
            std::fill(m_sums.begin(), m_sums.end(), 0u);
            for (int r = 0; r < count; ++r)
                addToSums();
            averageSums(count, d);
        }
        m_row += n;
    }

private:
    [[noreturn]] void failed() const
    {
        fail(m_cut ? cutShortReason(PictureFormat::Tiff) : damagedReason(PictureFormat::Tiff));
    }
    void check() const
    {
        if (!m_error.isEmpty())
            failed();
    }

    // Every strip or tile within the file, and all of them together able to hold
    // the picture under its compression.
    void checkDataCovers()
    {
        const bool tiled = TIFFIsTiled(m_tif);
        const std::uint32_t pieces = tiled ? TIFFNumberOfTiles(m_tif) : TIFFNumberOfStrips(m_tif);
        std::uint64_t *offsets = nullptr, *counts = nullptr;
        if (!TIFFGetField(m_tif, tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS, &offsets)
            || !TIFFGetField(m_tif, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts) || !offsets
            || !counts)
            failed();
        qint64 data = 0;
        for (std::uint32_t i = 0; i < pieces; ++i) {
            if (offsets[i] > std::uint64_t(m_source.size()) || counts[i] > std::uint64_t(m_source.size())
                || offsets[i] + counts[i] > std::uint64_t(m_source.size()))
                fail(cutShortReason(PictureFormat::Tiff));
            data += qint64(counts[i]);
            m_largestPiece = std::max(m_largestPiece, qint64(counts[i]));
        }
        std::uint16_t compression = COMPRESSION_NONE, bits = 1, samples = 1;
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_COMPRESSION, &compression);
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        const qint64 w = stored.width(), h = stored.height();
        const double bytes = double(w) * h * bits * samples / 8;
        const double expansion = tiffExpansion(compression);
        const bool fax = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3
                         || compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTRLEW;
        // Fax coding spends at least a bit on every row.
        if ((expansion > 0 && bytes > double(data) * expansion * 1.01 + 64) || (fax && h > data * 8 + 8))
            failTooLittleData(PictureFormat::Tiff, w, h);
        m_compression = compression;
    }

    // Reads the sample layout and decides how the rows are read.
    Route chooseRoute()
    {
        SampleLayout &s = m_layout;
        s.width = std::uint32_t(stored.width());
        std::uint16_t bits = 1, count = 1, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG, extras = 0;
        std::uint16_t *extraKinds = nullptr;
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_SAMPLESPERPIXEL, &count);
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_SAMPLEFORMAT, &format);
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_EXTRASAMPLES, &extras, &extraKinds);
        s.bits = bits;
        s.count = count;
        s.floats = format == SAMPLEFORMAT_IEEEFP;
        s.planes = planar == PLANARCONFIG_SEPARATE && count > 1;
        // Which extra sample is alpha, as libtiff's own reader decides it.
        bool hasAlpha = false;
        if (extras >= 1 && extraKinds) {
            hasAlpha = extraKinds[0] == EXTRASAMPLE_ASSOCALPHA || extraKinds[0] == EXTRASAMPLE_UNASSALPHA
                       || (extraKinds[0] == EXTRASAMPLE_UNSPECIFIED && count > 3);
            s.premultiplied = extraKinds[0] != EXTRASAMPLE_UNASSALPHA;
        }
        std::uint16_t photometric = 0;
        if (!TIFFGetField(m_tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
            const bool fax = m_compression == COMPRESSION_CCITTRLE || m_compression == COMPRESSION_CCITTFAX3
                             || m_compression == COMPRESSION_CCITTFAX4 || m_compression == COMPRESSION_CCITTRLEW;
            photometric = count - extras >= 3 ? PHOTOMETRIC_RGB : fax ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
        }
        if (extras == 0 && count == 4 && photometric == PHOTOMETRIC_RGB) {
            hasAlpha = true;
            s.premultiplied = true;
            extras = 1;
        }
        const int colours = count - extras;
        s.alphaAt = hasAlpha ? colours : -1;
        // Only the codings that can have a predictor know the tag (libtiff reports an
        // error when asked for its default in any other).
        std::uint16_t predictor = PREDICTOR_NONE;
        if (TIFFGetField(m_tif, TIFFTAG_PREDICTOR, &predictor) && predictor != 0)
            m_predictor = predictor;

        orientation = 1;
        std::uint16_t o = 1;
        if (TIFFGetFieldDefaulted(m_tif, TIFFTAG_ORIENTATION, &o) && o >= 1 && o <= 8)
            orientation = o;
        alpha = hasAlpha;

        if (m_compression == COMPRESSION_OJPEG || format == SAMPLEFORMAT_INT)
            return Route::Rgba;
        if (photometric == PHOTOMETRIC_YCBCR && m_compression == COMPRESSION_JPEG && !s.planes && bits == 8) {
            // libjpeg gives the colours as RGB.
            TIFFSetField(m_tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
            photometric = PHOTOMETRIC_RGB;
        }
        std::uint16_t inks = INKSET_CMYK;
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_INKSET, &inks);
        const bool known =
            ((photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) && colours >= 1)
            || (photometric == PHOTOMETRIC_RGB && colours >= 3)
            || (photometric == PHOTOMETRIC_PALETTE && colours >= 1 && bits <= 8 && !s.floats)
            || (photometric == PHOTOMETRIC_SEPARATED && inks == INKSET_CMYK && colours >= 4);
        const bool depth = s.floats ? bits == 32 || bits == 64
                                    : bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 32;
        if (!known || !depth || (s.planes && bits % 8 != 0))
            return Route::Rgba;
        s.photometric = photometric;
        if (!TIFFIsCODECConfigured(m_compression))
            fail(unsupportedTiff());
        if (photometric == PHOTOMETRIC_PALETTE) {
            std::uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
            if (!TIFFGetField(m_tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b)
                failed();
            const size_t n = size_t(1) << bits;
            // Old writers stored 8-bit colour maps; libtiff takes those as they are.
            const bool eightBit = std::all_of(r, r + n, [](std::uint16_t v) { return v < 256; })
                                  && std::all_of(g, g + n, [](std::uint16_t v) { return v < 256; })
                                  && std::all_of(b, b + n, [](std::uint16_t v) { return v < 256; });
            const auto c = [eightBit](std::uint16_t v) {
                return eightBit ? v : (std::uint32_t(v) * 255 + 32767) / 65535;
            };
            m_palette.resize(256, 0xFF000000u);
            for (size_t i = 0; i < n; ++i)
                m_palette[i] = 0xFF000000u | (c(r[i]) << 16) | (c(g[i]) << 8) | c(b[i]);
        }
        if (TIFFIsTiled(m_tif))
            return Route::Bands;
        if (decodesStrips(m_compression) && !oldStyleLzw())
            return Route::Strips;
        return s.planes ? Route::Bands : Route::Scanlines;
    }

    bool oldStyleLzw()
    {
        if (m_compression != COMPRESSION_LZW || TIFFGetStrileByteCount(m_tif, 0) < 2)
            return false;
        std::uint8_t first[2] = {};
        m_source.read(qint64(TIFFGetStrileOffset(m_tif, 0)), first, 2);
        std::uint16_t fill = FILLORDER_MSB2LSB;
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_FILLORDER, &fill);
        if (fill == FILLORDER_LSB2MSB)
            TIFFReverseBits(first, 2);
        return isOldStyleLzw(first);
    }

    void beginSamples()
    {
        const SampleLayout &s = m_layout;
        greyRows = s.grey();
        rgbProfile = s.photometric != PHOTOMETRIC_SEPARATED;
        m_greyOut = s.grey() && s.alphaAt < 0;
        std::uint32_t rowsPerStrip = std::uint32_t(stored.height());
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        m_rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, std::uint32_t(stored.height()));
        const std::uint32_t perPlane = (std::uint32_t(stored.height()) + m_rowsPerStrip - 1) / m_rowsPerStrip;
        const int planes = s.planes ? s.count : 1;
        if (TIFFIsTiled(m_tif)) {
            std::uint32_t tw = 0, th = 0;
            TIFFGetField(m_tif, TIFFTAG_TILEWIDTH, &tw);
            TIFFGetField(m_tif, TIFFTAG_TILELENGTH, &th);
            if (tw == 0 || th == 0 || tw % 16 || th % 16)
                failed();
            m_tileWidth = tw;
            m_bandRows = int(std::min<std::uint32_t>(th, std::uint32_t(stored.height())));
        } else {
            if (TIFFNumberOfStrips(m_tif) != perPlane * std::uint32_t(planes))
                failed();
            m_bandRows = int(m_rowsPerStrip);
            m_stripsPerPlane = perPlane;
        }
        if (m_route == Route::Strips) {
            const int stride = s.planes ? 1 : s.count;
            // A predictor the samples cannot have is refused before any row is read.
            std::vector<std::uint8_t> probe(size_t(std::max(8, s.bits / 8 * stride * 2)), 0);
            if ((m_predictor == PREDICTOR_FLOATINGPOINT && !s.floats)
                || !undoPredictor(probe.data(), probe.size(), m_predictor, s.bits, stride, false))
                fail(unsupportedTiff());
            std::uint16_t fill = FILLORDER_MSB2LSB;
            TIFFGetFieldDefaulted(m_tif, TIFFTAG_FILLORDER, &fill);
            m_reverseBits = fill == FILLORDER_LSB2MSB;
            m_swap = TIFFIsByteSwapped(m_tif);
        } else if (m_route == Route::Scanlines && std::uint64_t(TIFFScanlineSize64(m_tif)) != s.rowBytes()) {
            fail(unsupportedTiff());
        }
    }

    void beginRgba()
    {
        char message[1024] = {};
        if (!TIFFRGBAImageOK(m_tif, message))
            fail(unsupportedTiff());
        if (!TIFFRGBAImageBegin(&m_image, m_tif, 0, message))
            failed();
        m_h.begun = true;
        // Rows in stored order: the orientation is applied as an EXIF one, like every
        // other format's.
        orientation = m_image.orientation >= 1 && m_image.orientation <= 8 ? m_image.orientation : 1;
        m_image.req_orientation = m_image.orientation;
        alpha = m_image.alpha != 0;
        // A band is a strip or a row of tiles: each is decoded once.
        std::uint32_t band = std::uint32_t(stored.height());
        if (TIFFIsTiled(m_tif))
            TIFFGetField(m_tif, TIFFTAG_TILELENGTH, &band);
        else
            TIFFGetFieldDefaulted(m_tif, TIFFTAG_ROWSPERSTRIP, &band);
        m_bandRows = int(std::clamp<std::uint32_t>(band, 1, std::uint32_t(stored.height())));
    }

    // What reading holds besides the rows asked for, reserved by the caller before
    // the first row: every buffer here is made at the first read.
    qint64 heldBytes() const
    {
        const qint64 w = stored.width(), rowBytes = qint64(m_layout.rowBytes());
        const qint64 tileOrStrip = TIFFIsTiled(m_tif) ? TIFFTileSize64(m_tif) : TIFFStripSize64(m_tif);
        // Rows of samples, as 8 bits, as pixels and as grey; the block sums; CMYK;
        // libtiff's directory and tables.
        qint64 bytes = rowBytes * 2 + w * m_layout.count + w * 9 + qint64(size.width()) * 12 + (qint64(1) << 20);
        switch (m_route) {
        case Route::Strips: bytes += (m_layout.planes ? m_layout.count : 1) * kStripDecoderBytes; break;
        // libtiff reads a strip or a tile whole before it decodes it.
        case Route::Scanlines: bytes += m_largestPiece + TIFFScanlineSize64(m_tif); break;
        case Route::Bands: bytes += qint64(m_bandRows) * rowBytes + tileOrStrip + m_largestPiece; break;
        case Route::Rgba: bytes += qint64(m_bandRows) * w * 4 + tileOrStrip * 2 + m_largestPiece; break;
        }
        return bytes;
    }

    void start()
    {
        m_started = true;
        const qint64 w = stored.width();
        if (m_route == Route::Rgba) {
            m_rgbaBand.resize(size_t(w) * size_t(m_bandRows));
        } else {
            m_converter = std::make_unique<SampleConverter>(m_layout, m_palette, blocks.icc);
            m_samples.resize(m_layout.rowBytes());
            if (m_route == Route::Strips)
                m_planes.resize(m_layout.planes ? size_t(m_layout.count) : 1);
            if (m_route == Route::Strips && m_layout.planes)
                m_planeRow.resize(m_layout.planeRowBytes());
            if (m_route == Route::Bands) {
                m_band.resize(size_t(m_bandRows) * m_layout.rowBytes());
                m_piece.resize(size_t(TIFFIsTiled(m_tif) ? TIFFTileSize64(m_tif) : TIFFStripSize64(m_tif)));
            }
        }
        if (m_greyOut)
            m_grey.resize(size_t(w));
        if (m_k > 1) {
            m_line.resize(size_t(w));
            m_sums.resize(size_t(size.width()) * (m_greyOut ? 1 : 3));
        }
    }

    // The next stored row as pixels.
    void storedRow(std::uint32_t *d)
    {
        if (m_route == Route::Rgba) {
            rgbaRow(d);
        } else if (m_greyOut) {
            const std::uint8_t *g = m_converter->grey(nextSamples(), m_grey.data());
            for (int x = 0; x < stored.width(); ++x)
                d[x] = 0xFF000000u | (0x010101u * g[x]);
        } else {
            m_converter->pixels(nextSamples(), d);
        }
    }

    // The next stored row added to the block sums.
    void addToSums()
    {
        const int w = stored.width(), k = m_k, whole = w / k;
        if (m_greyOut) {
            const std::uint8_t *g = m_converter->grey(nextSamples(), m_grey.data());
            switch (k) {
            case 2: addBlocks<2>(g, whole); break;
            case 4: addBlocks<4>(g, whole); break;
            default: addBlocks<8>(g, whole); break;
            }
            for (int x = whole * k; x < w; ++x)
                m_sums[size_t(whole)] += g[x];
            return;
        }
        storedRow(m_line.data());
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = m_line[size_t(x)];
            std::uint32_t *sum = &m_sums[size_t(x / k) * 3];
            sum[0] += p & 0xFF;
            sum[1] += (p >> 8) & 0xFF;
            sum[2] += (p >> 16) & 0xFF;
        }
    }
    // The greys of the whole blocks of a row added to their sums.
    template <int K> void addBlocks(const std::uint8_t *g, int blocks)
    {
        for (int b = 0; b < blocks; ++b) {
            std::uint32_t s = 0;
            for (int i = 0; i < K; ++i)
                s += g[b * K + i];
            m_sums[size_t(b)] += s;
        }
    }

    // Each output pixel the rounded mean of its block; the last blocks of a row hold
    // only the w mod k pixels left.
    void averageSums(int rows, std::uint32_t *d) const
    {
        const int w = stored.width();
        for (int ox = 0; ox < size.width(); ++ox) {
            const std::uint32_t n = std::uint32_t(std::min(m_k, w - ox * m_k) * rows);
            const auto mean = [n](std::uint32_t s) { return (s + n / 2) / n; };
            if (m_greyOut) {
                d[ox] = 0xFF000000u | (0x010101u * mean(m_sums[size_t(ox)]));
            } else {
                const std::uint32_t *s = &m_sums[size_t(ox) * 3];
                d[ox] = 0xFF000000u | (mean(s[2]) << 16) | (mean(s[1]) << 8) | mean(s[0]);
            }
        }
    }

    // The next stored row of samples, those of a pixel together.
    const std::uint8_t *nextSamples()
    {
        // Rows can take long (a 32767-pixel fax row, a strip's worth of LZW): a stop
        // request is answered every few rows.
        if (++m_storedRead % 16 == 0)
            checkPoint();
        const int y = m_storedRow++;
        switch (m_route) {
        case Route::Strips: stripRow(m_samples.data()); break;
        case Route::Scanlines:
            if (TIFFReadScanline(m_tif, m_samples.data(), std::uint32_t(y), 0) < 0)
                failed();
            check();
            break;
        case Route::Bands: bandRow(y, m_samples.data()); break;
        case Route::Rgba: break;
        }
        return m_samples.data();
    }

    // A row of each plane from the strips decoded here.
    void stripRow(std::uint8_t *row)
    {
        const SampleLayout &s = m_layout;
        const size_t bytes = s.planeRowBytes(), width = size_t(s.bits) / 8;
        for (size_t p = 0; p < m_planes.size(); ++p) {
            Plane &plane = m_planes[p];
            if (!plane.decoder || plane.rowInStrip == m_rowsPerStrip) {
                const std::uint32_t strip = std::uint32_t(p) * m_stripsPerPlane + plane.strip++;
                plane.decoder = stripDecoder(m_compression, m_source, qint64(TIFFGetStrileOffset(m_tif, strip)),
                                             qint64(TIFFGetStrileByteCount(m_tif, strip)), m_reverseBits);
                plane.rowInStrip = 0;
            }
            ++plane.rowInStrip;
            std::uint8_t *to = s.planes ? m_planeRow.data() : row;
            if (!plane.decoder->decode(to, bytes))
                failed();
            undoPredictor(to, bytes, m_predictor, s.bits, s.planes ? 1 : s.count, m_swap);
            if (s.planes)
                for (std::uint32_t x = 0; x < s.width; ++x)
                    std::memcpy(row + (size_t(x) * size_t(s.count) + p) * width, to + size_t(x) * width, width);
        }
    }

    // A row out of the band of rows libtiff decoded last: a row of tiles, or a strip
    // of each plane.
    void bandRow(int y, std::uint8_t *row)
    {
        const SampleLayout &s = m_layout;
        const size_t rowBytes = s.rowBytes();
        if (y >= m_bandFirst + m_bandRows || m_bandFirst < 0) {
            m_bandFirst = y - y % m_bandRows;
            const int rows = std::min(m_bandRows, stored.height() - m_bandFirst);
            const int planes = s.planes ? s.count : 1;
            const size_t width = size_t(s.bits) / 8;
            const bool tiled = TIFFIsTiled(m_tif);
            const size_t pieceRow = size_t(tiled ? TIFFTileRowSize64(m_tif) : s.planeRowBytes());
            const size_t pixelBits = size_t(s.planes ? 1 : s.count) * size_t(s.bits);
            for (int p = 0; p < planes; ++p) {
                const std::uint32_t across = tiled ? s.width : 1;
                for (std::uint32_t x0 = 0; x0 < across; x0 += tiled ? m_tileWidth : 1) {
                    const tmsize_t got =
                        tiled ? TIFFReadTile(m_tif, m_piece.data(), x0, std::uint32_t(m_bandFirst), 0, std::uint16_t(p))
                              : TIFFReadEncodedStrip(m_tif,
                                                     std::uint32_t(p) * m_stripsPerPlane
                                                         + std::uint32_t(m_bandFirst) / m_rowsPerStrip,
                                                     m_piece.data(), tmsize_t(m_piece.size()));
                    if (got < 0)
                        failed();
                    check();
                    const std::uint32_t x1 = tiled ? std::min(s.width, x0 + m_tileWidth) : s.width;
                    for (int r = 0; r < rows; ++r) {
                        const std::uint8_t *from = m_piece.data() + size_t(r) * pieceRow;
                        std::uint8_t *to = m_band.data() + size_t(r) * rowBytes;
                        if (!s.planes) {
                            const size_t at = size_t(x0) * pixelBits / 8;
                            std::memcpy(to + at, from, std::min(pieceRow, rowBytes - at));
                            continue;
                        }
                        for (std::uint32_t x = x0; x < x1; ++x)
                            std::memcpy(to + (size_t(x) * size_t(s.count) + size_t(p)) * width,
                                        from + size_t(x - x0) * width, width);
                    }
                }
            }
        }
        std::memcpy(row, m_band.data() + size_t(y - m_bandFirst) * rowBytes, rowBytes);
    }

    // A row through libtiff's RGBA interface: ABGR, premultiplied, to straight ARGB32.
    void rgbaRow(std::uint32_t *d)
    {
        if (++m_storedRead % 16 == 0)
            checkPoint();
        const int y = m_storedRow++, w = stored.width();
        if (y >= m_bandFirst + m_bandRows || m_bandFirst < 0) {
            m_bandFirst = y - y % m_bandRows;
            m_image.row_offset = m_bandFirst;
            m_image.col_offset = 0;
            const int rows = std::min(m_bandRows, stored.height() - m_bandFirst);
            if (!TIFFRGBAImageGet(&m_image, m_rgbaBand.data(), std::uint32_t(w), std::uint32_t(rows)))
                failed();
            check();
        }
        const std::uint32_t *s = m_rgbaBand.data() + size_t(y - m_bandFirst) * size_t(w);
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = s[x];
            d[x] = straightPixel(alpha ? TIFFGetA(p) : 255, TIFFGetR(p), TIFFGetG(p), TIFFGetB(p));
        }
    }

    static int onMessage(TIFF *, void *self, const char *, const char *, va_list)
    {
        static_cast<TiffRows *>(self)->m_error = QStringLiteral("error");
        return 1;
    }
    // libtiff's JPEG codec passes libjpeg's warnings on as text, under its name.
    static int onWarning(TIFF *, void *self, const char *module, const char *format, va_list args)
    {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        if (module && std::strcmp(module, "JPEGLib") == 0 && jpegWarningTextLosesData(QByteArray(text)))
            static_cast<TiffRows *>(self)->m_error = QStringLiteral("damaged");
        return 1;
    }
    static tmsize_t onRead(thandle_t h, void *to, tmsize_t n)
    {
        auto *self = static_cast<TiffRows *>(h);
        const qint64 got = self->m_source.read(self->m_offset, to, qint64(n));
        self->m_offset += got;
        if (got < qint64(n))
            self->m_cut = true;
        return tmsize_t(got);
    }
    static tmsize_t onWrite(thandle_t, void *, tmsize_t) { return 0; }
    static toff_t onSeek(thandle_t h, toff_t at, int whence)
    {
        auto *self = static_cast<TiffRows *>(h);
        const qint64 base = whence == SEEK_CUR ? self->m_offset : whence == SEEK_END ? self->m_source.size() : 0;
        self->m_offset = base + qint64(at);
        return toff_t(self->m_offset);
    }
    static int onClose(thandle_t) { return 0; }
    static toff_t onSize(thandle_t h) { return toff_t(static_cast<TiffRows *>(h)->m_source.size()); }

    // One plane's strips, decoded in order.
    struct Plane {
        std::unique_ptr<StripDecoder> decoder;
        std::uint32_t strip = 0, rowInStrip = 0;
    };

    PictureSource m_source;
    qint64 m_offset = 0;
    bool m_cut = false;
    QString m_error;
    TiffHandles m_h;
    TIFF *m_tif = nullptr;
    TIFFRGBAImage &m_image = m_h.image;

    Route m_route = Route::Rgba;
    SampleLayout m_layout;
    int m_compression = COMPRESSION_NONE, m_predictor = PREDICTOR_NONE;
    qint64 m_largestPiece = 0; // bytes of the largest strip or tile
    std::vector<std::uint32_t> m_palette;
    bool m_greyOut = false; // rows converted to one grey byte a pixel
    bool m_reverseBits = false, m_swap = false;
    std::uint32_t m_rowsPerStrip = 1, m_stripsPerPlane = 1, m_tileWidth = 0;
    int m_k = 1;

    bool m_started = false;
    std::unique_ptr<SampleConverter> m_converter;
    std::vector<Plane> m_planes;
    std::vector<std::uint8_t> m_samples, m_planeRow, m_band, m_piece, m_grey;
    std::vector<std::uint32_t> m_rgbaBand, m_line, m_sums;
    int m_bandFirst = -1, m_bandRows = 1;
    int m_row = 0, m_storedRow = 0;
    qint64 m_storedRead = 0;
};

} // namespace

std::unique_ptr<RowReader> openTiffRows(const PictureSource &source, const NeedFunction &need)
{
    return std::make_unique<TiffRows>(source, need);
}

} // namespace kestrovia
