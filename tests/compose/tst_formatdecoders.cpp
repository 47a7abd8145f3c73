// PNG, TIFF, WebP, GIF and HEIF: told apart by content, decoded upright with their
// alpha and ICC profile, and refused with a Japanese reason when cut, damaged or
// too large (before the pixels are allocated).

#include "compose/formatdecoders.h"
#include "platform/failure.h"
#include "tests/common/formatpictures.h"
#include "tests/common/testpictures.h"

#include <QColorSpace>
#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

using namespace kestrovia;
using namespace testpics;

Q_DECLARE_METATYPE(PictureFormat)

namespace {

QByteArray be32(quint32 v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
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

// The TIFF body of an EXIF block holding only the orientation.
QByteArray exifOrientationBlock(int orientation)
{
    return withExifOrientation(QByteArray("\xFF\xD8", 2), orientation).mid(2 + 4 + 6);
}

// A PNG that declares w x h pixels and holds none.
QByteArray pngHeaderOnly(quint32 w, quint32 h)
{
    const QByteArray ihdr = "IHDR" + be32(w) + be32(h) + QByteArray("\x08\x02\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + be32(13) + ihdr + be32(crc(ihdr)) + be32(0) + "IDAT"
           + be32(crc("IDAT")) + be32(0) + "IEND" + be32(0xAE426082);
}


// Declares another size in every ispe (image spatial extent) box of a HEIF.
QByteArray heifDeclaring(QByteArray data, quint32 w, quint32 h)
{
    for (qsizetype at = data.indexOf("ispe"); at >= 0; at = data.indexOf("ispe", at + 1))
        data.replace(at + 8, 8, be32(w) + be32(h));
    return data;
}

QImage turned90(const QImage &img) { return img.transformed(QTransform().rotate(90)); }

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

} // namespace

// x265 keeps a few allocations of its own after an encoder is freed; they are not
// ours to free (the program itself only decodes).
extern "C" const char *__lsan_default_suppressions() { return "leak:libx265.so\n"; }

class TestFormatDecoders : public QObject {
    Q_OBJECT

private slots:
    void sniffsContent_data();
    void sniffsContent();
    void decodes_data();
    void decodes();
    void refuses_data();
    void refuses();
};

void TestFormatDecoders::sniffsContent_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<PictureFormat>("format");
    const QImage q = quadrants(16, 8);
    QTest::newRow("jpeg") << jpeg(q) << PictureFormat::Jpeg;
    QTest::newRow("bmp") << bmp(q, 24) << PictureFormat::Bmp;
    QTest::newRow("png") << qtEncoded(q, "png") << PictureFormat::Png;
    QTest::newRow("tiff") << qtEncoded(q, "tiff") << PictureFormat::Tiff;
    QTest::newRow("tiff big-endian") << QByteArray("MM\0*\0\0\0\x08", 8) << PictureFormat::Tiff;
    QTest::newRow("webp") << qtEncoded(q, "webp") << PictureFormat::WebP;
    QTest::newRow("gif") << gif(16, 8, {indexedQuadrants().copy(0, 0, 16, 8)}) << PictureFormat::Gif;
    // ftyp boxes: HEIF by a compatible brand, an MP4 video is not a picture.
    QTest::newRow("heif mif1") << QByteArray("\0\0\0\x18" "ftypmif1\0\0\0\0mif1heic", 24) << PictureFormat::Heif;
    QTest::newRow("heic compatible brand") << QByteArray("\0\0\0\x18" "ftypabcd\0\0\0\0isomheix", 24) << PictureFormat::Heif;
    QTest::newRow("mp4") << QByteArray("\0\0\0\x18" "ftypisom\0\0\0\0isommp41", 24) << PictureFormat::Unknown;
    QTest::newRow("brand beyond the box") << QByteArray("\0\0\0\x10" "ftypisom\0\0\0\0heic", 20) << PictureFormat::Unknown;
    QTest::newRow("text") << QByteArray("hello, world") << PictureFormat::Unknown;
    QTest::newRow("empty") << QByteArray() << PictureFormat::Unknown;
}

void TestFormatDecoders::sniffsContent()
{
    QFETCH(QByteArray, data);
    QFETCH(PictureFormat, format);
    QCOMPARE(sniffPictureFormat(data), format);
}

void TestFormatDecoders::decodes_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QImage>("expected"); // upright; its format is the one expected
    QTest::addColumn<int>("tolerance");   // 0: every pixel exact; else at quadrant centres
    QTest::addColumn<QByteArray>("icc");

