// Composition of one job at pixel level, with 15 twips per pixel.

#include "compose/jobcompose.h"
#include "compose/surface.h"
#include "platform/failure.h"
#include "platform/syscolor.h"
#include "testpictures.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtTest>

using namespace kestrovia;
using namespace testpics;

namespace {
const QRgb kGrey = qRgb(0x80, 0x80, 0x80);
const QString kGreyText = QStringLiteral("8421504"); // 0x00808080
} // namespace

class TestJobCompose : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void pixels_data();
    void pixels();
    void canvasSize_data();
    void canvasSize();
    void backgroundColours_data();
    void backgroundColours();
    void quickPreviewLeavesTurnOut();
    void nothingCarriedFromPreviousJob();
    void shrinkOnLoadKeepsRealGeometry();
    void stretchedJobNeedsWholeCanvas();
    void failures_data();
    void failures();

private:
    struct Run {
        Surface source{TwipsPerPixel{15, 15}};
        Surface turned{TwipsPerPixel{15, 15}};
        Surface canvas{TwipsPerPixel{15, 15}};
        JobSurfaces surfaces() { return {source, turned, canvas}; }
    };
    JobSettings job(const QString &size, const QString &fit, const QString &position,
                    const QString &rotation, const QString &colour = kGreyText) const
    {
        return {m_path, size, fit, colour, position, rotation};
    }

    QTemporaryDir m_dir;
    QString m_path;
};

void TestJobCompose::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Lossless source so colours next to the rectangle edges are exact.
    m_path = m_dir.filePath(QStringLiteral("src 640x480.bmp"));
    writeFile(m_path, bmp(quadrants(640, 480), 24));
}

void TestJobCompose::pixels_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("fit");
    QTest::addColumn<QString>("position");
    QTest::addColumn<QString>("rotation");
    QTest::addColumn<QSize>("canvas");
    QTest::addColumn<QList<QPoint>>("points");
    QTest::addColumn<QList<QRgb>>("colours");

    // 2000x1500 twips (133 1/3 px) at x = 500 twips (33 1/3 px): pixels 33..166.
    QTest::newRow("200*100 OFF Center")
        << "200*100" << "OFF" << "Center" << "" << QSize(200, 100)
        << QList<QPoint>{{16, 50}, {183, 50}, {33, 0}, {166, 0}, {33, 99}, {166, 99}}
        << QList<QRgb>{kGrey, kGrey, kRed, kGreen, kBlue, kYellow};
    QTest::newRow("200*100 OFF Top")
        << "200*100" << "OFF" << "Top" << "" << QSize(200, 100)
        << QList<QPoint>{{0, 0}, {132, 0}, {132, 99}, {133, 50}, {199, 50}}
        << QList<QRgb>{kRed, kGreen, kYellow, kGrey, kGrey};
    QTest::newRow("200*100 ON stretches")
        << "200*100" << "ON" << "Center" << "" << QSize(200, 100)
        << QList<QPoint>{{0, 0}, {199, 0}, {0, 99}, {199, 99}}
        << QList<QRgb>{kRed, kGreen, kBlue, kYellow};
    // Turned 480x640 fitted to 360x480 at x = 140: bands 0..139 and 500..639.
    QTest::newRow("+90 OFF Center, 140-pixel bands")
        << "" << "OFF" << "Center" << "+90°" << QSize(640, 480)
        << QList<QPoint>{{70, 240}, {139, 240}, {500, 240}, {570, 240},
                         {140, 0}, {499, 0}, {140, 479}, {499, 479}}
        << QList<QRgb>{kGrey, kGrey, kGrey, kGrey, kBlue, kRed, kYellow, kGreen};
    QTest::newRow("+90 ON squeezed")
        << "" << "ON" << "Center" << "+90°" << QSize(640, 480)
        << QList<QPoint>{{0, 0}, {639, 0}, {0, 479}, {639, 479}}
        << QList<QRgb>{kBlue, kRed, kYellow, kGreen};
    QTest::newRow("-90 OFF 480*640 fills exactly")
        << "480*640" << "OFF" << "Center" << "-90°" << QSize(480, 640)
        << QList<QPoint>{{0, 0}, {479, 0}, {0, 639}, {479, 639}}
        << QList<QRgb>{kGreen, kYellow, kRed, kBlue};
    QTest::newRow("+180 mirrored both ways")
        << "" << "OFF" << "Top" << "+180°" << QSize(640, 480)
        << QList<QPoint>{{0, 0}, {639, 0}, {0, 479}, {639, 479}}
        << QList<QRgb>{kYellow, kBlue, kGreen, kRed};
}

