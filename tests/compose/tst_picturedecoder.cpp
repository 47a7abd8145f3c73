// Decoding every format, told apart by content: upright, with alpha and profile,
// reduced on load; CMYK through its own profile or the standard one, grey through a
// grey profile; and the files that must be refused without harm (cut, damaged, too
// large, no regular file).

#include "compose/byteview.h"
#include "compose/colorprofile.h"
#include "compose/formatdecoders.h"
#include "compose/jobcompose.h"
#include "compose/memorybudget.h"
#include "compose/picturedecoder.h"
#include "compose/pictureprobe.h"
#include "compose/quickpicture.h"
#include "compose/sourcefile.h"
#include "compose/tiffmetadata.h"
#include "tests/common/formatpictures.h"
#include "tests/common/hostilefiles.h"
#include "tests/common/testpictures.h"
#include "tests/common/tiffpictures.h"

#include <QColorSpace>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <thread>

#include <webp/decode.h>
#include <zlib.h>

#include <sys/stat.h>

using namespace kestrovia;
using namespace testpics;

namespace {

// Letters for the few colours of the bitmap tables.
QRgb colour(QChar c)
{
    const QString letters = QStringLiteral("rgbw");
    const QRgb colours[] = {kRed, kGreen, kBlue, qRgb(255, 255, 255)};
    return letters.contains(c) ? colours[letters.indexOf(c)] : qRgb(0, 0, 0);
}

QImage lettered(const QStringList &rows)
{
    QImage img(int(rows.first().size()), int(rows.size()), QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, colour(rows[y][x]));
    return img;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out += char(v);
    return out;
}

quint32 crc(const QByteArray &bytes)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())));
}

// A PNG chunk with its CRC, inserted right after IHDR.
QByteArray withPngChunk(const QByteArray &png, const char *type, const QByteArray &data)
{
    const QByteArray body = QByteArray(type, 4) + data;
    return png.left(33) + be32(quint32(data.size())) + body + be32(crc(body)) + png.mid(33);
}

// A PNG that declares w x h pixels and holds none.
QByteArray pngHeaderOnly(quint32 w, quint32 h)
{
    const QByteArray ihdr = "IHDR" + be32(w) + be32(h) + QByteArray("\x08\x02\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + be32(13) + ihdr + be32(crc(ihdr)) + be32(0) + "IDAT" + be32(crc("IDAT"))
           + be32(0) + "IEND" + be32(0xAE426082);
}

// A 2 x 1 PNG, 16 bits a sample, RGB, whose first pixel is its tRNS colour key and
// whose second differs from it only in the low byte of red.
QByteArray pngColourKey16()
{
    const QByteArray ihdr = "IHDR" + be32(2) + be32(1) + QByteArray("\x10\x02\x00\x00\x00", 5);
    const QByteArray key("\x12\x34\x56\x78\x9A\xBC", 6), other("\x12\x35\x56\x78\x9A\xBC", 6);
    const QByteArray raw = QByteArray(1, '\0') + key + other;
    QByteArray z(int(compressBound(uLong(raw.size()))), '\0');
    uLongf zLength = uLongf(z.size());
    compress(reinterpret_cast<Bytef *>(z.data()), &zLength, reinterpret_cast<const Bytef *>(raw.constData()),
             uLong(raw.size()));
    z.truncate(qsizetype(zLength));
    const auto chunk = [](const QByteArray &body) { return be32(quint32(body.size() - 4)) + body + be32(crc(body)); };
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + chunk(ihdr) + chunk("tRNS" + key) + chunk("IDAT" + z) + chunk("IEND");
}

// Left half opaque red; right half a half-transparent green band over transparency.
QImage withAlpha()
{
    QImage img(40, 20, QImage::Format_ARGB32);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            img.setPixel(x, y, x < 20 ? kRed : y < 10 ? qRgba(0, 255, 0, 128) : qRgba(0, 0, 0, 0));
    return img;
}

QImage indexedQuadrants()
{
    return quadrants(40, 20).convertToFormat(QImage::Format_Indexed8, {kRed, kGreen, kBlue, kYellow});
}

// The profile in APP2 chunks of at most chunkSize bytes (numbered from firstSeq),
// right after SOI.
QByteArray withJpegProfile(const QByteArray &jpegData, const QByteArray &profile, int chunkSize = 65519,
                           int firstSeq = 1)
{
    QByteArray segments;
    const int count = int((profile.size() + chunkSize - 1) / chunkSize);
    for (int i = 0; i < count; ++i) {
        const QByteArray part = profile.mid(qsizetype(i) * chunkSize, chunkSize);
        const int len = 2 + 12 + 2 + int(part.size());
        segments += "\xFF\xE2" + QByteArray() + char(len >> 8) + char(len) + QByteArray("ICC_PROFILE\0", 12)
                    + char(firstSeq + i) + char(count) + part;
    }
    return jpegData.left(2) + segments + jpegData.mid(2);
}

// A 16x16 CMYK JPEG of the patch's colour, inverted as Adobe stores it, with
// profile in APP2 chunks of at most chunkSize bytes (numbered from firstSeq).
QByteArray cmykPatchJpeg(const QByteArray &profile, int chunkSize = 65519, int firstSeq = 1)
{
    QByteArray pixels;
    for (int i = 0; i < 16 * 16 * 4; ++i)
        pixels += char(std::lround(255 * (1 - kInk[i % 4])));
    const QByteArray plain =
        tjEncode(reinterpret_cast<const uchar *>(pixels.constData()), 16, 16, 64, TJPF_CMYK, TJSAMP_444, 100);
    return withJpegProfile(plain, profile, chunkSize, firstSeq);
}

// Grey levels in bands 8 pixels wide.
const int kLevels[] = {0, 64, 127, 191, 255};

QImage greyBands()
{
    QImage img(8 * 5, 8, QImage::Format_Grayscale8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < img.width(); ++x)
            img.scanLine(y)[x] = uchar(kLevels[x / 8]);
    return img;
}

QByteArray greyJpeg(const QImage &grey, const QByteArray &profile)
{
    return withJpegProfile(
        tjEncode(grey.constBits(), grey.width(), grey.height(), int(grey.bytesPerLine()), TJPF_GRAY, TJSAMP_GRAY, 100),
        profile);
}

} // namespace

// x265 keeps a few allocations of its own after an encoder is freed; they are not
// ours to free (the program itself only decodes).
extern "C" const char *__lsan_default_suppressions() { return "leak:libx265.so\n"; }

