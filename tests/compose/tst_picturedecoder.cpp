// Decoding: every JPEG and BMP flavour, EXIF orientation, reduced decodes, and the
// files that must be refused without harm.

#include "compose/picturedecoder.h"
#include "platform/failure.h"
#include "testpictures.h"

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
    QTest::newRow("jpeg cmyk (inverted)") << cmykJpeg(q) << false;
    QTest::newRow("bmp 24 bottom-up") << bmp(q, 24) << false;
    QTest::newRow("bmp 24 top-down") << bmp(q, 24, true) << false;
    QTest::newRow("bmp 32") << bmp(q, 32) << false;
    QTest::newRow("bmp 8 palette") << bmp(q, 8) << false;
    QTest::newRow("bmp 8 palette top-down") << bmp(q, 8, true) << false;
    QImage odd = quadrants(37, 11); // row padding
    QTest::newRow("bmp 24 odd width") << bmp(odd, 24) << false;
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
    QTest::addColumn<bool>("bitmap");
    QTest::addColumn<QSize>("need");
    QTest::addColumn<QSize>("image");
    QTest::newRow("no hint: full") << false << QSize() << QSize(800, 600);
    QTest::newRow("half still covers 400x300") << false << QSize(400, 300) << QSize(400, 300);
    QTest::newRow("401 wide needs full") << false << QSize(401, 300) << QSize(800, 600);
    QTest::newRow("eighth") << false << QSize(90, 60) << QSize(100, 75);
    QTest::newRow("quarter") << false << QSize(150, 150) << QSize(200, 150);
    QTest::newRow("bmp no hint") << true << QSize() << QSize(800, 600);
    QTest::newRow("bmp 2x2 blocks") << true << QSize(400, 300) << QSize(400, 300);
    QTest::newRow("bmp 4x4 blocks") << true << QSize(150, 150) << QSize(200, 150);
    QTest::newRow("bmp too big to shrink") << true << QSize(401, 300) << QSize(800, 600);
}

void TestPictureDecoder::reducedDecodeKeepsRealSize()
{
    QFETCH(bool, bitmap);
    QFETCH(QSize, need);
    QFETCH(QSize, image);
    const QImage q = quadrants(800, 600);
    const DecodedPicture p = decodePictureData(bitmap ? bmp(q, 24) : jpeg(q), need);
    QCOMPARE(p.size, QSize(800, 600));
    QCOMPARE(p.image.size(), image);
    verifyQuadrants(p.image);
}

void TestPictureDecoder::bitmapBlocksAverageExactly()
{
    // Odd sizes leave partial blocks at the right and bottom edges; each output
    // pixel is the rounded mean of the pixels it covers.
    QImage src(7, 5, QImage::Format_RGB32);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            src.setPixel(x, y, qRgb(x * 30, y * 50, (x + y) % 2 ? 255 : 0));
    const DecodedPicture p = decodePictureData(bmp(src, 24), QSize(4, 3));
    QCOMPARE(p.size, QSize(7, 5));
    QCOMPARE(p.image.size(), QSize(4, 3));
    QCOMPARE(p.image.pixel(0, 0), qRgb(15, 25, 128));  // 2x2: x 0-1, y 0-1
    QCOMPARE(p.image.pixel(3, 0), qRgb(180, 25, 128)); // 1x2: x 6
    QCOMPARE(p.image.pixel(3, 2), qRgb(180, 200, 0));  // 1x1: x 6, y 4
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
    rle[30] = 1; // BI_RLE8
    QTest::newRow("rle bmp") << rle << QStringLiteral("対応していません");
    QTest::newRow("text file") << QByteArray("hello, world") << QStringLiteral("JPEG でも BMP でもない");

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
