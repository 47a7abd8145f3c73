// TIFF read through libtiff's RGBA interface, a strip or a row of tiles at a time.

#include "compose/rowreaders.h"
#include "compose/tiffmetadata.h"
#include "platform/failure.h"
#include "platform/japanese.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <tiffio.h>

namespace kestrovia {

namespace {

[[noreturn]] void fail(const QString &reason) { throw Failure(reason); }

// ---- TIFF (libtiff) ----

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

class TiffRows : public RowReader {
public:
    explicit TiffRows(const PictureSource &source)
        : m_source(source)
    {
        TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, onMessage, this);
        TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, this);
        // No single allocation of libtiff's own beyond this: strips and tiles are read
        // one at a time.
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(512) << 20);
        // "m": read, never map (another program may shorten the file meanwhile).
        m_h.tif = m_tif = TIFFClientOpenExt("picture", "rm", this, onRead, onWrite, onSeek, onClose, onSize, nullptr,
                                            nullptr, options);
        TIFFOpenOptionsFree(options);
        if (!m_tif)
            failed();
        std::uint32_t w = 0, h = 0;
        TIFFGetField(m_tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(m_tif, TIFFTAG_IMAGELENGTH, &h);
        if (w == 0 || h == 0)
            failed();
        checkPictureSize(w, h);
        stored = size = QSize(int(w), int(h));
        extent = QRectF(0, 0, w, h);
        checkDataCovers();

        char message[1024] = {};
        if (!TIFFRGBAImageOK(m_tif, message))
            fail(ja("この種類の TIFF ファイルには対応していません"));
        if (!TIFFRGBAImageBegin(&m_image, m_tif, 0, message))
            failed();
        m_h.begun = true;
        // Rows in stored order: the orientation is applied as an EXIF one, like every
        // other format's.
        orientation = m_image.orientation >= 1 && m_image.orientation <= 8 ? m_image.orientation : 1;
        m_image.req_orientation = m_image.orientation;
        alpha = m_image.alpha != 0;
        // A band is a strip or a row of tiles: each is decoded once.
        std::uint32_t rowsPerStrip = h, tileHeight = 0;
        if (TIFFIsTiled(m_tif))
            TIFFGetField(m_tif, TIFFTAG_TILELENGTH, &tileHeight);
        else
            TIFFGetFieldDefaulted(m_tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        const std::uint32_t band = TIFFIsTiled(m_tif) ? tileHeight : rowsPerStrip;
        chunk = int(std::clamp<std::uint32_t>(band, 1, h));
        m_band.resize(size_t(w) * size_t(chunk));
        memory =
            qint64(m_band.size()) * 4 + qint64(TIFFIsTiled(m_tif) ? TIFFTileSize64(m_tif) : TIFFStripSize64(m_tif)) * 2;

        // The EXIF, GPS, XMP and IPTC of the first directory, read on their own with
        // bounded reads; the profile as libtiff found it.
        blocks = tiffMetadataBlocks(source);
        std::uint32_t iccLength = 0;
        void *icc = nullptr;
        if (TIFFGetField(m_tif, TIFFTAG_ICCPROFILE, &iccLength, &icc) && icc && iccLength < (32u << 20))
            blocks.icc = QByteArray(static_cast<const char *>(icc), qsizetype(iccLength));
    }
    void read(std::uint8_t *const *rows, int n) override
    {
        for (int i = 0; i < n; ++i) {
            const int y = m_row + i;
            if (y >= m_bandFirst + m_bandRows || y < m_bandFirst) {
                m_bandFirst = y - y % chunk;
                m_bandRows = std::min(chunk, size.height() - m_bandFirst);
                m_image.row_offset = m_bandFirst;
                m_image.col_offset = 0;
                if (!TIFFRGBAImageGet(&m_image, m_band.data(), std::uint32_t(size.width()), std::uint32_t(m_bandRows))
                    || !m_error.isEmpty())
                    failed();
            }
            // libtiff's ABGR, premultiplied, to straight ARGB32.
            const std::uint32_t *s = m_band.data() + size_t(y - m_bandFirst) * size_t(size.width());
            auto *d = reinterpret_cast<std::uint32_t *>(rows[i]);
            for (int x = 0; x < size.width(); ++x) {
                const std::uint32_t p = s[x];
                d[x] = straightPixel(alpha ? TIFFGetA(p) : 255, TIFFGetR(p), TIFFGetG(p), TIFFGetB(p));
            }
        }
        m_row += n;
    }

private:
    [[noreturn]] void failed() const
    {
        fail(m_cut ? cutShortReason(PictureFormat::Tiff) : damagedReason(PictureFormat::Tiff));
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
        }
        std::uint16_t compression = COMPRESSION_NONE, bits = 1, samples = 1;
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_COMPRESSION, &compression);
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        const qint64 w = size.width(), h = size.height();
        const double bytes = double(w) * h * bits * samples / 8;
        const double expansion = tiffExpansion(compression);
        const bool fax = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3
                         || compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTRLEW;
        // Fax coding spends at least a bit on every row.
        if ((expansion > 0 && bytes > double(data) * expansion * 1.01 + 64) || (fax && h > data * 8 + 8))
            failTooLittleData(PictureFormat::Tiff, w, h);
    }

    static int onMessage(TIFF *, void *self, const char *, const char *, va_list)
    {
        static_cast<TiffRows *>(self)->m_error = QStringLiteral("error");
        return 1;
    }
    static int onWarning(TIFF *, void *, const char *, const char *, va_list) { return 1; }
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

    PictureSource m_source;
    qint64 m_offset = 0;
    bool m_cut = false;
    QString m_error;
    TiffHandles m_h;
    TIFF *m_tif = nullptr;
    TIFFRGBAImage &m_image = m_h.image;
    std::vector<std::uint32_t> m_band;
    int m_bandFirst = 0, m_bandRows = 0, m_row = 0;
};

} // namespace

std::unique_ptr<RowReader> openTiffRows(const PictureSource &source) { return std::make_unique<TiffRows>(source); }

} // namespace kestrovia