class TestPictureDecoder : public QObject {
    Q_OBJECT

private slots:
    // A JPEG's planes made into RGB give the file's own decode by libjpeg, pixel for
    // pixel: its upsampling of halved chroma and its YCbCr constants. Odd sides give
    // the halved chroma a last column and row of their own.
    void planesAsLibjpegShowsThem_data()
    {
        QTest::addColumn<int>("subsamp");
        QTest::addColumn<QSize>("size");
        for (const QSize size : {QSize(64, 48), QSize(61, 37), QSize(2, 2), QSize(3, 5), QSize(250, 1)}) {
            QTest::addRow("4:4:4 %dx%d", size.width(), size.height()) << int(TJSAMP_444) << size;
            QTest::addRow("4:2:0 %dx%d", size.width(), size.height()) << int(TJSAMP_420) << size;
        }
    }
    void planesAsLibjpegShowsThem()
    {
        QFETCH(int, subsamp);
        QFETCH(QSize, size);
        const QByteArray file = jpeg(photoLike(size.width(), size.height()), 100, subsamp);
        const std::optional<JpegPlanes> planes = decodeJpegPlanes(file, {});
        QVERIFY(planes);
        const auto part = [](const QImage &plane, const QRectF &extent) {
            return plane.copy(QRect(0, 0, int(std::ceil(extent.width())), int(std::ceil(extent.height()))));
        };
        const QImage shown = rgbOfJpegPlanes(part(planes->y, planes->lumaExtent), part(planes->cb, planes->chromaExtent),
                                             part(planes->cr, planes->chromaExtent));
        QImage decoded;
        QVERIFY(decoded.loadFromData(file, "JPEG"));
        QCOMPARE(shown.size(), size);
        QCOMPARE(shown.convertToFormat(QImage::Format_RGB32), decoded.convertToFormat(QImage::Format_RGB32));
    }

    void decodes_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QImage>("expected"); // upright; its format is the one expected
        QTest::addColumn<int>("tolerance"); // 0: every pixel exact; else at quadrant centres
        QTest::addColumn<QByteArray>("icc");

        const QImage q = quadrants(40, 20), alpha = withAlpha(), grey = q.convertToFormat(QImage::Format_Grayscale8);
        QImage tagged = alpha, taggedQ = q;
        tagged.setColorSpace(QColorSpace::AdobeRgb);
        taggedQ.setColorSpace(QColorSpace::AdobeRgb);
        const QByteArray adobe = tagged.colorSpace().iccProfile(), none;

        QTest::newRow("jpeg 4:2:0") << "a.jpg" << jpeg(q, 95, TJSAMP_420) << q << 40 << none;
        QTest::newRow("jpeg progressive") << "b.jpg" << jpeg(q, 95, TJSAMP_444, TJFLAG_PROGRESSIVE) << q << 40 << none;
        // Grey as Qt's own JPEG reader sees it.
        const QByteArray greyJpeg = jpeg(q, 95, TJSAMP_GRAY);
        const QImage greyRgb = QImage::fromData(greyJpeg).convertToFormat(QImage::Format_RGB32);
        QTest::newRow("jpeg greyscale") << "c.jpg" << greyJpeg << greyRgb << 40 << none;
        for (int o = 1; o <= 8; ++o)
            QTest::addRow("jpeg EXIF %d", o)
                << "d.jpg" << withExifOrientation(jpeg(q), o) << upright(q, o) << 40 << none;
        QTest::newRow("jpeg EXIF 6, big-endian TIFF")
            << "e.jpg" << withExifOrientation(jpeg(q), 6, true) << upright(q, 6) << 40 << none;

        QTest::newRow("png alpha, profile") << "a.png" << qtEncoded(tagged, "png") << alpha << 0 << adobe;
        QTest::newRow("png named .jpg") << "photo.jpg" << qtEncoded(alpha, "png") << alpha << 0 << none;
        QTest::newRow("png 16-bit") << "b.png" << qtEncoded(q.convertToFormat(QImage::Format_RGBX64), "png") << q << 0
                                    << none;
        QTest::newRow("png palette") << "c.png" << qtEncoded(indexedQuadrants(), "png") << q << 0 << none;
        QTest::newRow("png grey") << "d.png" << qtEncoded(grey, "png") << grey.convertToFormat(QImage::Format_RGB32)
                                  << 0 << none;
        // The TIFF body of an EXIF block holding only the orientation.
        const QByteArray exif6 = withExifOrientation(QByteArray("\xFF\xD8", 2), 6).mid(2 + 4 + 6);
        QTest::newRow("png eXIf orientation 6")
            << "e.png" << withPngChunk(qtEncoded(q, "png"), "eXIf", exif6) << upright(q, 6) << 0 << none;
        QByteArray stray = jpeg(q);
        stray.insert(stray.indexOf(QByteArray("\xFF\xDB", 2)), "junk");
        QTest::newRow("jpeg, stray bytes before a marker") << "s.jpg" << stray << q << 40 << none;
        QImage keyed(2, 1, QImage::Format_ARGB32);
        keyed.setPixel(0, 0, 0);
        keyed.setPixel(1, 0, qRgb(0x12, 0x56, 0x9A));
        QTest::newRow("png 16-bit colour key") << "k.png" << pngColourKey16() << keyed << 0 << none;
        QTest::newRow("tiff, profile") << "f.tif" << qtEncoded(taggedQ, "tiff") << q << 0 << adobe;
        const QByteArray tiff6 = qtEncoded(q, "tiff", -1, QImageIOHandler::TransformationRotate90);
        QTest::newRow("tiff orientation 6") << "g.tiff" << tiff6 << upright(q, 6) << 0 << none;
        QTest::newRow("webp lossless alpha") << "h.webp" << qtEncoded(alpha, "webp", 100) << alpha << 0 << none;
        QTest::newRow("webp lossy") << "i.webp" << qtEncoded(q, "webp", 90) << q << 24 << none;

        // An animation's first frame, on its canvas; what it leaves clear stays clear.
        QTest::newRow("webp animation") << "a.webp" << webpAnimation(q.size(), {{q, {}}, {alpha, {}}}, 90) << q << 24
                                        << none;
        QTest::newRow("webp animation, alpha frame")
            << "b.webp" << webpAnimation(q.size(), {{alpha, {}}, {q, {}}}, 90) << alpha << 24 << none;
        QTest::newRow("webp animation, lossless alpha frame")
            << "c.webp" << webpAnimation(q.size(), {{alpha, {}}, {q, {}}}, 100) << alpha << 0 << none;
        const QImage corner = quadrants(20, 10);
        QImage placed(40, 20, QImage::Format_ARGB32);
        placed.fill(Qt::transparent);
        QPainter(&placed).drawImage(10, 4, corner);
        QTest::newRow("webp animation, frame inside the canvas")
            << "d.webp" << webpAnimation(q.size(), {{corner, {10, 4}}, {q, {}}}, 100) << placed << 0 << none;

