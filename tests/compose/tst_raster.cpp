// The raster routines: keep-aspect sizes and the turn-and-stretch.

#include "compose/raster.h"
#include "compose/surface.h"
#include "platform/busypointer.h"
#include "platform/failure.h"
#include "tests/common/testpictures.h"

#include <QtTest>

using namespace kestrovia;

class TestRaster : public QObject {
    Q_OBJECT

private slots:
    void fitAspectSize_data();
    void fitAspectSize();
    void fitAspectSizeFailureLeavesSizeUnchanged_data();
    void fitAspectSizeFailureLeavesSizeUnchanged();
    void turn_data();
    void turn();
    void stretchFillsTarget();
    void targetClippedAndOutsideKept();
    void badSizeFailsAndRestoresPointer();
};

void TestRaster::fitAspectSize_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("bw");
    QTest::addColumn<int>("bh");
    QTest::addColumn<int>("ew");
    QTest::addColumn<int>("eh");
    QTest::newRow("640x480 in 200x100") << 640 << 480 << 200 << 100 << 133 << 100;
    QTest::newRow("640x480 in 100x200") << 640 << 480 << 100 << 200 << 100 << 75;
    QTest::newRow("480x640 in 150x100") << 480 << 640 << 150 << 100 << 75 << 100;
    QTest::newRow("500x500 in 120x100") << 500 << 500 << 120 << 100 << 100 << 100;
    QTest::newRow("640x360 in 120x100: height from rounded 178") << 640 << 360 << 120 << 100 << 120 << 67;
    QTest::newRow("200x300 in 100x60") << 200 << 300 << 100 << 60 << 40 << 60;
    QTest::newRow("1024x768 in 160x120") << 1024 << 768 << 160 << 120 << 160 << 120;
    QTest::newRow("640x480 in square 100") << 640 << 480 << 100 << 100 << 100 << 75;
    QTest::newRow("480x640 in square 100") << 480 << 640 << 100 << 100 << 75 << 100;
    QTest::newRow("300x300 in square 100") << 300 << 300 << 100 << 100 << 100 << 100;
    QTest::newRow("640x480 in 101x100") << 640 << 480 << 101 << 100 << 101 << 76;
    // Twips, as the composition calls it: 480x640 pixels turned, in a 640x480 canvas.
    QTest::newRow("twips 7200x9600 in 9600x7200") << 7200 << 9600 << 9600 << 7200 << 5400 << 7200;
}

void TestRaster::fitAspectSize()
{
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(int, bw);
    QFETCH(int, bh);
    std::int32_t width = w, height = h;
    FitAspectSize(width, height, bw, bh);
    QTEST(int(width), "ew");
    QTEST(int(height), "eh");
}

void TestRaster::fitAspectSizeFailureLeavesSizeUnchanged_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("bw");
    QTest::addColumn<int>("bh");
    QTest::newRow("zero height") << 640 << 0 << 200 << 100;
    QTest::newRow("zero width, tall box divides by zero") << 0 << 480 << 100 << 200;
    QTest::newRow("result beyond 32 bits") << 2000000000 << 1 << 2000000000 << 1999999999;
}

void TestRaster::fitAspectSizeFailureLeavesSizeUnchanged()
{
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(int, bw);
    QFETCH(int, bh);
    std::int32_t width = w, height = h;
    FitAspectSize(width, height, bw, bh);
    QCOMPARE(int(width), w);
    QCOMPARE(int(height), h);
}

void TestRaster::turn_data()
{
    // Source 3 wide, 2 high: top row a b c, bottom row d e f.
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("90") << 90 << QStringList{"da", "eb", "fc"};
    QTest::newRow("270") << 270 << QStringList{"cf", "be", "ad"};
    QTest::newRow("180") << 180 << QStringList{"fed", "cba"};
    QTest::newRow("0") << 0 << QStringList{"abc", "def"};
    QTest::newRow("45 copies") << 45 << QStringList{"abc", "def"};
    QTest::newRow("-90 is no synonym of 270") << -90 << QStringList{"abc", "def"};
}

void TestRaster::turn()
{
    QFETCH(int, code);
    QFETCH(QStringList, rows);
    const auto colour = [](QChar c) { return qRgb(10 * (c.unicode() - 'a' + 1), 0, 0); };
    Surface src, dst;
    src.setAutoSize(true);
    QImage img(3, 2, QImage::Format_RGB32);
    const QString letters = QStringLiteral("abcdef");
    for (int i = 0; i < 6; ++i)
        img.setPixel(i % 3, i / 3, colour(letters[i]));
    src.resize(3 * 15, 2 * 15);
    src.setBackingImage(img);

    const int w = int(rows.first().size()), h = int(rows.size());
    dst.resize(w * 15, h * 15);
    ComposePicture(src, dst, 3.0f, 2.0f, float(w), float(h), std::int16_t(code));
    QVERIFY(!BusyPointer::isBusy());
    QCOMPARE(dst.pixelSize(), QSize(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            QCOMPARE(dst.image().pixel(x, y), colour(rows[y][x]));
}

void TestRaster::stretchFillsTarget()
{
    Surface src, dst;
    src.setAutoSize(true);
    src.resize(640 * 15, 480 * 15);
    src.setBackingImage(testpics::quadrants(640, 480));
    dst.resize(100 * 15, 100 * 15);
    ComposePicture(src, dst, 640.0f, 480.0f, 100.0f, 100.0f, 0);
    const QImage &out = dst.image();
    QVERIFY(testpics::near(out.pixel(0, 0), testpics::kRed));
    QVERIFY(testpics::near(out.pixel(99, 0), testpics::kGreen));
    QVERIFY(testpics::near(out.pixel(0, 99), testpics::kBlue));
    QVERIFY(testpics::near(out.pixel(99, 99), testpics::kYellow));
}

void TestRaster::targetClippedAndOutsideKept()
{
    Surface src, dst;
    src.resize(4 * 15, 4 * 15);
    src.setBackColor(255); // red
    dst.resize(10 * 15, 3 * 15);
    dst.setBackColor(0xFF0000); // blue
    // A target 6 wide (inside) and 8 high (beyond the 3-pixel surface).
    ComposePicture(src, dst, 4.0f, 4.0f, 6.0f, 8.0f, 0);
    const QImage &out = dst.image();
    QCOMPARE(out.size(), QSize(10, 3));
    QCOMPARE(out.pixel(5, 2), testpics::kRed);
    QCOMPARE(out.pixel(6, 0), testpics::kBlue);
    QCOMPARE(out.pixel(9, 2), testpics::kBlue);
}

void TestRaster::badSizeFailsAndRestoresPointer()
{
    Surface src, dst;
    src.resize(4 * 15, 4 * 15);
    dst.resize(4 * 15, 4 * 15);
    QVERIFY_THROWS_EXCEPTION(Failure, ComposePicture(src, dst, 4.0f, 4.0f, 1e20f, 4.0f, 0));
    QVERIFY_THROWS_EXCEPTION(Failure, ComposePicture(src, dst, 40000.0f, 4.0f, 4.0f, 4.0f, 0));
    QVERIFY(!BusyPointer::isBusy());
}

QTEST_GUILESS_MAIN(TestRaster)
#include "tst_raster.moc"
