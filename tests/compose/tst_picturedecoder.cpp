// Decoding: every JPEG and BMP flavour, EXIF orientation, reduced decodes, and the
// files that must be refused without harm.

#include "compose/picturedecoder.h"
#include "platform/failure.h"
#include "tests/common/testpictures.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

#include <sys/stat.h>

using namespace kestrovia;
using namespace testpics;

class TestPictureDecoder : public QObject {
    Q_OBJECT

private slots:
    void decodesFlavours_data();
    void decodesFlavours();
    void exifOrientation_data();
    void exifOrientation();
    void reducedDecodeKeepsRealSize_data();
    void reducedDecodeKeepsRealSize();
    void bitmapLayouts_data();
    void bitmapLayouts();
    void bitmapBlocksAverageExactly();
    void refusesBrokenFiles_data();
    void refusesBrokenFiles();
    void refusesWhatIsNoFile_data();
    void refusesWhatIsNoFile();
    void fileShortenedWhileRead();
    void japanesePathWithSpaces();
};

static void verifyQuadrants(const QImage &img, int tolerance = 40)
{
    const int w = img.width(), h = img.height();
    QVERIFY2(near(img.pixel(1, 1), kRed, tolerance), qPrintable(describe(img.pixel(1, 1))));
    QVERIFY2(near(img.pixel(w - 2, 1), kGreen, tolerance), qPrintable(describe(img.pixel(w - 2, 1))));
    QVERIFY2(near(img.pixel(1, h - 2), kBlue, tolerance), qPrintable(describe(img.pixel(1, h - 2))));
    QVERIFY2(near(img.pixel(w - 2, h - 2), kYellow, tolerance), qPrintable(describe(img.pixel(w - 2, h - 2))));
}

void TestPictureDecoder::decodesFlavours_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("grey");
    const QImage q = quadrants(64, 48);
    QTest::newRow("jpeg baseline 4:2:0") << jpeg(q, 95, TJSAMP_420) << false;
    QTest::newRow("jpeg progressive") << jpeg(q, 95, TJSAMP_444, TJFLAG_PROGRESSIVE) << false;
    QTest::newRow("jpeg greyscale") << jpeg(q, 95, TJSAMP_GRAY) << true;
}

void TestPictureDecoder::decodesFlavours()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, grey);
    const DecodedPicture p = decodePictureData(data);
    QCOMPARE(p.image.size(), p.size);
    QCOMPARE(p.image.format(), QImage::Format_RGB32);
    if (grey) {
        // Red is darker than yellow in luminance; both come out grey.
        const QRgb tl = p.image.pixel(1, 1), br = p.image.pixel(p.size.width() - 2, p.size.height() - 2);
        QCOMPARE(qRed(tl), qBlue(tl));
        QVERIFY(qRed(tl) < qRed(br));
    } else {
        verifyQuadrants(p.image);
    }
}

void TestPictureDecoder::exifOrientation_data()
{
    // The stored picture is quadrants(40x20); each row says which colour the upright
    // picture shows at its top-left and top-right.
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRgb>("topLeft");
    QTest::addColumn<QRgb>("topRight");
    QTest::newRow("1 upright") << 1 << false << QSize(40, 20) << kRed << kGreen;
    QTest::newRow("2 mirrored") << 2 << false << QSize(40, 20) << kGreen << kRed;
    QTest::newRow("3 upside down") << 3 << false << QSize(40, 20) << kYellow << kBlue;
    QTest::newRow("4 flipped") << 4 << false << QSize(40, 20) << kBlue << kYellow;
    QTest::newRow("5 transposed") << 5 << false << QSize(20, 40) << kRed << kBlue;
    QTest::newRow("6 phone held upright") << 6 << false << QSize(20, 40) << kBlue << kRed;
    QTest::newRow("6 big-endian TIFF") << 6 << true << QSize(20, 40) << kBlue << kRed;
    QTest::newRow("7 transverse") << 7 << false << QSize(20, 40) << kYellow << kGreen;
    QTest::newRow("8 turned left") << 8 << false << QSize(20, 40) << kGreen << kYellow;
}