    const QImage q = quadrants(40, 20);
    const QImage alpha = withAlpha();
    QImage tagged = alpha;
    tagged.setColorSpace(QColorSpace::AdobeRgb);
    const QByteArray adobe = tagged.colorSpace().iccProfile();
    QImage taggedQ = q;
    taggedQ.setColorSpace(QColorSpace::AdobeRgb);

    QTest::newRow("png alpha, profile") << "a.png" << qtEncoded(tagged, "png") << alpha << 0 << adobe;
    QTest::newRow("png named .jpg") << "photo.jpg" << qtEncoded(alpha, "png") << alpha << 0 << QByteArray();
    QTest::newRow("png 16-bit") << "b.png" << qtEncoded(q.convertToFormat(QImage::Format_RGBX64), "png") << q << 0
                                << QByteArray();
    QTest::newRow("png palette") << "c.png" << qtEncoded(indexedQuadrants(), "png") << q << 0 << QByteArray();
    const QImage grey = q.convertToFormat(QImage::Format_Grayscale8);
    QTest::newRow("png grey") << "d.png" << qtEncoded(grey, "png") << grey.convertToFormat(QImage::Format_RGB32) << 0
                              << QByteArray();
    QTest::newRow("png eXIf orientation 6")
        << "e.png" << withPngChunk(qtEncoded(q, "png"), "eXIf", exifOrientationBlock(6)) << turned90(q) << 0
        << QByteArray();
    QTest::newRow("tiff, profile") << "f.tif" << qtEncoded(taggedQ, "tiff") << q << 0 << adobe;
    QTest::newRow("tiff orientation 6")
        << "g.tiff" << qtEncoded(q, "tiff", -1, QImageIOHandler::TransformationRotate90) << turned90(q) << 0
        << QByteArray();
    QTest::newRow("webp lossless alpha") << "h.webp" << qtEncoded(alpha, "webp", 100) << alpha << 0 << QByteArray();
    QTest::newRow("webp lossy") << "i.webp" << qtEncoded(q, "webp", 90) << q << 24 << QByteArray();

    // Two frames: only the first counts; index 3 is transparent.
    QImage first = indexedQuadrants();
    QImage second = first;
    second.fill(1);
    QImage firstOut = q.convertToFormat(QImage::Format_ARGB32);
    for (int y = 10; y < 20; ++y)
        for (int x = 20; x < 40; ++x)
            firstOut.setPixel(x, y, qRgba(0, 0, 0, 0));
    QTest::newRow("gif first frame") << "j.gif" << gif(40, 20, {first, second}, 3) << firstOut << 0 << QByteArray();

    const QImage big = quadrants(64, 48);
    QTest::newRow("heic, profile") << "k.heic" << heic(big, heif_orientation_normal, adobe) << big << 40 << adobe;
    QTest::newRow("heic turned") << "l.HEIC" << heic(big, heif_orientation_rotate_90_cw) << turned90(big) << 40
                                 << QByteArray();
    QImage bigAlpha = withAlpha().scaled(64, 48);
    QTest::newRow("heic alpha") << "m.heif" << heic(bigAlpha) << bigAlpha << 40 << QByteArray();
}

