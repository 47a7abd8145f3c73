// Scaled drawing: no aliasing on reduction, flat areas stay flat, edge rounding.

#include "compose/resample.h"
#include "compose/rowsplit.h"

#include <QThreadPool>
#include <QtTest>

#include <atomic>
#include <stdexcept>
#include <vector>

using namespace kestrovia;

class TestResample : public QObject {
    Q_OBJECT

private slots:
    // Two pool threads at least, so that large passes split on any machine.
    void initTestCase() { QThreadPool::globalInstance()->setMaxThreadCount(std::max(2, QThread::idealThreadCount())); }
    void stripesReduceToEvenGrey_data();
    void stripesReduceToEvenGrey();
    void flatColourStaysExact_data();
    void flatColourStaysExact();
    void edgesRoundToNearestBoundary_data();
    void edgesRoundToNearestBoundary();
    void upscaleIsSmooth();
    void rowSplit();
};

static QImage stripes(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    return img;
}

void TestResample::stripesReduceToEvenGrey_data()
{
    QTest::addColumn<int>("srcWidth");
    QTest::addColumn<int>("dstWidth");
    QTest::newRow("a third") << 600 << 200;
    QTest::newRow("a third, odd count") << 301 << 100;
    QTest::newRow("two fifths") << 500 << 200;
    QTest::newRow("a tenth") << 1000 << 100;
}

void TestResample::stripesReduceToEvenGrey()
{
    QFETCH(int, srcWidth);
    QFETCH(int, dstWidth);
    const QImage src = stripes(srcWidth, 30);
    QImage dst(dstWidth, 10, QImage::Format_RGB32);
    dst.fill(Qt::red);
    drawScaled(dst, QRectF(dst.rect()), src, QRectF(src.rect()));
    for (int y = 0; y < dst.height(); ++y)
        for (int x = 0; x < dst.width(); ++x) {
            const QRgb c = dst.pixel(x, y);
            QVERIFY2(std::abs(qRed(c) - 128) <= 20 && qRed(c) == qGreen(c) && qGreen(c) == qBlue(c),
                     qPrintable(QStringLiteral("pixel %1,%2 = %3").arg(x).arg(y).arg(qRed(c))));
        }
}

void TestResample::flatColourStaysExact_data()
{
    QTest::addColumn<QSize>("from");
    QTest::addColumn<QRectF>("to");
    QTest::newRow("reduce") << QSize(97, 61) << QRectF(0, 0, 30, 20);
    QTest::newRow("enlarge") << QSize(7, 5) << QRectF(0, 0, 64, 48);
    QTest::newRow("fractional rectangle") << QSize(50, 50) << QRectF(3.3, 2.7, 40.4, 30.2);
    // Large enough for both passes to split their rows over two threads: a row
    // either half leaves undrawn shows as black or as garbage.
    QTest::newRow("reduce, split over threads") << QSize(2000, 1500) << QRectF(0, 0, 1500, 1100);
    QTest::newRow("enlarge, split over threads") << QSize(300, 200) << QRectF(0, 0, 1600, 1200);
}

void TestResample::flatColourStaysExact()
{
    QFETCH(QSize, from);
    QFETCH(QRectF, to);
    QImage src(from, QImage::Format_RGB32);
    src.fill(qRgb(12, 200, 77));
    QImage dst(std::max(64, int(to.right()) + 2), std::max(48, int(to.bottom()) + 2), QImage::Format_RGB32);
    dst.fill(Qt::black);
    drawScaled(dst, to, src, QRectF(src.rect()));
    const PixelSpan sx = pixelSpan(to.x(), to.width());
    const PixelSpan sy = pixelSpan(to.y(), to.height());
    for (int y = 0; y < dst.height(); ++y)
        for (int x = 0; x < dst.width(); ++x) {
            const bool inside = x >= sx.first && x < sx.end && y >= sy.first && y < sy.end;
            if (dst.pixel(x, y) != (inside ? qRgb(12, 200, 77) : qRgb(0, 0, 0)))
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        }
}

// Every row exactly once, with the pool free or busy, and a throw in either half
// reaches the caller (it must never end the program).
void TestResample::rowSplit()
{
    QThreadPool *pool = QThreadPool::globalInstance();
    for (const bool busy : {false, true}) {
        std::atomic<bool> release{false};
        if (busy)
            for (int i = 0; i < pool->maxThreadCount(); ++i)
                pool->start([&release] {
                    while (!release)
                        QThread::msleep(1);
                });
        std::vector<std::atomic<int>> visits(1000);
        splitRows(1000, 1e9, [&](int first, int end) {
            for (int r = first; r < end; ++r)
                ++visits[size_t(r)];
        });
        release = true;
        pool->waitForDone();
        for (const auto &v : visits)
            QCOMPARE(v.load(), 1);
    }
    for (const int bad : {10, 900})
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, splitRows(1000, 1e9, [bad](int first, int end) {
                                     if (bad >= first && bad < end)
                                         throw std::runtime_error("row failed");
                                 }));
}

void TestResample::edgesRoundToNearestBoundary_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("length");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("end");
    QTest::newRow("thirds (200x100 canvas, 133 1/3 wide at 33 1/3)") << 100.0 / 3 << 400.0 / 3 << 33 << 167;
    QTest::newRow("half rounds to even") << 0.5 << 2.0 << 0 << 2;
    QTest::newRow("1.5 rounds to even") << 1.5 << 1.0 << 2 << 2;
    QTest::newRow("whole pixels") << 140.0 << 360.0 << 140 << 500;
}

void TestResample::edgesRoundToNearestBoundary()
{
    QFETCH(double, start);
    QFETCH(double, length);
    const PixelSpan s = pixelSpan(start, length);
    QTEST(s.first, "first");
    QTEST(s.end, "end");
}

void TestResample::upscaleIsSmooth()
{
    // Black to white over two pixels: enlarged, the ramp rises step by step
    // instead of jumping (nearest-neighbour would give one hard edge).
    QImage src(2, 1, QImage::Format_RGB32);
    src.setPixel(0, 0, qRgb(0, 0, 0));
    src.setPixel(1, 0, qRgb(255, 255, 255));
    QImage dst(20, 1, QImage::Format_RGB32);
    drawScaled(dst, QRectF(dst.rect()), src, QRectF(src.rect()));
    int distinct = 0;
    for (int x = 1; x < 20; ++x) {
        QVERIFY(qRed(dst.pixel(x, 0)) >= qRed(dst.pixel(x - 1, 0)));
        distinct += qRed(dst.pixel(x, 0)) != qRed(dst.pixel(x - 1, 0));
    }
    QVERIFY(distinct >= 6);
}

QTEST_GUILESS_MAIN(TestResample)
#include "tst_resample.moc"