void TestPictureDecoder::exifOrientation()
{
    QFETCH(int, orientation);
    QFETCH(bool, bigEndian);
    QFETCH(QSize, size);
    QFETCH(QRgb, topLeft);
    QFETCH(QRgb, topRight);
    const QByteArray data = withExifOrientation(jpeg(quadrants(40, 20)), orientation, bigEndian);
    const DecodedPicture p = decodePictureData(data);
    QCOMPARE(p.size, size);
    QCOMPARE(p.image.size(), size);
    QVERIFY2(near(p.image.pixel(1, 1), topLeft, 40), qPrintable(describe(p.image.pixel(1, 1))));
    QVERIFY2(near(p.image.pixel(size.width() - 2, 1), topRight, 40),
             qPrintable(describe(p.image.pixel(size.width() - 2, 1))));
}

void TestPictureDecoder::reducedDecodeKeepsRealSize_data()
{
    // A reduction by d is taken only while the reduced picture keeps three pixels
    // for each one drawn; its extent is the real size / d.
    QTest::addColumn<bool>("bitmap");
    QTest::addColumn<QSize>("need");
    QTest::addColumn<QSize>("image");
    QTest::addColumn<QRectF>("extent");
    QTest::newRow("no hint: full") << false << QSize() << QSize(801, 600) << QRectF(0, 0, 801, 600);
    QTest::newRow("half: 400.5 x 300 for 133 x 100") << false << QSize(133, 100) << QSize(401, 300)
                                                     << QRectF(0, 0, 400.5, 300);
    QTest::newRow("134 wide needs full") << false << QSize(134, 100) << QSize(801, 600) << QRectF(0, 0, 801, 600);
    QTest::newRow("bmp 4x4 blocks") << true << QSize(66, 50) << QSize(201, 150) << QRectF(0, 0, 200.25, 150);
    QTest::newRow("bmp exact half stays full") << true << QSize(400, 300) << QSize(801, 600)
                                               << QRectF(0, 0, 801, 600);
}

void TestPictureDecoder::reducedDecodeKeepsRealSize()
{
    QFETCH(bool, bitmap);
    QFETCH(QSize, need);
    const QImage q = quadrants(801, 600);
    const DecodedPicture p = decodePictureData(bitmap ? bmp(q, 24) : jpeg(q), need);
    QCOMPARE(p.size, QSize(801, 600));
    QTEST(p.image.size(), "image");
    QTEST(p.extent, "extent");
    verifyQuadrants(p.image);
}

// Letters for the few colours of the bitmap tables.
static QRgb colour(QChar c)
{
    switch (c.unicode()) {
    case 'r': return qRgb(255, 0, 0);
    case 'g': return qRgb(0, 255, 0);
    case 'b': return qRgb(0, 0, 255);
    case 'w': return qRgb(255, 255, 255);
    default: return qRgb(0, 0, 0);
    }
}

static void put(QByteArray &a, int at, quint32 v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        a[at + i] = char(v >> (8 * i));
}

// A BMP file with a header of headerSize bytes (12 OS/2, 40, 108 V4, 124 V5), a
// palette of colour letters, bit masks and the pixel bytes as given. A negative
// height stores the rows top-down.
static QByteArray bmpFile(int headerSize, int w, int h, int bpp, int compression, const QByteArray &pixels,
                          const QString &palette = {}, const QList<quint32> &masks = {})
{
    const bool os2 = headerSize == 12;
    QByteArray info(headerSize, 0);
    put(info, 0, quint32(headerSize), 4);
    if (os2) {
        put(info, 4, quint32(w), 2);
        put(info, 6, quint32(h), 2);
        put(info, 8, 1, 2);
        put(info, 10, quint32(bpp), 2);
    } else {
        put(info, 4, quint32(w), 4);
        put(info, 8, quint32(h), 4);
        put(info, 12, 1, 2);
        put(info, 14, quint32(bpp), 2);
        put(info, 16, quint32(compression), 4);
        put(info, 20, quint32(pixels.size()), 4);
        put(info, 32, quint32(palette.size()), 4);
    }
    QByteArray maskBytes(12, 0);
    for (int i = 0; i < masks.size(); ++i)
        put(maskBytes, 4 * i, masks[i], 4);
    if (!masks.isEmpty() && headerSize > 40)
        info.replace(40, 12, maskBytes); // V4 and V5 hold the masks themselves
    else if (!masks.isEmpty())
        info += maskBytes;
    for (QChar c : palette) {
        const QRgb v = colour(c);
        info += char(qBlue(v));
        info += char(qGreen(v));
        info += char(qRed(v));
        if (!os2)
            info += char(0);
    }
    QByteArray file(14, 0);
    file[0] = 'B';
    file[1] = 'M';
    put(file, 2, quint32(14 + info.size() + pixels.size()), 4);
    put(file, 10, quint32(14 + info.size()), 4);
    return file + info + pixels;
}

