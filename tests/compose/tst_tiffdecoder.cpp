// TIFF in every layout the decoder reads, against pictures worked out here from the
// same samples; libtiff's own test pictures; pictures far larger than their data,
// converted or refused within a bound; one huge strip costing a band and stopping
// within a few rows.

#include "compose/jobcompose.h"
#include "compose/memorybudget.h"
#include "compose/picturedecoder.h"
#include "compose/sourcefile.h"
#include "platform/stop.h"
#include "tests/common/formatpictures.h"
#include "tests/common/hostilestreams.h"
#include "tests/common/testpictures.h"
#include "tests/common/tiffpictures.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

using namespace kestrovia;
using namespace testpics;

namespace {

// Sample s of pixel (x, y), 0 to 1: smooth enough for JPEG, over the whole range.
double sampleAt(int x, int y, int s) { return 0.5 + 0.5 * std::sin(x * 0.37 + y * 0.23 + s * 2.1); }

// A picture's samples as the layout stores them: v from lo to hi.
struct Samples {
    TiffLayout layout;
    double lo = 0, hi = 1;
    double value(int x, int y, int s) const { return lo + (hi - lo) * sampleAt(x, y, s); }
    quint32 integer(double v) const
    {
        const double mask = std::pow(2.0, layout.bits) - 1;
        return quint32(std::llround(std::clamp(v, 0.0, 1.0) * mask));
    }
    void fill(int y, std::uint8_t *row) const
    {
        const TiffLayout &l = layout;
        std::memset(row, 0, (size_t(l.width) * size_t(l.samples) * size_t(l.bits) + 7) / 8);
        for (int x = 0; x < l.width; ++x)
            for (int s = 0; s < l.samples; ++s) {
                const size_t i = size_t(x) * size_t(l.samples) + size_t(s);
                const double v = value(x, y, s);
                if (l.sampleFormat == SAMPLEFORMAT_IEEEFP && l.bits == 32) {
                    const float f = float(v);
                    std::memcpy(row + 4 * i, &f, 4);
                } else if (l.sampleFormat == SAMPLEFORMAT_IEEEFP) {
                    std::memcpy(row + 8 * i, &v, 8);
                } else if (l.bits < 8) {
                    row[i * size_t(l.bits) / 8] |=
                        std::uint8_t(integer(v) << (8 - l.bits - int(i * size_t(l.bits) % 8)));
                } else if (l.bits == 8) {
                    row[i] = std::uint8_t(integer(v));
                } else if (l.bits == 16) {
                    const std::uint16_t q = std::uint16_t(integer(v));
                    std::memcpy(row + 2 * i, &q, 2);
                } else {
                    const std::uint32_t q = integer(v);
                    std::memcpy(row + 4 * i, &q, 4);
                }
            }
    }
    // What a sample means in 8 bits: floats clamped to 0..1, integers scaled.
    int eightBit(int x, int y, int s) const
    {
        const double v = value(x, y, s);
        if (layout.sampleFormat == SAMPLEFORMAT_IEEEFP)
            return int(std::lround(std::clamp(v, 0.0, 1.0) * 255));
        return int(std::lround(integer(v) * 255.0 / (std::pow(2.0, layout.bits) - 1)));
    }
    QRgb pixel(int x, int y) const
    {
        const TiffLayout &l = layout;
        const int a = l.alpha >= 0 ? eightBit(x, y, l.samples - 1) : 255;
        switch (l.photometric) {
        case PHOTOMETRIC_PALETTE: {
            const int n = 1 << l.bits, i = int(integer(value(x, y, 0)));
            return qRgb(l.colormap[i] / 257, l.colormap[n + i] / 257, l.colormap[2 * n + i] / 257);
        }
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_MINISWHITE: {
            const int g = l.photometric == PHOTOMETRIC_MINISWHITE ? 255 - eightBit(x, y, 0) : eightBit(x, y, 0);
            return qRgba(g, g, g, a);
        }
        default: return qRgba(eightBit(x, y, 0), eightBit(x, y, 1), eightBit(x, y, 2), a);
        }
    }
    QByteArray file() const
    {
        return tiffPicture(layout, [this](int y, std::uint8_t *row) { fill(y, row); });
    }
    QImage picture() const
    {
        QImage img(layout.width, layout.height, layout.alpha >= 0 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                img.setPixel(x, y, pixel(x, y));
        return img;
    }
};

// The associated alpha the layout declares: colours stored multiplied by it.
QByteArray premultipliedFile(const Samples &p)
{
    return tiffPicture(p.layout, [&p](int y, std::uint8_t *row) {
        p.fill(y, row);
        for (int x = 0; x < p.layout.width; ++x) {
            std::uint8_t *px = row + x * 4;
            for (int c = 0; c < 3; ++c)
                px[c] = std::uint8_t((px[c] * px[3] + 127) / 255);
        }
    });
}

// The mean of each k x k block (fewer at the right and bottom edges), rounded.
QImage blockMeans(const QImage &img, int k)
{
    QImage out((img.width() + k - 1) / k, (img.height() + k - 1) / k, QImage::Format_RGB32);
    for (int oy = 0; oy < out.height(); ++oy)
        for (int ox = 0; ox < out.width(); ++ox) {
            int sum[3] = {}, n = 0;
            for (int y = oy * k; y < std::min(img.height(), oy * k + k); ++y)
                for (int x = ox * k; x < std::min(img.width(), ox * k + k); ++x, ++n) {
                    const QRgb c = img.pixel(x, y);
                    sum[0] += qRed(c);
                    sum[1] += qGreen(c);
                    sum[2] += qBlue(c);
                }
            out.setPixel(ox, oy, qRgb((sum[0] + n / 2) / n, (sum[1] + n / 2) / n, (sum[2] + n / 2) / n));
        }
    return out;
}

// The largest difference of any channel, alpha included; colours under full
// transparency do not count.
int largestDifference(const QImage &a, const QImage &b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (!qAlpha(p) && !qAlpha(q))
                continue;
            for (int shift : {0, 8, 16, 24})
                largest = std::max(largest, std::abs(int((p >> shift) & 0xFF) - int((q >> shift) & 0xFF)));
        }
    return largest;
}

// The file with the first directory's StripByteCounts (one LONG) set to bytes.
QByteArray withStripBytes(QByteArray file, quint32 bytes)
{
    const auto le = [&file](qsizetype at, int n) {
        quint32 v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = (v << 8) | quint8(file[at + i]);
        return v;
    };
    const qsizetype ifd = le(4, 4);
    for (quint32 i = 0; i < le(ifd, 2); ++i) {
        const qsizetype e = ifd + 2 + 12 * qsizetype(i);
        if (le(e, 2) == TIFFTAG_STRIPBYTECOUNTS)
            file.replace(e + 8, 4, hostile::le32(bytes));
    }
    return file;
}

// The process's memory in kB as /proc/self/status gives it ("VmRSS", "VmHWM").
qint64 statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field)) + 1).trimmed().split(' ').first().toLongLong();
    return -1;
}

