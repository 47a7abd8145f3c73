// The raster routines: keep-aspect sizes and the turn-and-stretch.

#include "compose/raster.h"
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
    void stretchFillsTarget_data();
    void stretchFillsTarget();
    void tooLargeTargetFails();
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
    QImage img(3, 2, QImage::Format_RGB32);
    const QString letters = QStringLiteral("abcdef");
    for (int i = 0; i < 6; ++i)
        img.setPixel(i % 3, i / 3, colour(letters[i]));
    const int w = int(rows.first().size()), h = int(rows.size());
    const QImage out = ComposePicture(img, QRectF(img.rect()), QSize(w, h), std::int16_t(code));
    QCOMPARE(out.size(), QSize(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            QCOMPARE(out.pixel(x, y), colour(rows[y][x]));
}

// Smaller and larger targets, turned or not: the whole picture fills the target,
// its corners where the turn puts them.
void TestRaster::stretchFillsTarget_data()
{
    QTest::addColumn<QSize>("target");
    QTest::addColumn<int>("code");
    QTest::addColumn<QList<QRgb>>("corners"); // top-left, top-right, bottom-left, bottom-right
    using namespace testpics;
    QTest::newRow("smaller, distorted") << QSize(100, 100) << 0 << QList<QRgb>{kRed, kGreen, kBlue, kYellow};
    QTest::newRow("smaller, turned +90") << QSize(60, 80) << 90 << QList<QRgb>{kBlue, kRed, kYellow, kGreen};
    QTest::newRow("larger, turned 180") << QSize(900, 700) << 180 << QList<QRgb>{kYellow, kBlue, kGreen, kRed};
}

void TestRaster::stretchFillsTarget()
{
    QFETCH(QSize, target);
    QFETCH(int, code);
    QFETCH(QList<QRgb>, corners);
    const QImage src = testpics::quadrants(640, 480);
    const QImage out = ComposePicture(src, QRectF(src.rect()), target, std::int16_t(code));
    QCOMPARE(out.size(), target);
    const int r = target.width() - 1, b = target.height() - 1;
    const QList<QPoint> at = {{0, 0}, {r, 0}, {0, b}, {r, b}};
    for (int i = 0; i < 4; ++i)
        QVERIFY2(testpics::near(out.pixel(at[i]), corners[i]), qPrintable(testpics::describe(out.pixel(at[i]))));
}

void TestRaster::tooLargeTargetFails()
{
    const QImage src = testpics::quadrants(4, 4);
    QVERIFY_THROWS_EXCEPTION(Failure, ComposePicture(src, QRectF(src.rect()), QSize(40000, 4), 0));
}

QTEST_GUILESS_MAIN(TestRaster)
#include "tst_raster.moc"