// Uncompressed pixel bytes of rows of colour letters (top row first): palette
// indices for bpp <= 8, else each channel's full mask (the colours are pure).
static QByteArray pixelBytes(const QStringList &rows, int bpp, bool topDown, const QString &palette = {},
                             const QList<quint32> &masks = {0xFF0000, 0xFF00, 0xFF})
{
    const int w = int(rows.first().size()), stride = (w * bpp + 31) / 32 * 4;
    QByteArray out(stride * rows.size(), 0);
    for (int y = 0; y < rows.size(); ++y) {
        const int at = stride * (topDown ? y : int(rows.size()) - 1 - y);
        for (int x = 0; x < w; ++x) {
            const QRgb c = colour(rows[y][x]);
            if (bpp <= 8) {
                const int bit = x * bpp;
                out[at + bit / 8] = char(out[at + bit / 8] | (palette.indexOf(rows[y][x]) << (8 - bpp - bit % 8)));
            } else {
                const quint32 v = (qRed(c) ? masks[0] : 0) | (qGreen(c) ? masks[1] : 0) | (qBlue(c) ? masks[2] : 0);
                put(out, at + x * bpp / 8, v, bpp / 8);
            }
        }
    }
    return out;
}

static QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out += char(v);
    return out;
}

void TestPictureDecoder::bitmapLayouts_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("rows");
    // 5 x 3 (odd, so every depth pads its rows); k r g b: palette indices 0 1 2 3.
    const QStringList pic{"krgbr", "bgrkg", "rbrbk"};
    const QString pal = QStringLiteral("krgb");
    const QStringList two{"krkrr", "rkrkk", "rrrkk"};
    QTest::newRow("1-bit palette") << bmpFile(40, 5, 3, 1, 0, pixelBytes(two, 1, false, "kr"), "kr") << two;
    QTest::newRow("4-bit palette") << bmpFile(40, 5, 3, 4, 0, pixelBytes(pic, 4, false, pal), pal) << pic;
    QTest::newRow("8-bit palette top-down") << bmpFile(40, 5, -3, 8, 0, pixelBytes(pic, 8, true, pal), pal) << pic;
    QTest::newRow("8-bit palette OS/2") << bmpFile(12, 5, 3, 8, 0, pixelBytes(pic, 8, false, pal), pal) << pic;
    // Stored bottom row first. Bottom: run of 1, three stored as they are (padded),
    // run of 1; middle: five stored; top: a move past the first pixel (left at
    // index 0), four stored, end of bitmap.
    const QByteArray rle8 = bytes({1, 1, 0, 3, 3, 1, 3, 0, 1, 0, 0, 0,                  // r b r b k
                                   0, 5, 3, 2, 1, 0, 2, 0, 0, 0,                        // b g r k g
                                   0, 2, 1, 0, 0, 4, 1, 2, 3, 1, 0, 1});                // . r g b r
    QTest::newRow("RLE8") << bmpFile(40, 5, 3, 8, 1, rle8, pal) << pic;
    // The same in nibbles; the bottom row's first four pixels are one run of two
    // alternating indices.
    const QByteArray rle4 = bytes({4, 0x13, 1, 0x00, 0, 0,                                 // r b r b k
                                   0, 5, 0x32, 0x10, 0x20, 0, 0, 0,                        // b g r k g
                                   0, 2, 1, 0, 0, 4, 0x12, 0x31, 0, 1});                   // . r g b r
    QTest::newRow("RLE4") << bmpFile(40, 5, 3, 4, 2, rle4, pal) << pic;
    const QList<quint32> m555{0x7C00, 0x03E0, 0x001F}, m565{0xF800, 0x07E0, 0x001F};
    QTest::newRow("16-bit 555") << bmpFile(40, 5, 3, 16, 0, pixelBytes(pic, 16, false, {}, m555)) << pic;
    QTest::newRow("16-bit 565 bit fields")
        << bmpFile(40, 5, 3, 16, 3, pixelBytes(pic, 16, false, {}, m565), {}, m565) << pic;
    QTest::newRow("24-bit") << bmpFile(40, 5, 3, 24, 0, pixelBytes(pic, 24, false)) << pic;
    QTest::newRow("24-bit top-down") << bmpFile(40, 5, -3, 24, 0, pixelBytes(pic, 24, true)) << pic;
    QTest::newRow("24-bit OS/2") << bmpFile(12, 5, 3, 24, 0, pixelBytes(pic, 24, false)) << pic;
    QTest::newRow("32-bit") << bmpFile(40, 5, 3, 32, 0, pixelBytes(pic, 32, false)) << pic;
    const QList<quint32> rgbx{0xFF000000, 0x00FF0000, 0x0000FF00};
    QTest::newRow("32-bit bit fields, R G B X") << bmpFile(40, 5, 3, 32, 3, pixelBytes(pic, 32, false, {}, rgbx), {}, rgbx)
                                                << pic;
    QTest::newRow("V4 header, 16-bit 565") << bmpFile(108, 5, 3, 16, 3, pixelBytes(pic, 16, false, {}, m565), {}, m565)
                                           << pic;
    QTest::newRow("V5 header, 32-bit") << bmpFile(124, 5, 3, 32, 0, pixelBytes(pic, 32, false)) << pic;
}