struct Peaks {
    qint64 reserved = 0; // the most reserved from the budget at once
    qint64 resident = -1; // how far resident memory grew; -1: not measured
};

// What f reserves at most, and how far the process's resident memory grows past
// what it held before (the kernel's peak is reset first; not measured where it
// cannot be, nor under AddressSanitizer, which holds freed memory back).
template <typename F> Peaks peaksOf(const F &f)
{
    Peaks p;
    memorybudget::setObserver([&](qint64 bytes) { p.reserved = std::max(p.reserved, memorybudget::inUse() + bytes); });
    const qint64 before = statusKb("VmRSS:");
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    bool measured = clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
    clear.close();
#if defined(__SANITIZE_ADDRESS__)
    measured = false;
#endif
    try {
        f();
    } catch (...) {
        memorybudget::setObserver({});
        throw;
    }
    memorybudget::setObserver({});
    if (measured && before >= 0)
        p.resident = std::max<qint64>(0, statusKb("VmHWM:") - before) << 10;
    return p;
}

} // namespace

class TestTiffDecoder : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        memorybudget::setObserver({});
        memorybudget::setLimits(0, 0);
        setSourceReadObserver({});
    }

    // Each layout decoded whole to the picture its samples mean, and averaged over
    // 2 x 2 blocks when drawn small.
    void layouts_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QImage>("expected"); // as stored
        QTest::addColumn<int>("orientation");
        QTest::addColumn<int>("tolerance");
        // Floats as vips writes them, 0 to 1, here from -0.1 to 1.1 to be clamped.
        const auto add = [](const char *name, TiffLayout l, int tolerance = 0) {
            Samples p;
            p.layout = l;
            p.layout.width = l.width ? l.width : 37;
            p.layout.height = l.height ? l.height : 23;
            if (l.sampleFormat == SAMPLEFORMAT_IEEEFP && l.alpha < 0) {
                p.lo = -0.1;
                p.hi = 1.1;
            }
            if (l.alpha == EXTRASAMPLE_ASSOCALPHA)
                p.lo = 0.5; // alpha below half would lose the colours' last bits
            const QByteArray file = l.alpha == EXTRASAMPLE_ASSOCALPHA ? premultipliedFile(p) : p.file();
            // Lossy JPEG data means what libtiff's own reader makes of it.
            const QImage expected = l.compression == COMPRESSION_JPEG
                                        ? libtiffPicture(file).convertToFormat(QImage::Format_RGB32)
                                        : p.picture();
            QTest::newRow(name) << file << expected << std::max(1, l.orientation) << tolerance;
        };
        constexpr int black = PHOTOMETRIC_MINISBLACK, white = PHOTOMETRIC_MINISWHITE;
        constexpr int lzw = COMPRESSION_LZW, deflate = COMPRESSION_ADOBE_DEFLATE, packBits = COMPRESSION_PACKBITS;
        constexpr int floats = SAMPLEFORMAT_IEEEFP, differences = PREDICTOR_HORIZONTAL;
        QList<quint16> palette;
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 256; ++i)
                palette << quint16(((i * (37 + 60 * c)) % 256) * 257);
        QList<quint16> palette16;
        for (int c = 0; c < 3; ++c)
            palette16 += palette.mid(256 * c, 16);

        // clang-format off
        // Strips decoded here, in every coding, one strip or many, planes apart.
        add("RGB 8, strips of 7", {.rowsPerStrip = 7});
        add("RGB 8, LZW, one strip", {.compression = lzw});
        add("RGB 8, LZW, one strip over many pieces", {.width = 300, .height = 600, .compression = lzw});
        add("RGB 8, Deflate, one strip over many pieces", {.width = 300, .height = 600, .compression = deflate});
        add("RGB 8, PackBits, one strip over many pieces", {.width = 300, .height = 600, .compression = packBits});
        add("RGB 8, LZW with predictor, bits stored lowest first",
            {.compression = lzw, .predictor = differences, .rowsPerStrip = 7, .fillOrder = FILLORDER_LSB2MSB});
        add("RGB 8, PackBits, strips of 5", {.compression = packBits, .rowsPerStrip = 5});
        add("RGB 8, Deflate with predictor, planes",
            {.compression = COMPRESSION_DEFLATE, .predictor = differences, .planes = true, .rowsPerStrip = 7});
        add("RGB 16, LZW with predictor", {.bits = 16, .compression = lzw, .predictor = differences});
        add("RGB 16, big-endian, Deflate with predictor",
            {.bits = 16, .compression = deflate, .predictor = differences, .rowsPerStrip = 7, .bigEndian = true});
        add("RGB 16, big-endian, planes", {.bits = 16, .planes = true, .rowsPerStrip = 7, .bigEndian = true});
        add("grey 1", {.photometric = black, .samples = 1, .bits = 1, .rowsPerStrip = 7});
        add("grey 2, min-is-white", {.photometric = white, .samples = 1, .bits = 2});
        add("grey 4, PackBits", {.photometric = black, .samples = 1, .bits = 4, .compression = packBits});
        add("grey 8, min-is-white, LZW", {.photometric = white, .samples = 1, .compression = lzw, .rowsPerStrip = 7});
        add("grey 16, Deflate with predictor",
            {.photometric = black, .samples = 1, .bits = 16, .compression = deflate, .predictor = differences});
        add("grey 32-bit integers", {.photometric = black, .samples = 1, .bits = 32, .rowsPerStrip = 7});
        add("grey float 32, Deflate, floating point predictor", {.photometric = black, .samples = 1, .bits = 32,
            .sampleFormat = floats, .compression = deflate, .predictor = PREDICTOR_FLOATINGPOINT});
        // (libtiff 4.5 writes that predictor wrong in big-endian files.)
        add("RGB float 32, LZW, floating point predictor",
            {.bits = 32, .sampleFormat = floats, .compression = lzw, .predictor = PREDICTOR_FLOATINGPOINT});
        add("RGB float 32, big-endian", {.bits = 32, .sampleFormat = floats, .rowsPerStrip = 7, .bigEndian = true});
        add("grey float 64, LZW with predictor", {.photometric = black, .samples = 1, .bits = 64,
            .sampleFormat = floats, .compression = lzw, .predictor = differences});
        add("grey and alpha float 64, big-endian, planes", {.photometric = black, .samples = 2, .bits = 64,
            .sampleFormat = floats, .planes = true, .alpha = EXTRASAMPLE_UNASSALPHA, .bigEndian = true});
        add("palette 4, PackBits", {.photometric = PHOTOMETRIC_PALETTE, .samples = 1, .bits = 4,
            .compression = packBits, .colormap = palette16});
        add("palette 8, LZW", {.photometric = PHOTOMETRIC_PALETTE, .samples = 1, .compression = lzw,
            .rowsPerStrip = 7, .colormap = palette});
        add("grey and alpha 8, planes",
            {.photometric = black, .samples = 2, .planes = true, .alpha = EXTRASAMPLE_UNASSALPHA});
        add("RGBA 8 premultiplied, LZW", {.samples = 4, .compression = lzw, .alpha = EXTRASAMPLE_ASSOCALPHA}, 3);
        add("RGBA 16, Deflate",
            {.samples = 4, .bits = 16, .compression = COMPRESSION_DEFLATE, .alpha = EXTRASAMPLE_UNASSALPHA});
        add("RGB 8, orientation 6", {.rowsPerStrip = 7, .orientation = 6});
        add("grey 8, LZW, orientation 3", {.photometric = black, .samples = 1, .compression = lzw, .orientation = 3});
        // Tiles, and the codings only libtiff decodes.
        add("RGB 8, tiles of 16, Deflate with predictor",
            {.compression = deflate, .predictor = differences, .tileSide = 16});
        add("RGB 16, big-endian, tiles of 16, planes, LZW",
            {.bits = 16, .compression = lzw, .planes = true, .tileSide = 16, .bigEndian = true});
        add("grey 1, tiles of 16", {.photometric = black, .samples = 1, .bits = 1, .tileSide = 16});
        add("grey 1, fax group 4, min-is-white",
            {.photometric = white, .samples = 1, .bits = 1, .compression = COMPRESSION_CCITTFAX4, .rowsPerStrip = 7});
        add("grey 1, fax group 3, one strip",
            {.photometric = white, .samples = 1, .bits = 1, .compression = COMPRESSION_CCITTFAX3});
        add("RGB 8, JPEG, strips of 16",
            {.photometric = PHOTOMETRIC_YCBCR, .compression = COMPRESSION_JPEG, .rowsPerStrip = 16});
        add("RGB 8, JPEG, tiles of 16",
            {.photometric = PHOTOMETRIC_YCBCR, .compression = COMPRESSION_JPEG, .tileSide = 16});
        if (TIFFIsCODECConfigured(COMPRESSION_ZSTD)) {
            add("RGB 8, Zstandard, strips of 7", {.compression = COMPRESSION_ZSTD, .rowsPerStrip = 7});
            add("RGB 16, Zstandard with predictor, planes", {.bits = 16, .compression = COMPRESSION_ZSTD,
                .predictor = differences, .planes = true, .rowsPerStrip = 7});
        }
        // clang-format on
    }
    void layouts()
    {
        QFETCH(QByteArray, file);
        QFETCH(QImage, expected);
        QFETCH(int, orientation);
        QFETCH(int, tolerance);
        const DecodedPicture p = decodePictureData(file);
        QCOMPARE(p.image.format(), expected.format());
        const QImage turned = upright(expected, orientation);
        QCOMPARE(p.image.size(), turned.size());
        const int whole = largestDifference(p.image, turned);
        QVERIFY2(whole <= tolerance, qPrintable(QString::number(whole)));
        if (expected.hasAlphaChannel())
            return; // transparency is never averaged
        // Drawn at a sixth of its size, the picture is averaged over 2 x 2 blocks as
        // stored (the partial ones at its stored right and bottom), then turned.
        const DecodedPicture reduced = decodePictureData(file, QSize(turned.width() / 6, turned.height() / 6));
        const QImage means = upright(blockMeans(expected, 2), orientation);
        QCOMPARE(reduced.image.size(), means.size());
        const int averaged = largestDifference(reduced.image, means);
        QVERIFY2(averaged <= std::max(1, tolerance), qPrintable(QString::number(averaged)));
    }

    // Pictures from libtiff's own tests (tests/data/libtiff), against libtiff's
    // reading of the whole picture at once through its RGBA interface, or against
    // the reference the suite ships with them.
    void libtiffSamples_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reference"); // empty: libtiff's own RGBA reading
        QTest::addColumn<int>("tolerance");
        QTest::newRow("bilevel min-is-white") << "miniswhite-1c-1b.tiff"
                                              << "miniswhite-1c-1b.pbm" << 0;
        // libtiff truncates 16-bit colour maps where we round.
        QTest::newRow("palette 4") << "palette-1c-4b.tiff"
                                   << "" << 1;
        QTest::newRow("grey and premultiplied alpha in planes") << "minisblack-2c-8b-alpha.tiff"
                                                                << "" << 1;
        QTest::newRow("JPEG in tiles") << "quad-tile.jpg.tiff"
                                       << "" << 0;
        QTest::newRow("old-style JPEG, 4:2:0, one strip") << "ojpeg_zackthecat_subsamp22_single_strip.tiff"
                                                          << "" << 0;
        QTest::newRow("old-style JPEG without RowsPerStrip") << "ojpeg_single_strip_no_rowsperstrip.tiff"
                                                             << "" << 0;
    }
    void libtiffSamples()
    {
        QFETCH(QString, file);
        QFETCH(QString, reference);
        QFETCH(int, tolerance);
        const QString path = QFINDTESTDATA("../data/libtiff/" + file);
        QVERIFY(!path.isEmpty());
        const QImage want =
            reference.isEmpty()
                ? libtiffPicture(readFile(path))
                : QImage(QFINDTESTDATA("../data/libtiff/" + reference)).convertToFormat(QImage::Format_ARGB32);
        QVERIFY(!want.isNull());
        const QImage got = decodePicture(path).image.convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(got.size(), want.size());
        const int d = largestDifference(got, want);
        QVERIFY2(d <= tolerance, qPrintable(QString::number(d)));
    }

    // A few kilobytes declaring hundreds of megapixels, within every limit: the
    // picture is converted small within its bound, or refused at its own size
    // before its pixels are made, with the reason.
    void largePicturesStayBounded_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("says"); // empty: converted
        const QByteArray fax = hostile::g4White(32767, 12207), deflate = hostile::deflateGrey(20000, 20000);
        QTest::newRow("1.6 KB G4, 32767 x 12207 white, to 1600 x 1200") << fax << "1600*1200"
                                                                        << "";
        QTest::newRow("1.6 KB G4 at its own size") << fax << ""
                                                   << "メモリでは処理できません";
        QTest::newRow("389 KB Deflate, 20000 x 20000 grey, to 1600 x 1200") << deflate << "1600*1200"
                                                                            << "";
        QTest::newRow("389 KB Deflate at its own size") << deflate << ""
                                                        << "メモリでは処理できません";
    }
    void largePicturesStayBounded()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, size);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("large.tif"));
        writeFile(path, file);
        // The bound itself: a budget of 250 MB refuses whatever would pass it, and
        // the memory really taken stays within it.
        memorybudget::setLimits(qint64(250) << 20, qint64(250) << 20);
        ComposedJob out;
        QString why;
        const Peaks peaks =
            peaksOf([&] { why = failureOf([&] { out = composeJobFile(readJob(fittedRow(path, size))); }); });
        QVERIFY2(peaks.resident <= qint64(250) << 20, qPrintable(QString::number(peaks.resident >> 20)));
        if (!says.isEmpty()) {
            QVERIFY2(why.contains(says), qPrintable(why));
            return;
        }
        QVERIFY2(why.isEmpty(), qPrintable(why));
        // The picture itself, fitted in the middle: the flat grey or white, not a
        // grey left by a decoder that gave up.
        QCOMPARE(out.canvas.size(), QSize(1600, 1200));
        const QRgb middle = out.canvas.pixel(800, 600);
        QVERIFY2(middle == qRgb(255, 255, 255) || middle == qRgb(128, 128, 128), qPrintable(describe(middle)));
    }

    // A picture in one strip of megabytes costs a band of rows, as the same picture
    // in strips of 64 rows does, not the strip.
    void oneStripCostsABand_data()
    {
        QTest::addColumn<int>("compression");
        QTest::newRow("LZW") << int(COMPRESSION_LZW);
        QTest::newRow("Deflate") << int(COMPRESSION_ADOBE_DEFLATE);
        QTest::newRow("PackBits") << int(COMPRESSION_PACKBITS);
        QTest::newRow("none") << int(COMPRESSION_NONE);
    }
    void oneStripCostsABand()
    {
        QFETCH(int, compression);
        const QImage picture = noise(2400, 1600);
        QTemporaryDir dir;
        Peaks peaks[2];
        for (int rows : {0, 64}) {
            TiffLayout l;
            l.compression = compression;
            l.rowsPerStrip = rows;
            const QString path = dir.filePath(QStringLiteral("%1.tif").arg(rows));
            writeFile(path, tiffOf(picture, l));
            peaks[rows ? 1 : 0] = peaksOf([&] { composeJobFile(readJob(fittedRow(path, QStringLiteral("600*400")))); });
        }
        const qint64 strip = qint64(picture.width()) * picture.height() * 3;
        const QString figures = QStringLiteral("reserved %1 vs %2, resident %3 vs %4")
                                    .arg(peaks[0].reserved)
                                    .arg(peaks[1].reserved)
                                    .arg(peaks[0].resident)
                                    .arg(peaks[1].resident);
        QVERIFY2(peaks[0].reserved <= peaks[1].reserved + (1 << 20) && peaks[0].reserved < strip / 2,
                 qPrintable(figures));
        if (peaks[0].resident >= 0)
            QVERIFY2(peaks[0].resident <= peaks[1].resident + (4 << 20) && peaks[0].resident < strip / 2,
                     qPrintable(figures));
    }

    // A stop raised halfway through one huge strip ends the decode within a few
    // rows: little of the file is read after it.
    void stopEndsOneStripWithinRows_data()
    {
        QTest::addColumn<int>("compression");
        QTest::newRow("LZW") << int(COMPRESSION_LZW);
        QTest::newRow("Deflate") << int(COMPRESSION_ADOBE_DEFLATE);
    }
    void stopEndsOneStripWithinRows()
    {
        QFETCH(int, compression);
        const QImage picture = noise(2400, 1600);
        TiffLayout l;
        l.compression = compression;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("one.tif"));
        const QByteArray file = tiffOf(picture, l);
        writeFile(path, file);
        StopFlag flag;
        const qint64 start = sourceBytesRead();
        qint64 atStop = -1;
        setSourceReadObserver([&](qint64 read) {
            if (atStop < 0 && read - start > file.size() / 2) {
                atStop = read;
                flag.requestStop();
            }
        });
        bool stopped = false;
        {
            const StopScope scope(flag);
            try {
                composeJobFile(readJob(fittedRow(path, QStringLiteral("600*400"))));
            } catch (const Stopped &) {
                stopped = true;
            }
        }
        setSourceReadObserver({});
        QVERIFY(stopped);
        // The rows before the next check point, at most as many bytes as their
        // samples (noise does not compress) plus a piece of the strip.
        const qint64 after = sourceBytesRead() - atStop, rowBytes = qint64(picture.width()) * 3;
        QVERIFY2(after <= 16 * rowBytes * 3 / 2 + 64 * 1024, qPrintable(QString::number(after)));
    }

    // LZW in the form libtiff's first releases wrote (codes from their low bit) is
    // left to libtiff, which reads it.
    void oldStyleLzwIsRead()
    {
        QByteArray strip;
        quint32 bits = 0;
        int count = 0;
        const auto put = [&](int code) {
            for (bits |= quint32(code) << count, count += 9; count >= 8; count -= 8, bits >>= 8)
                strip += char(bits);
        };
        put(256);
        for (int i = 0; i < 16; ++i)
            put(i * 16);
        put(257);
        strip += char(bits);
        const QImage got =
            decodePictureData(hostile::tiffStrip(8, 2, COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK, 8, strip)).image;
        QCOMPARE(got.size(), QSize(8, 2));
        for (int i = 0; i < 16; ++i)
            QCOMPARE(got.pixel(i % 8, i / 8), qRgb(i * 16, i * 16, i * 16));
    }

    // Strips whose data ends, or breaks, before their rows do: refused as damaged,
    // never converted with rows made up.
    void damagedStripsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("file");
        const QImage picture = noise(300, 200);
        // (libtiff itself repairs an uncompressed strip's count from the file.)
        for (const auto &[name, compression] : {std::pair{"LZW", COMPRESSION_LZW},
                                                {"Deflate", COMPRESSION_ADOBE_DEFLATE},
                                                {"PackBits", COMPRESSION_PACKBITS}}) {
            TiffLayout l;
            l.compression = compression;
            const QByteArray file = tiffOf(picture, l);
            QTest::addRow("%s, data ends halfway", name) << withStripBytes(file, quint32(file.size() / 2));
            // PackBits has no code that can be wrong.
            if (compression == COMPRESSION_PACKBITS)
                continue;
            QByteArray broken = file;
            broken.replace(broken.size() / 2, 64, QByteArray(64, '\xFF'));
            QTest::addRow("%s, 64 bytes broken", name) << broken;
        }
    }
    void damagedStripsAreRefused()
    {
        QFETCH(QByteArray, file);
        const QString why = failureOf([&] { decodePictureData(file); });
        QVERIFY2(why.contains(QStringLiteral("TIFF ファイルが")), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(TestTiffDecoder)
#include "tst_tiffdecoder.moc"