        // Two frames: only the first counts; index 3 is transparent.
        QImage first = indexedQuadrants(), second = first, firstOut = q.convertToFormat(QImage::Format_ARGB32);
        second.fill(1);
        for (int y = 10; y < 20; ++y)
            for (int x = 20; x < 40; ++x)
                firstOut.setPixel(x, y, qRgba(0, 0, 0, 0));
        QTest::newRow("gif first frame") << "j.gif" << gif(40, 20, {first, second}, 3) << firstOut << 0 << none;

        const QImage big = quadrants(64, 48), bigAlpha = withAlpha().scaled(64, 48);
        QTest::newRow("heic, profile") << "k.heic" << heic(big, heif_orientation_normal, adobe) << big << 40 << adobe;
        QTest::newRow("heic turned") << "l.HEIC" << heic(big, heif_orientation_rotate_90_cw) << upright(big, 6) << 40
                                     << none;
        QTest::newRow("heic alpha") << "m.heif" << heic(bigAlpha) << bigAlpha << 40 << none;
    }
    void decodes()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, data);
        QFETCH(QImage, expected);
        QFETCH(int, tolerance);
        if (data.isEmpty())
            QSKIP("libheif has no HEVC encoder here (Debian's libheif1 builds it in with libx265)");

        // Through a file of that name: the name plays no part.
        QTemporaryDir dir;
        writeFile(dir.filePath(fileName), data);
        const DecodedPicture p = decodePicture(dir.filePath(fileName));
        QCOMPARE(p.image.format(), expected.format());
        QCOMPARE(p.size, expected.size());
        QCOMPARE(p.image.size(), expected.size());
        QTEST(p.iccProfile, "icc");
        const int w = expected.width(), h = expected.height();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const QRgb got = p.image.pixel(x, y), want = expected.pixel(x, y);
                // Lossy rows are compared at the quadrant centres only; under full
                // transparency the colour does not matter.
                const bool centre = (x == w / 4 || x == 3 * w / 4) && (y == h / 4 || y == 3 * h / 4);
                if ((tolerance && !centre) || (!qAlpha(got) && !qAlpha(want)))
                    continue;
                if (!near(got, want, tolerance) || std::abs(qAlpha(got) - qAlpha(want)) > tolerance)
                    QFAIL(qPrintable(QStringLiteral("(%1,%2): ARGB %3, expected %4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(got, 8, 16)
                                         .arg(want, 8, 16)));
            }
    }

    // An interlaced PNG is held as its even rows in the file's own samples while the
    // odd ones pass through: every colour type and depth, sizes with one or an odd
    // number of rows, decoded as the same picture stored plainly and as Qt reads it.
    void interlacedPngsAsStoredPlainly_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("depth");
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<QSize>("size");
        struct Kind {
            const char *name;
            int type, depth;
            bool transparent;
        };
        const Kind kinds[] = {
            {"grey 8", PNG_COLOR_TYPE_GRAY, 8, false},       {"grey 2", PNG_COLOR_TYPE_GRAY, 2, false},
            {"grey 16", PNG_COLOR_TYPE_GRAY, 16, false},     {"grey alpha 8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false},
            {"rgb 8", PNG_COLOR_TYPE_RGB, 8, false},         {"rgb 16", PNG_COLOR_TYPE_RGB, 16, false},
            {"rgba 8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false},  {"rgba 16", PNG_COLOR_TYPE_RGB_ALPHA, 16, false},
            {"palette 4", PNG_COLOR_TYPE_PALETTE, 4, false}, {"palette 8 with tRNS", PNG_COLOR_TYPE_PALETTE, 8, true}};
        for (const Kind &k : kinds)
            for (const QSize size : {QSize(37, 23), QSize(16, 1), QSize(1, 9)})
                QTest::addRow("%s, %dx%d", k.name, size.width(), size.height())
                    << k.type << k.depth << k.transparent << size;
    }
    void interlacedPngsAsStoredPlainly()
    {
        QFETCH(int, type);
        QFETCH(int, depth);
        QFETCH(bool, transparent);
        QFETCH(QSize, size);
        QImage picture = noise(size.width(), size.height()).convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, (picture.pixel(x, y) & 0xFFFFFF) | uint((x * 41 + y * 13) % 256) << 24);
        const QByteArray interlaced = pngFile(picture, type, depth, true, transparent);
        const QImage got = decodePictureData(interlaced).image.convertToFormat(QImage::Format_ARGB32);
        const QImage plain = decodePictureData(pngFile(picture, type, depth, false, transparent))
                                 .image.convertToFormat(QImage::Format_ARGB32);
        const QImage qt = QImage::fromData(interlaced, "png").convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(got.size(), size);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const QRgb a = got.pixel(x, y), b = plain.pixel(x, y), c = qt.pixel(x, y);
                // Qt rounds 16-bit samples its own way.
                const int qtTolerance = depth == 16 ? 1 : 0;
                if (a != b || !near(a, c, qtTolerance) || std::abs(qAlpha(a) - qAlpha(c)) > qtTolerance)
                    QFAIL(qPrintable(QStringLiteral("(%1,%2): %3, stored plainly %4, Qt %5")
                                         .arg(x)
                                         .arg(y)
                                         .arg(a, 8, 16)
                                         .arg(b, 8, 16)
                                         .arg(c, 8, 16)));
            }
    }

    // Pictures other programs wrote (tests/data, with their licences), each decoded
    // to its reference to the last bit.
    void decodesSampleFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reference"); // empty: Qt's own reading of the file
        QTest::newRow("PngSuite 16-bit colour key") << "pngsuite/ftbbn2c16.png"
                                                    << "pngsuite/ftbbn2c16.reference.png";
        QTest::newRow("PngSuite 4-bit palette, interlaced") << "pngsuite/basn3p04-31i.png"
                                                            << "";
        QTest::newRow("PngSuite 1-bit grey") << "pngsuite/basn0g01-30.png"
                                             << "";
        QTest::newRow("TIFF strips of 64 rows") << "goimage/video-001-strip-64.tiff"
                                                << "goimage/video-001.png";
        QTest::newRow("TIFF CCITT group 4") << "goimage/bw-gopher_ccittGroup4.tiff"
                                            << "goimage/bw-gopher.png";
        QTest::newRow("BMP V5 with an alpha channel") << "goimage/yellow_rose-small-v5.bmp"
                                                      << "";
        QTest::newRow("WebP lossless palette") << "goimage/gopher-doc.2bpp.lossless.webp"
                                               << "goimage/gopher-doc.2bpp.png";
        // Progressive pictures gathered scan by scan give libjpeg's one-call result.
        QTest::newRow("JPEG progressive 4:1:0") << "gostd/video-001.q50.410.progressive.jpeg"
                                                << "";
        QTest::newRow("JPEG progressive, DC scans apart") << "gostd/video-001.separate.dc.progression.progressive.jpeg"
                                                          << "";
        QTest::newRow("JPEG progressive grey 2x2") << "gostd/video-005.gray.q50.2x2.progressive.jpeg"
                                                   << "";
    }
    void decodesSampleFiles()
    {
        QFETCH(QString, file);
        QFETCH(QString, reference);
        const QString path = QFINDTESTDATA("../data/" + file);
        const QString referencePath = QFINDTESTDATA("../data/" + (reference.isEmpty() ? file : reference));
        QVERIFY(!path.isEmpty() && !referencePath.isEmpty());
        const QImage want = QImage(referencePath).convertToFormat(QImage::Format_ARGB32);
        const QImage got = decodePicture(path).image.convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(got.size(), want.size());
        for (int y = 0; y < got.height(); ++y)
            for (int x = 0; x < got.width(); ++x) {
                const QRgb a = got.pixel(x, y), b = want.pixel(x, y);
                if (a != b && (qAlpha(a) || qAlpha(b)))
                    QFAIL(qPrintable(
                        QStringLiteral("(%1,%2): ARGB %3, expected %4").arg(x).arg(y).arg(a, 8, 16).arg(b, 8, 16)));
            }
    }

    // A reduction by d is taken only while the reduced picture keeps three pixels
    // for each one drawn; its extent is the real size / d.
    void reducedDecodeKeepsRealSize_data()
    {
        QTest::addColumn<bool>("bitmap");
        QTest::addColumn<QSize>("need");
        QTest::addColumn<QSize>("image");
        QTest::addColumn<QRectF>("extent");
        QTest::newRow("half: 400.5 x 300 for 133 x 100")
            << false << QSize(133, 100) << QSize(401, 300) << QRectF(0, 0, 400.5, 300);
        QTest::newRow("134 wide needs full") << false << QSize(134, 100) << QSize(801, 600) << QRectF(0, 0, 801, 600);
        QTest::newRow("bmp 4x4 blocks") << true << QSize(66, 50) << QSize(201, 150) << QRectF(0, 0, 200.25, 150);
        QTest::newRow("bmp exact half stays full")
            << true << QSize(400, 300) << QSize(801, 600) << QRectF(0, 0, 801, 600);
    }
    void reducedDecodeKeepsRealSize()
    {
        QFETCH(bool, bitmap);
        QFETCH(QSize, need);
        const QImage q = quadrants(801, 600);
        const DecodedPicture p = decodePictureData(bitmap ? bmp(q, 24) : jpeg(q), need);
        QCOMPARE(p.size, QSize(801, 600));
        QTEST(p.image.size(), "image");
        QTEST(p.extent, "extent");
        const int r = p.image.width() - 2, b = p.image.height() - 2;
        for (const auto &[at, want] :
             {std::pair{QPoint(1, 1), kRed}, {QPoint(r, 1), kGreen}, {QPoint(1, b), kBlue}, {QPoint(r, b), kYellow}})
            QVERIFY2(near(p.image.pixel(at), want, 40), qPrintable(describe(p.image.pixel(at))));
    }

    // Odd sizes leave partial blocks at the right and bottom edges; each output
    // pixel is the rounded mean of the pixels it covers.
    void bitmapBlocksAverageExactly()
    {
        QImage src(7, 7, QImage::Format_RGB32);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 7; ++x)
                src.setPixel(x, y, qRgb(x * 30, y * 40, (x + y) % 2 ? 255 : 0));
        const DecodedPicture p = decodePictureData(bmp(src, 24), QSize(1, 1));
        QCOMPARE(p.image.size(), QSize(4, 4));
        QCOMPARE(p.image.pixel(0, 0), qRgb(15, 20, 128)); // 2x2: x 0-1, y 0-1
        QCOMPARE(p.image.pixel(3, 0), qRgb(180, 20, 128)); // 1x2: x 6
        QCOMPARE(p.image.pixel(3, 3), qRgb(180, 240, 0)); // 1x1: x 6, y 6
    }

    void bitmapLayouts_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QImage>("expected");
        // 5 x 3 (odd, so every depth pads its rows); palette indices k r g b: 0 1 2 3.
        const QStringList pic{"krgbr", "bgrkg", "rbrbk"}, two{"krkrr", "rkrkk", "rrrkk"};
        const QImage p = lettered(pic), p2 = lettered(two);
        const QList<QRgb> pal{colour('k'), kRed, colour('g'), kBlue};
        QTest::newRow("1-bit palette") << bmp(p2, 1) << p2;
        QTest::newRow("4-bit palette") << bmp(p, 4) << p;
        QTest::newRow("8-bit palette top-down") << bmp(p, 8, true) << p;
        QTest::newRow("8-bit palette OS/2") << bmp(p, 8, false, 12) << p;
        // Stored bottom row first. Bottom: run of 1, three stored as they are (padded),
        // run of 1; middle: five stored; top: a move past the first pixel (left at
        // index 0), four stored, end of bitmap.
        const QByteArray rle8 = bytes({1, 1, 0, 3, 3, 1, 3, 0, 1, 0, 0, 0, // r b r b k
                                       0, 5, 3, 2, 1, 0, 2, 0, 0, 0, // b g r k g
                                       0, 2, 1, 0, 0, 4, 1, 2, 3, 1, 0, 1}); // . r g b r
        QTest::newRow("RLE8") << bmpFile(40, 5, 3, 8, 1, rle8, pal) << p;
        // The same in nibbles; the bottom row's first four pixels are one run of two
        // alternating indices.
        const QByteArray rle4 = bytes({4, 0x13, 1,    0x00, 0,    0, // r b r b k
                                       0, 5,    0x32, 0x10, 0x20, 0, 0,    0, // b g r k g
                                       0, 2,    1,    0,    0,    4, 0x12, 0x31, 0, 1}); // . r g b r
        QTest::newRow("RLE4") << bmpFile(40, 5, 3, 4, 2, rle4, pal) << p;
        const QList<quint32> m565{0xF800, 0x07E0, 0x001F}, rgbx{0xFF000000, 0x00FF0000, 0x0000FF00};
        QTest::newRow("16-bit 555") << bmp(p, 16) << p;
        QTest::newRow("16-bit 565 bit fields") << bmp(p, 16, false, 40, m565) << p;
        QTest::newRow("24-bit") << bmp(p, 24) << p;
        QTest::newRow("24-bit top-down") << bmp(p, 24, true) << p;
        QTest::newRow("24-bit OS/2") << bmp(p, 24, false, 12) << p;
        QTest::newRow("32-bit") << bmp(p, 32) << p;
        QTest::newRow("32-bit bit fields, R G B X") << bmp(p, 32, false, 40, rgbx) << p;
        QTest::newRow("V4 header, 16-bit 565") << bmp(p, 16, false, 108, m565) << p;
        QTest::newRow("V5 header, 32-bit") << bmp(p, 32, false, 124) << p;
        // An alpha mask in a V5 header: alpha that is zero everywhere is a writer's
        // habit and counts as opaque; set anywhere, it is the picture's transparency.
        QByteArray v5 = bmp(p, 32, false, 124, {0xFF0000, 0xFF00, 0xFF});
        v5.replace(66, 4, QByteArray("\0\0\0\xFF", 4));
        QTest::newRow("V5 alpha mask, every alpha zero") << v5 << p;
        QImage translucent = p.convertToFormat(QImage::Format_ARGB32);
        const qsizetype pixelsAt = v5.size() - 5 * 3 * 4;
        for (int row = 0; row < 3; ++row) // stored bottom-up
            for (int x = 0; x < 5; ++x) {
                const int a = 60 * x;
                v5[pixelsAt + row * 20 + x * 4 + 3] = char(a);
                const QRgb c = translucent.pixel(x, 2 - row);
                translucent.setPixel(x, 2 - row, qRgba(qRed(c), qGreen(c), qBlue(c), a));
            }
        QTest::newRow("V5 alpha mask, transparency") << v5 << translucent;
    }
    void bitmapLayouts()
    {
        QFETCH(QByteArray, data);
        const DecodedPicture p = decodePictureData(data);
        QCOMPARE(p.size, QSize(5, 3));
        QTEST(p.image, "expected");
    }

    // clang-format off
    void refusesBrokenFiles_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("says");
        const QByteArray good = jpeg(quadrants(200, 100), 95, TJSAMP_420);
        QTest::newRow("zero bytes") << QByteArray() << "空";
        QTest::newRow("truncated jpeg") << good.left(good.size() / 2) << "途中で切れて";
        // Cut in half and closed with an end marker, as a broken copy often is:
        // libjpeg only warns and would fill the rest with grey.
        QTest::newRow("half jpeg + EOI") << good.left(good.size() / 2) + "\xFF\xD9"
                                         << "途中で切れて";
        const QByteArray progressive = jpeg(quadrants(200, 100), 95, TJSAMP_420, TJFLAG_PROGRESSIVE);
        QTest::newRow("cut progressive jpeg") << progressive.left(progressive.size() * 2 / 3) << "途中で切れて";
        QTest::newRow("jpeg header only") << good.left(4) << "壊れて";
        const QByteArray b = bmp(quadrants(50, 40), 24);
        QTest::newRow("truncated bmp") << b.left(b.size() - 10) << "途中で切れて";
        QTest::newRow("rle 24-bit bmp") << bmpFile(40, 5, 3, 24, 1, QByteArray(48, 0)) << "対応していません";
        // 5 x 3 RLE streams that lie: a run past the row's end, a move below the
        // picture; and one cut before its end-of-bitmap mark.
        const QList<QRgb> kr{colour('k'), kRed};
        QTest::newRow("rle8 run past the row") << bmpFile(40, 5, 3, 8, 1, bytes({6, 1, 0, 1}), kr) << "範囲を超えて";
        QTest::newRow("rle4 move below the picture")
            << bmpFile(40, 5, 3, 4, 2, bytes({0, 2, 0, 9, 0, 1}), kr) << "範囲を超えて";
        QTest::newRow("rle8 cut short") << bmpFile(40, 5, 3, 8, 1, bytes({5, 1, 0, 0, 0, 3, 1}), kr)
                                        << "途中で切れて";
        QTest::newRow("text file") << QByteArray("hello, world") << "対応していない形式";
        // Told apart by content: an MP4 video, and a HEIF brand past the end of the ftyp box.
        QTest::newRow("mp4") << QByteArray("\0\0\0\x18" "ftypisom\0\0\0\0isommp41", 24) << "対応していない形式";
        QTest::newRow("brand beyond the box") << QByteArray("\0\0\0\x10" "ftypisom\0\0\0\0heic", 20)
                                              << "対応していない形式";
        // Headers that ask for more than the pixels could ever be, or more than the
        // data could ever fill: refused from the header, before the memory is taken.
        QTest::newRow("bmp 60000x60000") << bmpFile(40, 60000, 60000, 24, 0, QByteArray(16, 0)) << "大きすぎます";
        QTest::newRow("bmp lying 30000x12336") << bmpFile(40, 30000, 12336, 24, 0, QByteArray(16, 0)) << "途中で切れて";
        QTest::newRow("jpeg 60000x60000") << jpegDeclaring(60000) << "大きすぎます";
        // Within the limits, a few hundred bytes for 400 megapixels: minutes and
        // gigabytes of grey if it were decoded.
        QTest::newRow("tiny jpeg declaring 20000x20000") << jpegDeclaring(20000) << "データが少なすぎます";

        // PNG, GIF, WebP, TIFF and HEIF cut, damaged, or with sizes over the limits.
        const QImage q = quadrants(64, 48);
        const QByteArray png = qtEncoded(q, "png"), gifData = gif(40, 20, {indexedQuadrants()}),
                         webp = qtEncoded(q, "webp", 90), tiff = qtEncoded(q, "tiff"), heicData = heic(q);

        QTest::newRow("png cut") << png.left(png.size() / 2) << "PNG ファイルが途中で切れている";
        QByteArray damaged = png;
        damaged[damaged.indexOf("IDAT") + 20] = char(damaged[damaged.indexOf("IDAT") + 20] ^ 0x55);
        QTest::newRow("png damaged") << damaged << "PNG ファイルが壊れている";
        QTest::newRow("gif cut") << gifData.left(gifData.size() / 2) << "GIF ファイルが途中で切れている";
        QTest::newRow("webp cut") << webp.left(webp.size() / 2) << "WebP ファイルが途中で切れている";
        QTest::newRow("tiff cut") << tiff.left(tiff.size() / 2) << "TIFF ファイルが";
        QTest::newRow("tiff no directory") << QByteArray("II*\0\xFF\xFF\0\0", 8) << "TIFF ファイルが";
        // Told apart by content: a big-endian TIFF, a HEIF named only among the
        // compatible brands.
        QTest::newRow("big-endian tiff, no directory") << QByteArray("MM\0*\0\0\0\x08", 8) << "TIFF ファイル";
        QTest::newRow("heix among the brands")
            << QByteArray("\0\0\0\x18" "ftypabcd\0\0\0\0isomheix", 24) << "HEIF ファイル";
        if (!heicData.isEmpty()) {
            QTest::newRow("heic cut") << heicData.left(heicData.size() / 2) << "HEIF ファイルが";
            QTest::newRow("heic header only") << heicData.left(40) << "HEIF ファイルが";
        }

        // Sizes over the limits, declared by headers without the pixels to back them.
        QTest::newRow("png too wide") << pngHeaderOnly(40000, 8) << "画像が大きすぎます";
        QTest::newRow("png too many pixels") << pngHeaderOnly(30000, 30000) << "画像が大きすぎます";
        QTest::newRow("gif too wide") << gif(40, 20, {indexedQuadrants()}, -1, 40000) << "画像が大きすぎます";
        // Within the limits, but far more than the data can hold: refused before the
        // pixels are allocated.
        QTest::newRow("png 15000x15000 in 57 bytes") << pngHeaderOnly(15000, 15000) << "データが少なすぎます";
        QByteArray wideTiff = tiff;
        wideTiff.replace(wideTiff.indexOf(QByteArray("\x00\x01\x03\x00\x01\x00\x00\x00", 8)) + 8, 4,
                         QByteArray("\x40\x9C\0\0", 4)); // ImageWidth (SHORT) 40000
        QTest::newRow("tiff too wide") << wideTiff << "画像が大きすぎます";
        if (!heicData.isEmpty()) {
            // Another size in every ispe (image spatial extent) box.
            QByteArray huge = heicData;
            for (qsizetype at = huge.indexOf("ispe"); at >= 0; at = huge.indexOf("ispe", at + 1))
                huge.replace(at + 8, 8, be32(30000) + be32(20000));
            QTest::newRow("heic too many pixels") << huge << "画像が大きすぎます";
        }
    }
    // clang-format on
    void refusesBrokenFiles()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, says);
        const QString why = failureOf([&] { decodePictureData(data); });
        QVERIFY2(why.contains(says), qPrintable(why));
    }

    // Files that no picture could be, or that declare far more pixels than their data
    // can hold, are refused from their first bytes: little is read, nothing is
    // reserved, and a header probe says the same.
    void hostileFilesCostNothing_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<qint64>("fileSize"); // made sparse up to this size
        QTest::addColumn<QString>("says");
        for (const HostileFile &f : hostileFiles())
            QTest::newRow(f.name) << f.fileName << f.data << f.sparseSize << f.says;
    }
    void hostileFilesCostNothing()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, data);
        QFETCH(qint64, fileSize);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString path = dir.filePath(fileName);
        writeFile(path, data);
        if (fileSize)
            QVERIFY(QFile::resize(path, fileSize));
        qint64 reserved = 0;
        memorybudget::setObserver([&](qint64 bytes) { reserved = std::max(reserved, bytes); });
        const JobRow row = fittedRow(path, QStringLiteral("800*600"));
        // The whole decode, the header probe and the batch's route from the file.
        for (const auto &attempt : {std::function<void()>([&] { decodePicture(path, QSize(800, 600)); }),
                                    std::function<void()>([&] { probePicture(path); }),
                                    std::function<void()>([&] { composeJobFile(readJob(row)); })}) {
            const qint64 before = sourceBytesRead();
            const QString why = failureOf(attempt);
            QVERIFY2(why.contains(says), qPrintable(why));
            // A reader's first buffer at most (PNG reads 64 KB at a time), where the
            // files hold hundreds of megabytes.
            QVERIFY2(sourceBytesRead() - before <= 128 * 1024,
                     qPrintable(QString::number(sourceBytesRead() - before)));
        }
        memorybudget::setObserver({});
        QCOMPARE(reserved, 0);
    }

    // A TIFF's metadata is read with bounded reads, however its directories lie:
    // values past the budget or the file's end are left out, a directory pointing
    // back to itself is read once, and what is carried is the camera's tags.
    void tiffMetadataIsBounded_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("kept"); // tags (decimal) of the block's first directory
        // Little-endian: IFD0 at 8 holds the entries, each value past 4 bytes after it.
        struct E {
            quint16 tag, type;
            quint32 count;
            QByteArray value; // stored after the directory when longer than 4 bytes
            qint64 offset = -1; // or this offset, as given
        };
        const auto tiff = [](const QList<E> &entries, quint16 declared = 0) {
            const quint32 dirSize = 2 + 12 * quint32(entries.size()) + 4;
            QByteArray head = QByteArray("II*\0", 4) + le32(8), table, data;
            const quint16 n = declared ? declared : quint16(entries.size());
            table += char(n) + QByteArray(1, char(n >> 8));
            for (const E &e : entries) {
                table += QByteArray() + char(e.tag) + char(e.tag >> 8) + char(e.type) + '\0' + le32(e.count);
                if (e.offset >= 0) {
                    table += le32(quint32(e.offset));
                } else if (e.value.size() <= 4) {
                    table += e.value + QByteArray(4 - e.value.size(), '\0');
                } else {
                    table += le32(8 + dirSize + quint32(data.size()));
                    data += e.value;
                }
            }
            return head + table + le32(0) + data;
        };
        const QByteArray make("Kestrel Optics\0");
        const E camera{271, 2, quint32(make.size()), make};
        QTest::newRow("plain") << tiff({camera}) << QStringList{"271"};
        QTest::newRow("a value past the budget")
            << tiff({camera, {270, 2, 1500000, QByteArray(1500000, 'a')}}) << QStringList{"271"};
        QTest::newRow("values past the budget together")
            << tiff({camera, {270, 2, 600000, QByteArray(600000, 'a')}, {315, 2, 600000, QByteArray(600000, 'b')}})
            << QStringList{"270", "271"};
        QTest::newRow("a value past the file's end")
            << tiff({camera, {270, 2, 4000000, {}, 100}}) << QStringList{"271"};
        QTest::newRow("strips, a thumbnail and a maker note left out")
            << tiff({camera, {273, 4, 1, le32(8)}, {513, 4, 1, le32(8)}, {37500, 7, 8, QByteArray(8, 'm')}})
            << QStringList{"271"};
        QTest::newRow("Exif directory pointing back to the first")
            << tiff({camera, {34665, 4, 1, le32(8)}}) << QStringList{"271", "34665"};
        QTest::newRow("65535 entries claimed") << tiff({camera}, 65535) << QStringList{"271"};
    }
    void tiffMetadataIsBounded()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, kept);
        QTemporaryDir dir;
        writeFile(dir.filePath("m.tif"), file);
        const qint64 before = sourceBytesRead();
        const MetadataBlocks blocks = tiffMetadataBlocks(PictureSource::open(dir.filePath("m.tif")));
        QVERIFY2(sourceBytesRead() - before <= (1 << 20) + 8192,
                 qPrintable(QString::number(sourceBytesRead() - before)));
        QVERIFY(blocks.exif.size() <= (1 << 20) + 4096);
        // The block's first directory, as exiv2 would walk it.
        const ByteView b = ByteView::of(blocks.exif);
        QVERIFY(b.is(0, "II*\0", 4) && b.has(8, 2));
        QStringList tags;
        for (quint32 i = 0; i < b.le16(8) && b.has(10 + 12 * i, 12); ++i)
            tags << QString::number(b.le16(10 + 12 * i));
        QCOMPARE(tags, kept);
    }

    // Names that are no regular file are refused at once: a FIFO swapped in for a
    // picture must not hang the program waiting for a writer.
    // clang-format off
    void refusesWhatIsNoFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("says");
        QTest::newRow("missing") << "missing" << "見つかりません";
        QTest::newRow("fifo") << "fifo" << "FIFO";
        QTest::newRow("folder") << "folder" << "フォルダ";
        QTest::newRow("device") << "device" << "デバイス";
    }
    // clang-format on
    void refusesWhatIsNoFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, says);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("どこにもない.jpg"));
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == "folder")
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("どこにもない.jpg")));
        else if (kind == "device")
            path = QStringLiteral("/dev/null");
        const QString why = failureOf([&] { decodePicture(path); });
        QVERIFY2(why.contains(QFileInfo(path).fileName()) && why.contains(says), qPrintable(why));
    }

    void cmykToSrgb_data()
    {
        QTest::addColumn<QByteArray>("jpegData");
        QTest::addColumn<QByteArray>("used"); // the profile the result must match
        QTest::addColumn<bool>("own"); // ... which is the picture's own
        QFile standardFile(standardCmykProfilePath());
        const QByteArray standard = standardFile.open(QIODevice::ReadOnly) ? standardFile.readAll() : QByteArray();
        const QByteArray press = pressProfile();
        QVERIFY2(press.size() > 65519, qPrintable(QString::number(press.size()))); // several APP2 chunks
        QTest::newRow("own profile") << cmykPatchJpeg(press) << press << true;
        QTest::newRow("own profile, small chunks") << cmykPatchJpeg(press, 9000) << press << true;
        QTest::newRow("no profile") << cmykPatchJpeg({}) << standard << false;
        QTest::newRow("rgb profile") << cmykPatchJpeg(adobeLikeProfile()) << standard << false;
        QTest::newRow("chunks misnumbered") << cmykPatchJpeg(press, 65519, 2) << standard << false;
        QTest::newRow("profile cut") << cmykPatchJpeg(press.left(70000)) << standard << false;
    }
    void cmykToSrgb()
    {
        QFETCH(QByteArray, jpegData);
        QFETCH(QByteArray, used);
        QFETCH(bool, own);
        if (used.isEmpty())
            QSKIP("the standard CMYK profile is not installed (Debian package libgs-common)");
        const DecodedPicture p = decodePictureData(jpegData);
        // The picture comes out in sRGB: no CMYK profile is carried with it.
        QCOMPARE(p.iccProfile, QByteArray());
        const QRgb got = p.image.pixel(8, 8);
        QCOMPARE(qAlpha(got), 255);
        const QRgb want = lcmsPatch(used), model = pressModel(kInk);
        QVERIFY2(near(got, want, 3), qPrintable(describe(got) + " vs lcms2 " + describe(want)));
        // Through the press's own profile the colour is what the press prints (worked
        // out without lcms2); through the standard one it is far from it.
        QVERIFY2(near(got, model, 6) == own, qPrintable(describe(got) + " vs model " + describe(model)));
    }

    // A grey picture under a grey profile means other greys in sRGB, in every
    // format that carries one and by either route; no grey profile is carried on.
    void greyThroughItsProfile_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<int>("tolerance");
        const QImage grey = greyBands();
        for (const auto &[name, profile] :
             {std::pair{"gamma 1.0", greyProfile(1.0)}, std::pair{"dot gain 20 %", dotGainProfile()}}) {
            QTest::addRow("JPEG, %s", name) << "g.jpg" << greyJpeg(grey, profile) << profile << 2;
            const QByteArray z = [&p = profile] {
                QByteArray out(int(compressBound(uLong(p.size()))), '\0');
                uLongf n = uLongf(out.size());
                compress(reinterpret_cast<Bytef *>(out.data()), &n, reinterpret_cast<const Bytef *>(p.constData()),
                         uLong(p.size()));
                return out.left(qsizetype(n));
            }();
            QTest::addRow("PNG, %s", name)
                << "g.png" << withPngChunk(qtEncoded(grey, "png"), "iCCP", QByteArray("grey\0\0", 6) + z) << profile
                << 0;
            for (int bits : {8, 16})
                QTest::addRow("TIFF %d, %s", bits, name)
                    << "g.tif"
                    << tiffPicture({.width = grey.width(),
                                    .height = grey.height(),
                                    .photometric = PHOTOMETRIC_MINISBLACK,
                                    .samples = 1,
                                    .bits = bits,
                                    .compression = COMPRESSION_LZW,
                                    .icc = profile},
                                   [&grey, bits](int y, std::uint8_t *row) {
                                       for (int x = 0; x < grey.width(); ++x) {
                                           const std::uint8_t v = grey.constScanLine(y)[x];
                                           const std::uint16_t wide = std::uint16_t(v * 257);
                                           if (bits == 8)
                                               row[x] = v;
                                           else
                                               std::memcpy(row + 2 * x, &wide, 2);
                                       }
                                   })
                    << profile << 0;
        }
    }
    void greyThroughItsProfile()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, profile);
        QFETCH(int, tolerance);
        QTemporaryDir dir;
        const QString path = dir.filePath(fileName);
        writeFile(path, file);
        const DecodedPicture whole = decodePicture(path);
        const ComposedJob bands = composeJobFile(readJob(fittedRow(path, QString())));
        for (const QImage &img : {whole.image, bands.canvas})
            for (int i = 0; i < 5; ++i) {
                const QRgb got = img.pixel(8 * i + 4, 4), want = lcmsGrey(profile, kLevels[i]);
                QVERIFY2(near(got, want, tolerance),
                         qPrintable(
                             QStringLiteral("%1: %2 vs lcms2 %3").arg(kLevels[i]).arg(describe(got), describe(want))));
            }
        // The mid grey really moves (a profile dropped would leave it at 127).
        QVERIFY(std::abs(qRed(whole.image.pixel(8 * 2 + 4, 4)) - 127) > 20);
        QCOMPARE(whole.iccProfile, QByteArray());
        QCOMPARE(bands.iccProfile, QByteArray());
    }

    // The first look of a JPEG leaves a grey one under a grey profile to the exact
    // picture, which converts it: a look in the stored greys would flash wrong.
    void firstLookLeavesGreyProfilesOut()
    {
        QImage grey(64, 64, QImage::Format_Grayscale8);
        grey.fill(127);
        const auto cover = [](QSize) { return QSize(8, 8); };
        QVERIFY(decodeQuickJpeg(greyJpeg(grey, {}), cover));
        QVERIFY(!decodeQuickJpeg(greyJpeg(grey, greyProfile(1.0)), cover));
    }

    // libwebp's rows go out as it finishes them and their memory goes back behind
    // them: the picture is libwebp's own whole decode, as Qt's reader gives it,
    // reduced on load or not, lossy or lossless, with alpha or without.
    void webpAsLibwebpDecodesIt_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("drawn"); // the width drawn; 0: in full
        QImage picture = noise(1200, 900).convertToFormat(QImage::Format_ARGB32);
        const QImage opaque = picture.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, (picture.pixel(x, y) & 0xFFFFFF) | uint(x * 255 / 1200) << 24);
        QTest::newRow("lossy") << qtEncoded(opaque, "webp", 80) << 0;
        QTest::newRow("lossy, alpha") << qtEncoded(picture, "webp", 80) << 0;
        QTest::newRow("lossless") << qtEncoded(opaque, "webp", 100) << 0;
        QTest::newRow("lossy, reduced on load") << qtEncoded(opaque, "webp", 80) << 30;
    }
    void webpAsLibwebpDecodesIt()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, drawn);
        DecodedPicture ours;
        const QString why =
            failureOf([&] { ours = decodePictureData(data, drawn ? QSize(drawn, drawn * 3 / 4) : QSize()); });
        QVERIFY2(why.isEmpty(), qPrintable(why));
        // libwebp's one-call decode, at the size ours came out.
        const QSize size = ours.image.size();
        QImage want(size, QImage::Format_ARGB32);
        WebPDecoderConfig config;
        WebPInitDecoderConfig(&config);
        config.options.use_scaling = drawn != 0;
        config.options.scaled_width = size.width();
        config.options.scaled_height = size.height();
        config.output.colorspace = MODE_BGRA;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = want.bits();
        config.output.u.RGBA.stride = int(want.bytesPerLine());
        config.output.u.RGBA.size = size_t(want.sizeInBytes());
        QCOMPARE(WebPDecode(reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()), &config),
                 VP8_STATUS_OK);
        want = want.convertToFormat(ours.image.format());
        QCOMPARE(ours.image.size(), want.size());
        const QImage got = ours.image;
        for (int y = 0; y < got.height(); ++y)
            if (std::memcmp(got.constScanLine(y), want.constScanLine(y), size_t(got.width()) * 4) != 0)
                QFAIL(qPrintable(QStringLiteral("row %1 differs").arg(y)));
    }

    // The header probe runs on any thread, several at once, each with the answer
    // it gives alone.
    void probesFromManyThreads()
    {
        QTemporaryDir dir;
        const QImage q = quadrants(40, 20);
        const QList<QPair<QString, QByteArray>> files = {{"a.jpg", jpeg(q)},
                                                         {"b.png", qtEncoded(q, "png")},
                                                         {"c.gif", gif(40, 20, {indexedQuadrants()})},
                                                         {"d.webp", qtEncoded(q, "webp", 90)},
                                                         {"e.bmp", bmp(q, 24)},
                                                         {"f.tif", qtEncoded(q, "tiff")},
                                                         {"g.heic", heic(quadrants(64, 48))}};
        QStringList paths;
        for (const auto &[name, data] : files)
            if (!data.isEmpty()) {
                writeFile(dir.filePath(name), data);
                paths << dir.filePath(name);
            }
        std::vector<QSize> alone;
        for (const QString &path : paths)
            alone.push_back(probePicture(path).size);
        std::atomic<int> differing{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                for (int round = 0; round < 10; ++round)
                    for (size_t i = 0; i < size_t(paths.size()); ++i)
                        differing += probePicture(paths[qsizetype(i)]).size != alone[i];
            });
        for (std::thread &t : threads)
            t.join();
        QCOMPARE(differing.load(), 0);
    }

    // Another program rewrites the file while we decode it, again and again. With a
    // mapped file the shortened pages would kill the process (SIGBUS); read into
    // memory, each decode either sees a whole picture or fails with a reason.
    void fileShortenedWhileRead()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("changing.jpg"));
        const QByteArray whole = jpeg(quadrants(1200, 800), 95);
        writeFile(path, whole);
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            for (int i = 0; !stop; ++i) {
                QFile f(path);
                if (f.open(QIODevice::ReadWrite)) {
                    f.resize(i % 2 ? whole.size() / 3 : 0);
                    f.seek(0);
                    f.write(i % 2 ? whole.left(whole.size() / 3) : whole);
                }
            }
        });
        int decoded = 0, refused = 0;
        for (int i = 0; i < 200; ++i) {
            try {
                decoded += decodePicture(path).size == QSize(1200, 800);
            } catch (const Failure &) {
                ++refused;
            }
        }
        stop = true;
        writer.join();
        QCOMPARE(decoded + refused, 200);
    }
};

QTEST_GUILESS_MAIN(TestPictureDecoder)
#include "tst_picturedecoder.moc"