void TestPictureDecoder::bitmapLayouts()
{
    QFETCH(QByteArray, data);
    QFETCH(QStringList, rows);
    const DecodedPicture p = decodePictureData(data);
    QCOMPARE(p.size, QSize(5, 3));
    QCOMPARE(p.image.size(), QSize(5, 3));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            QVERIFY2(p.image.pixel(x, y) == colour(rows[y][x]),
                     qPrintable(QStringLiteral("%1,%2: %3").arg(x).arg(y).arg(describe(p.image.pixel(x, y)))));
}

void TestPictureDecoder::bitmapBlocksAverageExactly()
{
    // Odd sizes leave partial blocks at the right and bottom edges; each output
    // pixel is the rounded mean of the pixels it covers.
    QImage src(7, 7, QImage::Format_RGB32);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 7; ++x)
            src.setPixel(x, y, qRgb(x * 30, y * 40, (x + y) % 2 ? 255 : 0));
    const DecodedPicture p = decodePictureData(bmp(src, 24), QSize(1, 1));
    QCOMPARE(p.size, QSize(7, 7));
    QCOMPARE(p.image.size(), QSize(4, 4));
    QCOMPARE(p.image.pixel(0, 0), qRgb(15, 20, 128));  // 2x2: x 0-1, y 0-1
    QCOMPARE(p.image.pixel(3, 0), qRgb(180, 20, 128)); // 1x2: x 6
    QCOMPARE(p.image.pixel(3, 3), qRgb(180, 240, 0));  // 1x1: x 6, y 6
}