void TestJobCompose::pixels()
{
    QFETCH(QString, size);
    QFETCH(QString, fit);
    QFETCH(QString, position);
    QFETCH(QString, rotation);
    QFETCH(QSize, canvas);
    QFETCH(QList<QPoint>, points);
    QFETCH(QList<QRgb>, colours);
    Run run;
    composeJobToCanvas(run.surfaces(), job(size, fit, position, rotation), {15, 15});
    QCOMPARE(run.canvas.pixelSize(), canvas);
    QCOMPARE(run.canvas.width(), canvas.width() * 15);
    QCOMPARE(run.canvas.height(), canvas.height() * 15);
    const QImage &img = run.canvas.image();
    QCOMPARE(img.size(), canvas);
    for (int i = 0; i < points.size(); ++i) {
        const QRgb got = img.pixel(points[i]);
        QVERIFY2(near(got, colours[i], 8),
                 qPrintable(QStringLiteral("at %1,%2: %3, expected %4")
                                .arg(points[i].x()).arg(points[i].y()).arg(describe(got), describe(colours[i]))));
    }
}

void TestJobCompose::canvasSize_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<QSize>("canvas");
    QTest::newRow("empty: source size") << "" << QSize(640, 480);
    QTest::newRow("no star: source size") << "640x480" << QSize(640, 480);
    QTest::newRow("zero side: source size") << "800*0" << QSize(640, 480);
    QTest::newRow("12.5 rounds to 12") << "12.5*10" << QSize(12, 10);
    QTest::newRow("13.5 rounds to 14") << "13.5*10" << QSize(14, 10);
    QTest::newRow("plain") << "320*200" << QSize(320, 200);
}

void TestJobCompose::canvasSize()
{
    QFETCH(QString, size);
    QFETCH(QSize, canvas);
    Run run;
    composeJobToCanvas(run.surfaces(), job(size, "OFF", "Center", "+90°"), {15, 15});
    // The canvas never depends on the turn.
    QCOMPARE(run.canvas.pixelSize(), canvas);
    QCOMPARE(run.canvas.width(), canvas.width() * 15);
}

void TestJobCompose::backgroundColours_data()
{
    QTest::addColumn<QString>("colour");
    QTest::addColumn<QRgb>("expected");
    QTest::newRow("255 is pure red") << "255" << qRgb(255, 0, 0);
    QTest::newRow("window background reference")
        << "-2147483643" << qRgb(255, 255, 255);
}

void TestJobCompose::backgroundColours()
{
    QFETCH(QString, colour);
    QFETCH(QRgb, expected);
    Run run;
    composeJobToCanvas(run.surfaces(), job("200*100", "OFF", "Center", "", colour), {15, 15});
    QCOMPARE(run.canvas.image().pixel(5, 50), expected);
}

void TestJobCompose::quickPreviewLeavesTurnOut()
{
    Run run;
    Surface preview{TwipsPerPixel{15, 15}};
    const JobSettings j = job("", "ON", "Center", "+90°");
    loadJobSource(run.surfaces(), j, {15, 15}, false);
    composeJob(run.surfaces(), j, {15, 15}, preview, false);
    QCOMPARE(preview.pixelSize(), QSize(640, 480));
    QVERIFY(near(preview.image().pixel(0, 0), kRed, 8));
    QVERIFY(run.turned.pixelSize().isEmpty());
    // The complete preview of the same job shows the turn.
    composeJob(run.surfaces(), j, {15, 15}, preview, true);
    QVERIFY(near(preview.image().pixel(0, 0), kBlue, 8));
}

void TestJobCompose::nothingCarriedFromPreviousJob()
{
    Run run;
    composeJobToCanvas(run.surfaces(), job("", "OFF", "Center", "+90°"), {15, 15});
    // Texts outside the tables: no turn, top-left.
    composeJobToCanvas(run.surfaces(), job("400*100", "OFF", "Middle", "+45°"), {15, 15});
    const QImage &img = run.canvas.image();
    QCOMPARE(img.size(), QSize(400, 100));
    QVERIFY(near(img.pixel(0, 0), kRed, 8));    // unturned, at the left edge
    QVERIFY(near(img.pixel(132, 99), kYellow, 8));
    QVERIFY(near(img.pixel(300, 50), kGrey, 8));
}