void TestFormatDecoders::decodes()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, data);
    QFETCH(QImage, expected);
    QFETCH(int, tolerance);
    QFETCH(QByteArray, icc);
    if (data.isEmpty())
        QSKIP("libheif has no HEVC encoder here (Debian's libheif1 builds it in with libx265)");

    // Read back from a file of that name: the name plays no part.
    QTemporaryDir dir;
    writeFile(dir.filePath(fileName), data);
    const QByteArray bytes = readFile(dir.filePath(fileName));
    const FormatPicture p = decodeFormatPicture(bytes, sniffPictureFormat(bytes));

    QCOMPARE(p.image.format(), expected.format());
    QCOMPARE(p.image.size(), expected.size());
    QCOMPARE(p.iccProfile, icc);
    const int w = expected.width(), h = expected.height();
    if (tolerance == 0) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                // Under full transparency the colour does not matter.
                if (p.image.pixel(x, y) != expected.pixel(x, y) && (qAlpha(p.image.pixel(x, y)) || qAlpha(expected.pixel(x, y))))
                    QFAIL(qPrintable(QString("(%1,%2): %3 alpha %4, expected %5 alpha %6")
                                         .arg(x).arg(y)
                                         .arg(describe(p.image.pixel(x, y))).arg(qAlpha(p.image.pixel(x, y)))
                                         .arg(describe(expected.pixel(x, y))).arg(qAlpha(expected.pixel(x, y)))));
        return;
    }
    for (const QPoint at : {QPoint(w / 4, h / 4), QPoint(3 * w / 4, h / 4), QPoint(w / 4, 3 * h / 4),
                            QPoint(3 * w / 4, 3 * h / 4)}) {
        const QRgb got = p.image.pixel(at), want = expected.pixel(at);
        QVERIFY2(near(got, want, tolerance) && std::abs(qAlpha(got) - qAlpha(want)) <= tolerance,
                 qPrintable(describe(got) + " vs " + describe(want)));
    }
}

void TestFormatDecoders::refuses_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("reason");
    const QImage q = quadrants(64, 48);
    const QByteArray png = qtEncoded(q, "png");
    const QByteArray gifData = gif(40, 20, {indexedQuadrants()});
    const QByteArray webp = qtEncoded(q, "webp", 90);
    const QByteArray tiff = qtEncoded(q, "tiff");
    const QByteArray heicData = heic(q);

    QTest::newRow("png cut") << png.left(png.size() / 2) << "PNG ファイルが途中で切れている";
    QByteArray damaged = png;
    damaged[damaged.indexOf("IDAT") + 20] = char(damaged[damaged.indexOf("IDAT") + 20] ^ 0x55);
    QTest::newRow("png damaged") << damaged << "PNG ファイルが壊れている";
    QTest::newRow("gif cut") << gifData.left(gifData.size() / 2) << "GIF ファイルが途中で切れている";
    QTest::newRow("webp cut") << webp.left(webp.size() / 2) << "WebP ファイルが途中で切れている";
    QTest::newRow("tiff cut") << tiff.left(tiff.size() / 2) << "TIFF ファイルが";
    QTest::newRow("tiff no directory") << QByteArray("II*\0\xFF\xFF\0\0", 8) << "TIFF ファイルが";
    if (!heicData.isEmpty()) {
        QTest::newRow("heic cut") << heicData.left(heicData.size() / 2) << "HEIF ファイルが";
        QTest::newRow("heic header only") << heicData.left(40) << "HEIF ファイルが";
    }

    // Sizes over the limits, declared by headers without the pixels to back them.
    QTest::newRow("png too wide") << pngHeaderOnly(40000, 8) << "画像が大きすぎます";
    QTest::newRow("png too many pixels") << pngHeaderOnly(30000, 30000) << "画像が大きすぎます";
    QTest::newRow("gif too wide") << gif(40, 20, {indexedQuadrants()}, -1, 40000, 20) << "画像が大きすぎます";
    QByteArray wideTiff = tiff;
    wideTiff.replace(wideTiff.indexOf(QByteArray("\x00\x01\x03\x00\x01\x00\x00\x00", 8)) + 8, 4,
                     QByteArray("\x40\x9C\0\0", 4)); // ImageWidth (SHORT) 40000
    QTest::newRow("tiff too wide") << wideTiff << "画像が大きすぎます";
    if (!heicData.isEmpty())
        QTest::newRow("heic too many pixels") << heifDeclaring(heicData, 30000, 20000) << "画像が大きすぎます";
}

void TestFormatDecoders::refuses()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, reason);
    try {
        decodeFormatPicture(data, sniffPictureFormat(data));
        QFAIL("decoded");
    } catch (const Failure &f) {
        QVERIFY2(f.message().startsWith(reason), qPrintable(f.message()));
    }
}

QTEST_GUILESS_MAIN(TestFormatDecoders)
#include "tst_formatdecoders.moc"