void TestPictureDecoder::refusesBrokenFiles_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("says");
    const QByteArray good = jpeg(quadrants(200, 100), 95, TJSAMP_420);
    QTest::newRow("zero bytes") << QByteArray() << QStringLiteral("空");
    QTest::newRow("truncated jpeg") << good.left(good.size() / 2) << QStringLiteral("途中で切れて");
    // Cut in half and closed with an end marker, as a broken copy often is: libjpeg
    // only warns and would fill the rest with grey.
    QTest::newRow("half jpeg + EOI") << good.left(good.size() / 2) + QByteArray("\xFF\xD9", 2)
                                     << QStringLiteral("途中で切れて");
    const QByteArray progressive = jpeg(quadrants(200, 100), 95, TJSAMP_420, TJFLAG_PROGRESSIVE);
    QTest::newRow("cut progressive jpeg") << progressive.left(progressive.size() * 2 / 3) << QStringLiteral("途中で切れて");
    QTest::newRow("jpeg header only") << good.left(4) << QStringLiteral("壊れて");
    const QByteArray b = bmp(quadrants(50, 40), 24);
    QTest::newRow("truncated bmp") << b.left(b.size() - 10) << QStringLiteral("途中で切れて");
    QByteArray rle = b;
    rle[30] = 1; // RLE8 on a 24-bit picture
    QTest::newRow("rle 24-bit bmp") << rle << QStringLiteral("対応していません");
    // 5 x 3 RLE streams that lie: a run past the row's end, a move below the
    // picture; and one cut before its end-of-bitmap mark.
    QTest::newRow("rle8 run past the row") << bmpFile(40, 5, 3, 8, 1, bytes({6, 1, 0, 1}), "kr")
                                           << QStringLiteral("範囲を超えて");
    QTest::newRow("rle4 move below the picture") << bmpFile(40, 5, 3, 4, 2, bytes({0, 2, 0, 9, 0, 1}), "kr")
                                                 << QStringLiteral("範囲を超えて");
    QTest::newRow("rle8 cut short") << bmpFile(40, 5, 3, 8, 1, bytes({5, 1, 0, 0, 0, 3, 1}), "kr")
                                    << QStringLiteral("途中で切れて");
    QTest::newRow("text file") << QByteArray("hello, world") << QStringLiteral("対応していない形式");

    // Headers that ask for more than the pixels could ever be, or more than the data
    // could ever fill: refused from the header, before the memory is taken.
    QByteArray huge = bmp(quadrants(2, 2), 24);
    auto *p = reinterpret_cast<unsigned char *>(huge.data());
    p[18] = 0x60; p[19] = 0xEA; p[20] = 0; p[21] = 0; // 60000
    p[22] = 0x60; p[23] = 0xEA; p[24] = 0; p[25] = 0;
    QTest::newRow("bmp 60000x60000") << huge << QStringLiteral("大きすぎます");
    QByteArray lying = bmp(quadrants(2, 2), 24);
    p = reinterpret_cast<unsigned char *>(lying.data());
    p[18] = 0x30; p[19] = 0x75; // 30000
    p[22] = 0x30; p[23] = 0x30; // 12336
    QTest::newRow("bmp lying 30000x12336") << lying << QStringLiteral("途中で切れて");
    const auto withJpegSize = [](int side) {
        QByteArray j = jpeg(quadrants(16, 16), 50, TJSAMP_420);
        const qsizetype sof = j.indexOf(QByteArray("\xFF\xC0", 2));
        j[sof + 5] = char(side >> 8); j[sof + 6] = char(side & 0xFF);
        j[sof + 7] = char(side >> 8); j[sof + 8] = char(side & 0xFF);
        return j;
    };
    QTest::newRow("jpeg 60000x60000") << withJpegSize(60000) << QStringLiteral("大きすぎます");
    // Within the limits, a few hundred bytes for 400 megapixels: minutes and gigabytes
    // of grey if it were decoded.
    QTest::newRow("tiny jpeg declaring 20000x20000") << withJpegSize(20000) << QStringLiteral("データが少なすぎます");
}

void TestPictureDecoder::refusesBrokenFiles()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, says);
    try {
        decodePictureData(data);
        QFAIL("decoded a broken file");
    } catch (const Failure &f) {
        QVERIFY2(f.message().contains(says), qPrintable(f.message()));
    }
}

void TestPictureDecoder::refusesWhatIsNoFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("says");
    QTest::newRow("missing") << "missing" << QStringLiteral("見つかりません");
    QTest::newRow("fifo") << "fifo" << QStringLiteral("FIFO");
    QTest::newRow("folder") << "folder" << QStringLiteral("フォルダ");
    QTest::newRow("device") << "device" << QStringLiteral("デバイス");
}

// Names that are no regular file are refused at once: a FIFO swapped in for a
// picture must not hang the program waiting for a writer.
void TestPictureDecoder::refusesWhatIsNoFile()
{
    QFETCH(QString, kind);
    QFETCH(QString, says);
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("どこにもない.jpg"));
    if (kind == u"fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == u"folder")
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("どこにもない.jpg")));
    else if (kind == u"device")
        path = QStringLiteral("/dev/null");
    try {
        decodePicture(path);
        QFAIL("decoded something that is no picture file");
    } catch (const Failure &f) {
        QVERIFY2(f.message().contains(QFileInfo(path).fileName()), qPrintable(f.message()));
        QVERIFY2(f.message().contains(says), qPrintable(f.message()));
    }
}

// Another program rewrites the file while we decode it, again and again. With a
// mapped file the shortened pages would kill the process (SIGBUS); read into memory,
// each decode either sees a whole picture or fails with a reason.
void TestPictureDecoder::fileShortenedWhileRead()
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

void TestPictureDecoder::japanesePathWithSpaces()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("写真 フォルダ")));
    const QString path = dir.path() + QStringLiteral("/写真 フォルダ/夏の 海.jpg");
    writeFile(path, jpeg(quadrants(32, 24)));
    const DecodedPicture p = decodePicture(path);
    QCOMPARE(p.size, QSize(32, 24));
    verifyQuadrants(p.image);
}

QTEST_GUILESS_MAIN(TestPictureDecoder)
#include "tst_picturedecoder.moc"