void TestJobCompose::shrinkOnLoadKeepsRealGeometry()
{
    const QString path = m_dir.filePath(QStringLiteral("big.jpg"));
    writeFile(path, jpeg(quadrants(1600, 1200), 95));
    Run run;
    const JobSettings j{path, QStringLiteral("100*300"), QStringLiteral("OFF"), kGreyText,
                        QStringLiteral("Center"), QStringLiteral("-90°")};
    loadJobSource(run.surfaces(), j, {15, 15});
    // Turned and fitted, the picture is drawn 100x133 on the 100x300 canvas, which
    // is 133x100 of the unturned source: an eighth (200x150) still covers that.
    QCOMPARE(run.source.pixelSize(), QSize(1600, 1200));
    QCOMPARE(run.source.width(), 1600 * 15);
    QVERIFY(run.source.isReduced());
    QCOMPARE(run.source.image().size(), QSize(200, 150));
    composeJob(run.surfaces(), j, {15, 15}, run.canvas, true);
    QCOMPARE(run.canvas.pixelSize(), QSize(100, 300));
    QCOMPARE(run.turned.image().size(), QSize(150, 200));
    QCOMPARE(run.turned.pixelSize(), QSize(1200, 1600));
    // 1200x1600 fitted into 100x300 -> 100x133 (1500x1995 twips) centred at y = 83.5 px.
    const QImage &img = run.canvas.image();
    QVERIFY(near(img.pixel(50, 40), kGrey, 8));
    QVERIFY(near(img.pixel(1, 86), kGreen, 30));
    QVERIFY(near(img.pixel(98, 86), kYellow, 30));
    QVERIFY(near(img.pixel(1, 214), kRed, 30));
    QVERIFY(near(img.pixel(50, 260), kGrey, 8));
}

void TestJobCompose::stretchedJobNeedsWholeCanvas()
{
    const QString path = m_dir.filePath(QStringLiteral("big2.jpg"));
    writeFile(path, jpeg(quadrants(1600, 1200), 95));
    Run run;
    // Stretched over 700x200 the source must keep at least 700 columns: half (800).
    const JobSettings j{path, QStringLiteral("700*200"), QStringLiteral("ON"), kGreyText,
                        QStringLiteral("Top"), QString()};
    loadJobSource(run.surfaces(), j, {15, 15});
    QCOMPARE(run.source.image().size(), QSize(800, 600));
}

void TestJobCompose::failures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<QString>("says");
    QTest::newRow("star first") << "" << "*10" << kGreyText << "数値ではありません";
    QTest::newRow("width not a number") << "" << "abc*10" << kGreyText << "数値ではありません";
    QTest::newRow("height empty") << "" << "10*" << kGreyText << "数値ではありません";
    QTest::newRow("negative") << "" << "-5*10" << kGreyText << "負の値";
    QTest::newRow("too large") << "" << "99999*99999" << kGreyText << "大きすぎます";
    QTest::newRow("beyond 32 bits") << "" << "1e99*10" << kGreyText << "数値ではありません";
    QTest::newRow("huge number") << "" << "99999999999*10" << kGreyText << "大きすぎます";
    QTest::newRow("colour not a number") << "" << "10*10" << "red" << "背景色";
    QTest::newRow("missing file") << "/nonexistent/なし.bmp" << "10*10" << kGreyText << "見つかりません";
}

void TestJobCompose::failures()
{
    QFETCH(QString, path);
    QFETCH(QString, size);
    QFETCH(QString, colour);
    QFETCH(QString, says);
    Run run;
    JobSettings j = job(size, "OFF", "Center", "", colour);
    if (!path.isEmpty())
        j.path = path;
    try {
        composeJobToCanvas(run.surfaces(), j, {15, 15});
        QFAIL("the job was composed");
    } catch (const Failure &f) {
        QVERIFY2(f.message().contains(says), qPrintable(f.message()));
    }
}

QTEST_MAIN(TestJobCompose)
#include "tst_jobcompose.moc"
