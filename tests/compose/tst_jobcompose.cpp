// Composition of one job at pixel level, with 15 twips per pixel: placement, turns,
// the keep-aspect fit, size texts, shrink on load, and the colour-plane route; and
// the scaled drawing under it: no aliasing on reduction, flat areas stay flat, edge
// rounding, and the split of a pass over two threads.

#include "compose/imagebuffer.h"
#include "compose/jobcompose.h"
#include "compose/memorybudget.h"
#include "compose/raster.h"
#include "compose/resample.h"
#include "compose/rowsplit.h"
#include "platform/failure.h"
#include "platform/stop.h"
#include "tests/common/formatpictures.h"
#include "tests/common/testpictures.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

#include <tiffio.h>

#include <atomic>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace kestrovia;
using namespace testpics;

namespace {

const QRgb kGrey = qRgb(0x80, 0x80, 0x80);
const QString kGreyText = QStringLiteral("8421504"); // 0x00808080

JobRow job(const QString &path, const QString &size, const QString &fit, const QString &position,
           const QString &rotation, const QString &colour = kGreyText)
{
    JobRow j;
    j.path = path;
    j.newSize = size;
    j.fit = fit;
    j.backColor = colour;
    j.position = position;
    j.rotation = rotation;
    j.compression = QStringLiteral("5");
    return j;
}

QImage compose(const JobRow &j) { return composeJob(readJob(j), loadJobSource(readJob(j))); }

// An RGB TIFF written by libtiff in strips of rowsPerStrip rows, or in square tiles
// of tileSide pixels when that is set.
QByteArray libtiffPicture(const QImage &image, int rowsPerStrip, int tileSide = 0,
                          int compression = COMPRESSION_ADOBE_DEFLATE)
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("p.tif")));
    TIFF *t = TIFFOpen(path.constData(), "w");
    if (!t)
        return {};
    const int w = image.width(), h = image.height();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    const auto rgb = [&](int x, int y, std::uint8_t *to) {
        const QRgb c = x < w && y < h ? image.pixel(x, y) : 0;
        to[0] = std::uint8_t(qRed(c));
        to[1] = std::uint8_t(qGreen(c));
        to[2] = std::uint8_t(qBlue(c));
    };
    if (tileSide) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, tileSide);
        TIFFSetField(t, TIFFTAG_TILELENGTH, tileSide);
        std::vector<std::uint8_t> tile(size_t(tileSide) * size_t(tileSide) * 3);
        for (int ty = 0; ty < h; ty += tileSide)
            for (int tx = 0; tx < w; tx += tileSide) {
                for (int y = 0; y < tileSide; ++y)
                    for (int x = 0; x < tileSide; ++x)
                        rgb(tx + x, ty + y, &tile[(size_t(y) * size_t(tileSide) + size_t(x)) * 3]);
                TIFFWriteTile(t, tile.data(), std::uint32_t(tx), std::uint32_t(ty), 0, 0);
            }
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        std::vector<std::uint8_t> row(size_t(w) * 3);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                rgb(x, y, &row[size_t(x) * 3]);
            TIFFWriteScanline(t, row.data(), std::uint32_t(y), 0);
        }
    }
    TIFFClose(t);
    QFile f(QFile::decodeName(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Soft lines (Gaussian profile) in an upright 1001 x 901 picture.
const QList<int> kLineColumns{130, 370, 610, 850}, kLineRows{110, 330, 550, 770};
constexpr double kLineSigma = 12;

// The picture as a camera stores it under EXIF orientation o: upright turned and
// mirrored back, so that the decoder's turn makes it upright again.
QImage storedAs(const QImage &upright, int o)
{
    const int turn[] = {0, 0, 0, 180, 0, 90, -90, -90, 90};
    const QImage turned = upright.transformed(QTransform().rotate(turn[o]));
    return o == 2 || o == 5 || o == 7 ? turned.mirrored(true, false) : turned.mirrored(false, o == 4);
}

std::vector<double> lineProfile(int n, const QList<int> &at)
{
    std::vector<double> p(size_t(n), 0.0);
    for (int i = 0; i < n; ++i)
        for (int c : at)
            p[size_t(i)] += std::exp(-(i - c) * (i - c) / (2 * kLineSigma * kLineSigma));
    return p;
}

// Centroid of the line nearest `expected` in a profile, over +-radius, above the
// level at the window's ends.
double centroid(const std::vector<double> &profile, double expected, int radius)
{
    const int c = int(std::lround(expected));
    const int lo = std::max(0, c - radius), hi = std::min(int(profile.size()) - 1, c + radius);
    const double base = (profile[size_t(lo)] + profile[size_t(hi)]) / 2;
    double sum = 0, moment = 0;
    for (int i = lo; i <= hi; ++i) {
        sum += profile[size_t(i)] - base;
        moment += (profile[size_t(i)] - base) * i;
    }
    return moment / sum;
}

// A zone plate: cos(pi r^2 / n), its local frequency r / n rising to the Nyquist
// limit at the middle of each edge.
QImage zonePlate(int n)
{
    QImage z(n, n, QImage::Format_RGB32);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const double dx = x + 0.5 - n / 2.0, dy = y + 0.5 - n / 2.0;
            const int v = int(std::lround(128 + 127 * std::cos(M_PI * (dx * dx + dy * dy) / n)));
            z.setPixel(x, y, qRgb(v, v, v));
        }
    return z;
}

// Reference: a plain Lanczos-3 reduction of the whole picture to n x n, in doubles.
std::vector<double> lanczos3(const QImage &img, int n)
{
    const auto sinc = [](double t) { return t == 0 ? 1.0 : std::sin(M_PI * t) / (M_PI * t); };
    const auto weights = [&](int size) {
        std::vector<std::vector<std::pair<int, double>>> w(static_cast<size_t>(n));
        const double scale = double(size) / n;
        for (int i = 0; i < n; ++i) {
            const double centre = (i + 0.5) * scale;
            double sum = 0;
            for (int j = int(centre - 3 * scale) - 1; j <= int(centre + 3 * scale) + 1; ++j) {
                const double x = (j + 0.5 - centre) / scale;
                const double v = j < 0 || j >= size || std::abs(x) >= 3 ? 0.0 : sinc(x) * sinc(x / 3);
                if (v != 0)
                    w[size_t(i)].push_back({j, v});
                sum += v;
            }
            for (auto &p : w[size_t(i)])
                p.second /= sum;
        }
        return w;
    };
    const auto wx = weights(img.width()), wy = weights(img.height());
    std::vector<double> mid(size_t(img.height()) * n), out(size_t(n) * n);
    for (int y = 0; y < img.height(); ++y)
        for (int i = 0; i < n; ++i)
            for (const auto &[j, w] : wx[size_t(i)])
                mid[size_t(y) * n + i] += w * qRed(img.pixel(j, y));
    for (int y = 0; y < n; ++y)
        for (int i = 0; i < n; ++i)
            for (const auto &[j, w] : wy[size_t(y)])
                out[size_t(y) * n + i] += w * mid[size_t(j) * n + i];
    return out;
}

// Variance of an n x n picture outside the circle where the plate's frequency
// reaches 1.5 times the output's Nyquist limit: ideally flat grey there.
double outerEnergy(const std::vector<double> &v, int n, int source)
{
    const double scale = double(source) / n, radius = 0.75 * source / (scale * scale);
    double sum = 0, squares = 0;
    int count = 0;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            if (std::hypot(x + 0.5 - n / 2.0, y + 0.5 - n / 2.0) >= radius) {
                sum += v[size_t(y) * n + x];
                squares += v[size_t(y) * n + x] * v[size_t(y) * n + x];
                ++count;
            }
    return squares / count - (sum / count) * (sum / count);
}

} // namespace

class TestJobCompose : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    // A lossless quadrants source, so that colours next to the rectangle edges are exact.
    QString source(QSize size)
    {
        const QString path = m_dir.filePath(QStringLiteral("src %1x%2.bmp").arg(size.width()).arg(size.height()));
        if (!QFile::exists(path))
            writeFile(path, bmp(quadrants(size.width(), size.height()), 24));
        return path;
    }

private slots:
    void initTestCase()
    {
        // A dark desktop theme changes nothing in the pixels: every test runs under one.
        QGuiApplication::setPalette(QPalette(QColor(0x22, 0x22, 0x22)));
        // Two pool threads at least, so that large passes split on any machine.
        QThreadPool::globalInstance()->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
    }
    // The engine keeps large blocks for reuse; given back, none is left for
    // LeakSanitizer to report at exit.
    void cleanupTestCase() { releaseCachedBuffers(); }

    // clang-format off
    void pixels_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("fit");
        QTest::addColumn<QString>("position");
        QTest::addColumn<QString>("rotation");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<QSize>("canvas");
        QTest::addColumn<QList<QPoint>>("points");
        QTest::addColumn<QList<QRgb>>("colours");
        const QSize vga(640, 480);
        const QString g = kGreyText;
        const QRgb white = qRgb(255, 255, 255);

        // 2000x1500 twips (133 1/3 px) at x = 500 twips (33 1/3 px): pixels 33..166;
        // the window background reference is white whatever the theme.
        QTest::newRow("200*100 OFF Center, window background")
            << vga << "200*100" << "OFF" << "Center" << "" << "-2147483643" << QSize(200, 100)
            << QList<QPoint>{{16, 50}, {32, 50}, {167, 50}, {33, 0}, {166, 0}, {33, 99}, {166, 99}}
            << QList<QRgb>{white, white, white, kRed, kGreen, kBlue, kYellow};
        QTest::newRow("200*100 OFF Top, 255 is red")
            << vga << "200*100" << "OFF" << "Top" << "" << "255" << QSize(200, 100)
            << QList<QPoint>{{0, 0}, {132, 0}, {132, 99}, {133, 50}, {199, 50}}
            << QList<QRgb>{kRed, kGreen, kYellow, kRed, kRed};
        QTest::newRow("200*100 ON stretches")
            << vga << "200*100" << "ON" << "Center" << "" << g << QSize(200, 100)
            << QList<QPoint>{{0, 0}, {199, 0}, {0, 99}, {199, 99}} << QList<QRgb>{kRed, kGreen, kBlue, kYellow};
        // Turned 480x640 fitted to 360x480 at x = 140: bands 0..139 and 500..639.
        QTest::newRow("+90 OFF Center, 140-pixel bands")
            << vga << "" << "OFF" << "Center" << "+90°" << g << vga
            << QList<QPoint>{{70, 240}, {139, 240}, {500, 240}, {570, 240}, {140, 0}, {499, 0}, {140, 479}, {499, 479}}
            << QList<QRgb>{kGrey, kGrey, kGrey, kGrey, kBlue, kRed, kYellow, kGreen};
        QTest::newRow("+90 ON squeezed")
            << vga << "" << "ON" << "Center" << "+90°" << g << vga
            << QList<QPoint>{{0, 0}, {639, 0}, {0, 479}, {639, 479}} << QList<QRgb>{kBlue, kRed, kYellow, kGreen};
        QTest::newRow("-90 OFF 480*640 fills exactly")
            << vga << "480*640" << "OFF" << "Center" << "-90°" << g << QSize(480, 640)
            << QList<QPoint>{{0, 0}, {479, 0}, {0, 639}, {479, 639}} << QList<QRgb>{kGreen, kYellow, kRed, kBlue};
        QTest::newRow("+180 ON enlarged")
            << vga << "900*700" << "ON" << "Top" << "+180°" << g << QSize(900, 700)
            << QList<QPoint>{{0, 0}, {899, 0}, {0, 699}, {899, 699}} << QList<QRgb>{kYellow, kBlue, kGreen, kRed};
        // Texts outside the tables: top-left, no turn; nothing of another job is assumed.
        QTest::newRow("Middle, +45°: top-left, unturned")
            << vga << "400*100" << "OFF" << "Middle" << "+45°" << g << QSize(400, 100)
            << QList<QPoint>{{0, 0}, {132, 99}, {300, 50}} << QList<QRgb>{kRed, kYellow, kGrey};

        // Extreme shapes: a side that rounds to nothing is drawn as a 1-pixel sliver
        // holding the whole picture (quadrants: 1 x 4000 is green over yellow,
        // 4000 x 1 blue then yellow), placed by the position rule; stretching covers
        // the canvas.
        const QSize tall(1, 4000), wide(4000, 1), box(200, 100);
        QTest::newRow("1x4000 OFF Top: column 0")
            << tall << "200*100" << "OFF" << "Top" << "" << g << box
            << QList<QPoint>{{0, 0}, {0, 99}, {1, 50}, {100, 50}} << QList<QRgb>{kGreen, kYellow, kGrey, kGrey};
        QTest::newRow("1x4000 OFF Center: column 100")
            << tall << "200*100" << "OFF" << "Center" << "" << g << box
            << QList<QPoint>{{100, 0}, {100, 99}, {99, 50}, {101, 50}, {0, 50}}
            << QList<QRgb>{kGreen, kYellow, kGrey, kGrey, kGrey};
        QTest::newRow("1x4000 ON stretches")
            << tall << "200*100" << "ON" << "Top" << "" << g << box
            << QList<QPoint>{{0, 0}, {199, 0}, {0, 99}, {199, 99}} << QList<QRgb>{kGreen, kGreen, kYellow, kYellow};
        QTest::newRow("4000x1 OFF Top: row 0")
            << wide << "200*100" << "OFF" << "Top" << "" << g << box
            << QList<QPoint>{{0, 0}, {199, 0}, {50, 1}, {50, 99}} << QList<QRgb>{kBlue, kYellow, kGrey, kGrey};
        QTest::newRow("4000x1 OFF Center: row 50")
            << wide << "200*100" << "OFF" << "Center" << "" << g << box
            << QList<QPoint>{{0, 50}, {199, 50}, {50, 49}, {50, 51}, {50, 0}}
            << QList<QRgb>{kBlue, kYellow, kGrey, kGrey, kGrey};
        QTest::newRow("4000x1 ON stretches")
            << wide << "200*100" << "ON" << "Center" << "" << g << box
            << QList<QPoint>{{0, 0}, {199, 0}, {0, 99}, {199, 99}} << QList<QRgb>{kBlue, kYellow, kBlue, kYellow};
    }
    // clang-format on
    void pixels()
    {
        QFETCH(QSize, picture);
        QFETCH(QString, size);
        QFETCH(QString, fit);
        QFETCH(QString, position);
        QFETCH(QString, rotation);
        QFETCH(QString, colour);
        QFETCH(QList<QPoint>, points);
        QFETCH(QList<QRgb>, colours);
        const QImage img = compose(job(source(picture), size, fit, position, rotation, colour));
        QTEST(img.size(), "canvas");
        for (int i = 0; i < points.size(); ++i)
            QVERIFY2(near(img.pixel(points[i]), colours[i], 8),
                     qPrintable(QStringLiteral("at %1,%2: %3, expected %4")
                                    .arg(points[i].x())
                                    .arg(points[i].y())
                                    .arg(describe(img.pixel(points[i])), describe(colours[i]))));
    }

    // The keep-aspect fit; a step that would divide by zero or overflow leaves the
    // size as it was.
    void fitAspectSize_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("box");
        QTest::addColumn<QSize>("fitted");
        QTest::newRow("640x480 in 200x100") << QSize(640, 480) << QSize(200, 100) << QSize(133, 100);
        QTest::newRow("640x480 in 100x200") << QSize(640, 480) << QSize(100, 200) << QSize(100, 75);
        QTest::newRow("640x360 in 120x100: height from the rounded 178")
            << QSize(640, 360) << QSize(120, 100) << QSize(120, 67);
        QTest::newRow("100x1000 in 100x200: width from the rounded 1000")
            << QSize(100, 1000) << QSize(100, 200) << QSize(20, 200);
        QTest::newRow("zero height") << QSize(640, 0) << QSize(200, 100) << QSize(640, 0);
        QTest::newRow("zero width, tall box divides by zero") << QSize(0, 480) << QSize(100, 200) << QSize(0, 480);
        QTest::newRow("result beyond 32 bits")
            << QSize(2000000000, 1) << QSize(2000000000, 1999999999) << QSize(2000000000, 1);
    }
    void fitAspectSize()
    {
        QFETCH(QSize, picture);
        QFETCH(QSize, box);
        std::int32_t width = picture.width(), height = picture.height();
        FitAspectSize(width, height, box.width(), box.height());
        QTEST(QSize(width, height), "fitted");
    }

    // The canvas is the size text's, or the picture's own unturned size; it never
    // depends on the turn. Texts that are no size fail with a reason.
    void sizeTexts_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<QSize>("canvas");
        QTest::addColumn<QString>("says");
        const QString g = kGreyText;
        const QSize none(0, 0); // no picture
        QTest::newRow("empty: source size") << "" << g << QSize(640, 480) << "";
        QTest::newRow("no star: source size") << "320x200" << g << QSize(640, 480) << "";
        QTest::newRow("zero side: source size") << "800*0" << g << QSize(640, 480) << "";
        QTest::newRow("12.5 rounds to 12") << "12.5*10" << g << QSize(12, 10) << "";
        QTest::newRow("13.5 rounds to 14") << "13.5*10" << g << QSize(14, 10) << "";
        QTest::newRow("width not a number") << "abc*10" << g << none << "数値ではありません";
        QTest::newRow("height empty") << "10*" << g << none << "数値ではありません";
        QTest::newRow("negative") << "-5*10" << g << none << "負の値";
        QTest::newRow("too large") << "99999*99999" << g << none << "大きすぎます";
        QTest::newRow("huge number") << "99999999999*10" << g << none << "大きすぎます";
        QTest::newRow("colour not a number") << "10*10"
                                             << "red" << none << "背景色";
    }
    void sizeTexts()
    {
        QFETCH(QString, size);
        QFETCH(QString, colour);
        QFETCH(QString, says);
        QImage img;
        const JobRow j = job(source({640, 480}), size, "OFF", "Center", "+90°", colour);
        const QString why = failureOf([&] { img = compose(j); });
        QVERIFY2(says.isEmpty() ? why.isEmpty() : why.contains(says), qPrintable(why));
        QTEST(img.size(), "canvas");
    }

    void shrinkOnLoadPlacesLinesExactly_data()
    {
        QTest::addColumn<bool>("bitmap");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QString>("rotation");
        QTest::addColumn<QSize>("canvas");
        QTest::addColumn<int>("factor");
        // Canvas sizes that make the decoder pick each reduction (1001 and 901 are
        // odd, so every one leaves a partial block).
        const QList<std::pair<int, QSize>> jpegPaths{{2, {160, 144}}, {4, {80, 72}}, {8, {40, 36}}};
        for (const auto &[d, canvas] : jpegPaths)
            for (int o = 1; o <= 8; ++o)
                QTest::addRow("jpeg 1/%d, EXIF %d", d, o) << false << o << QString() << canvas << d;
        QTest::newRow("bmp 2x2") << true << 1 << QString() << QSize(160, 144) << 2;
        QTest::newRow("bmp 4x4") << true << 1 << QString() << QSize(80, 72) << 4;
        QTest::newRow("jpeg 1/4, turned +90") << false << 1 << "+90°" << QSize(72, 80) << 4;
        QTest::newRow("jpeg 1/8, EXIF 6, turned +180") << false << 6 << "+180°" << QSize(40, 36) << 8;
        QTest::newRow("bmp 2x2, turned -90") << true << 1 << "-90°" << QSize(144, 160) << 2;
    }
    void shrinkOnLoadPlacesLinesExactly()
    {
        QFETCH(bool, bitmap);
        QFETCH(int, orientation);
        QFETCH(QString, rotation);
        QFETCH(QSize, canvas);
        QFETCH(int, factor);
        const int uw = 1001, uh = 901;
        const std::vector<double> across = lineProfile(uw, kLineColumns), down = lineProfile(uh, kLineRows);
        QImage upright(uw, uh, QImage::Format_RGB32);
        for (int y = 0; y < uh; ++y)
            for (int x = 0; x < uw; ++x) {
                const int v = int(std::lround(20 + 110 * (across[size_t(x)] + down[size_t(y)])));
                upright.setPixel(x, y, qRgb(v, v, v));
            }
        const QImage stored = storedAs(upright, orientation);
        const QString path = m_dir.filePath(bitmap ? QStringLiteral("lines.bmp") : QStringLiteral("lines.jpg"));
        writeFile(path, bitmap ? bmp(stored, 24) : withExifOrientation(jpeg(stored, 95), orientation));
        const JobRow j = job(path, sizeText(canvas), "ON", "Top", rotation);
        const DecodedPicture picture = loadJobSource(readJob(j));
        QCOMPARE(picture.image.size(), QSize((uw + factor - 1) / factor, (uh + factor - 1) / factor));

        // Turned back (an exact permutation), the lines must lie where the upright
        // picture has them, scaled to the unturned canvas.
        const QImage img = composeJob(readJob(j), picture).transformed(QTransform().rotate(-j.rotationCode()));
        std::vector<double> colMeans(size_t(img.width()), 0.0), rowMeans(size_t(img.height()), 0.0);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                colMeans[size_t(x)] += qRed(img.pixel(x, y)) / double(img.height());
                rowMeans[size_t(y)] += qRed(img.pixel(x, y)) / double(img.width());
            }
        const auto check = [&](const std::vector<double> &profile, const QList<int> &at, int n, int out) {
            const int radius = int(std::ceil(3.5 * kLineSigma * out / n)) + 3;
            for (int c : at) {
                const double expected = (c + 0.5) * out / n - 0.5, got = centroid(profile, expected, radius);
                QVERIFY2(std::abs(got - expected) <= 0.05,
                         qPrintable(QStringLiteral("line at %1: %2, expected %3").arg(c).arg(got).arg(expected)));
            }
        };
        check(colMeans, kLineColumns, uw, img.width());
        check(rowMeans, kLineRows, uh, img.height());
    }

    void reductionLeavesNoMoire_data()
    {
        QTest::addColumn<bool>("bitmap");
        QTest::addColumn<int>("size");
        QTest::newRow("bmp 1/2") << true << 500;
        QTest::newRow("bmp 1/4") << true << 250;
        QTest::newRow("jpeg 1/2") << false << 500;
        QTest::newRow("jpeg 1/4") << false << 250;
    }
    void reductionLeavesNoMoire()
    {
        QFETCH(bool, bitmap);
        QFETCH(int, size);
        const int n = 1000;
        const QByteArray data = bitmap ? bmp(zonePlate(n), 24) : jpeg(zonePlate(n), 95);
        const QString path = m_dir.filePath(bitmap ? QStringLiteral("zone.bmp") : QStringLiteral("zone.jpg"));
        writeFile(path, data);
        const QImage img = compose(job(path, QStringLiteral("%1*%1").arg(size), "ON", "Top", {}));
        std::vector<double> ours;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                ours.push_back(qRed(img.pixel(x, y)));
        const double got = outerEnergy(ours, size, n);
        const double reference = outerEnergy(lanczos3(decodePictureData(data).image, size), size, n);
        QVERIFY2(got <= 2 * reference, qPrintable(QStringLiteral("%1 against %2").arg(got).arg(reference)));
    }

    // A WebP shrunk on load is no softer than the same pixels shrunk from a PNG:
    // libwebp's scaled decoding, a box, is taken only far above the size drawn.
    void webpShrinksAsPngDoes_data()
    {
        QTest::addColumn<int>("quality"); // 100: lossless
        QTest::addColumn<int>("size");
        for (const int quality : {100, 90})
            for (const int size : {240, 90, 21})
                QTest::addRow("%s to %d", quality == 100 ? "lossless" : "lossy", size) << quality << size;
    }
    void webpShrinksAsPngDoes()
    {
        QFETCH(int, quality);
        QFETCH(int, size);
        const int n = 720;
        static QMap<int, QByteArray> encoded; // lossless encoding takes a while
        if (!encoded.contains(quality))
            encoded[quality] = qtEncoded(zonePlate(n), "webp", quality);
        const QByteArray webp = encoded[quality];
        const QImage decoded = decodePictureData(webp).image;
        const QString webpPath = m_dir.filePath(QStringLiteral("zone.webp")),
                      pngPath = m_dir.filePath(QStringLiteral("zone.png"));
        writeFile(webpPath, webp);
        writeFile(pngPath, qtEncoded(decoded, "png"));
        const std::vector<double> reference = lanczos3(decoded, size);
        const auto db = [&](const QString &path) {
            const QImage img = compose(job(path, QStringLiteral("%1*%1").arg(size), "ON", "Top", {}));
            double squares = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    squares += std::pow(qRed(img.pixel(x, y)) - reference[size_t(y) * size + x], 2);
            return 10 * std::log10(255.0 * 255.0 * size * size / std::max(squares, 1e-9));
        };
        // Past 50 dB both are exact to the rounding.
        const double fromWebp = db(webpPath), fromPng = db(pngPath);
        QVERIFY2(fromWebp >= std::min(fromPng, 50.0) - 1,
                 qPrintable(QStringLiteral("%1 dB against %2 dB").arg(fromWebp).arg(fromPng)));
    }

    // A flat colour stays exactly flat over the destination pixels whose centres lie
    // in the rectangle (each edge rounded to the nearest boundary, ties to even),
    // and nothing outside them is touched; in RGB and in a single colour plane, at
    // scales whose filters take from 4 to 20 source pixels.
    void flatColourStaysExact_data()
    {
        QTest::addColumn<QSize>("from");
        QTest::addColumn<QRectF>("to");
        QTest::addColumn<QRect>("covered");
        QTest::newRow("halves round to even") << QSize(50, 50) << QRectF(3.5, 2.5, 40, 31) << QRect(4, 2, 40, 32);
        QTest::newRow("thirds (133 1/3 wide at 33 1/3)")
            << QSize(50, 50) << QRectF(100.0 / 3, 0.4, 400.0 / 3, 30.2) << QRect(33, 0, 134, 31);
        // Large enough for both passes to split their rows over two threads: a row
        // either half leaves undrawn shows as black or as garbage.
        QTest::newRow("reduce, split over threads")
            << QSize(2000, 1500) << QRectF(0, 0, 1500, 1100) << QRect(0, 0, 1500, 1100);
        QTest::newRow("enlarge, split over threads")
            << QSize(300, 200) << QRectF(0, 0, 1600, 1200) << QRect(0, 0, 1600, 1200);
        QTest::newRow("reduce by 1.4 and 2.1") << QSize(141, 211) << QRectF(0, 0, 101, 101) << QRect(0, 0, 101, 101);
        QTest::newRow("reduce by 2.7 and 3.3") << QSize(271, 331) << QRectF(0, 0, 101, 101) << QRect(0, 0, 101, 101);
    }
    void flatColourStaysExact()
    {
        QFETCH(QSize, from);
        QFETCH(QRectF, to);
        QFETCH(QRect, covered);
        const QSize size(std::max(64, int(to.right()) + 2), std::max(48, int(to.bottom()) + 2));
        QImage src(from, QImage::Format_RGB32);
        src.fill(qRgb(12, 200, 77));
        QImage dst(size, QImage::Format_RGB32);
        dst.fill(Qt::black);
        drawScaled(dst, to, src, QRectF(src.rect()));
        QImage plane(from, QImage::Format_Grayscale8);
        plane.fill(qRgb(77, 77, 77));
        QImage dstPlane(size, QImage::Format_Grayscale8);
        dstPlane.fill(Qt::black);
        drawScaledPlane(dstPlane, to, plane, QRectF(plane.rect()));
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const bool in = covered.contains(x, y);
                if (dst.pixel(x, y) != (in ? qRgb(12, 200, 77) : qRgb(0, 0, 0)))
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
                if (dstPlane.constScanLine(y)[x] != (in ? 77 : 0))
                    QFAIL(qPrintable(QStringLiteral("plane pixel %1,%2").arg(x).arg(y)));
            }
    }

    // Every row exactly once, with the pool free or busy, and a throw in either half
    // reaches the caller (it must never end the program).
    void rowSplit()
    {
        QThreadPool *pool = QThreadPool::globalInstance();
        for (const bool busy : {false, true}) {
            QSemaphore release;
            const int holders = busy ? pool->maxThreadCount() : 0;
            for (int i = 0; i < holders; ++i)
                pool->start([&release] { release.acquire(); });
            std::vector<std::atomic<int>> visits(1000);
            splitRows(1000, 1e9, [&](int first, int end) {
                for (int r = first; r < end; ++r)
                    ++visits[size_t(r)];
            });
            release.release(holders);
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

    // Black to white over two pixels: enlarged, the ramp rises step by step instead
    // of jumping (nearest-neighbour would give one hard edge).
    // The batch composes from the file in bands, reducing each as it comes; the
    // canvas is the one the whole picture gives, to the byte.
    void bandsMatchWholePictures_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("fit");
        QTest::addColumn<QString>("rotation");
        const QImage n = noise(1203, 901);
        const QImage opaque = noise(640, 480);
        QImage alpha(opaque.size(), QImage::Format_ARGB32);
        for (int y = 0; y < alpha.height(); ++y)
            for (int x = 0; x < alpha.width(); ++x)
                alpha.setPixel(x, y, (opaque.pixel(x, y) & 0xFFFFFF) | (quint32((x + y) % 256) << 24));
        QTest::newRow("jpeg, reduced on load") << "a.jpg" << jpeg(n, 90, TJSAMP_420) << "150*100"
                                               << "OFF"
                                               << "";
        QTest::newRow("jpeg, vertical first") << "b.jpg" << jpeg(n, 90, TJSAMP_444) << "700*150"
                                              << "ON"
                                              << "";
        QTest::newRow("jpeg, horizontal first") << "c.jpg" << jpeg(n, 90, TJSAMP_422) << "150*700"
                                                << "ON"
                                                << "";
        QTest::newRow("jpeg, turned") << "d.jpg" << jpeg(n, 90, TJSAMP_420) << "500*400"
                                      << "OFF"
                                      << "+90°";
        QTest::newRow("jpeg, enlarged") << "e.jpg" << jpeg(noise(300, 200)) << "1000*700"
                                        << "ON"
                                        << "";
        QTest::newRow("jpeg, own size") << "f.jpg" << jpeg(n) << ""
                                        << "OFF"
                                        << "";
        QTest::newRow("png with alpha") << "g.png" << qtEncoded(alpha, "png") << "400*400"
                                        << "OFF"
                                        << "";
        QTest::newRow("png, turned") << "h.png" << qtEncoded(n, "png") << "300*300"
                                     << "OFF"
                                     << "-90°";
        QTest::newRow("tiff") << "i.tif" << qtEncoded(n, "tiff") << "640*480"
                              << "ON"
                              << "";
        QTest::newRow("bmp, averaged") << "j.bmp" << bmp(n, 24) << "100*80"
                                       << "OFF"
                                       << "+180°";
        QTest::newRow("bmp 8-bit") << "k.bmp" << bmp(quadrants(801, 601), 8) << "333*222"
                                   << "ON"
                                   << "";
    }
    void bandsMatchWholePictures()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, data);
        QFETCH(QString, size);
        QFETCH(QString, fit);
        QFETCH(QString, rotation);
        QTemporaryDir dir;
        writeFile(dir.filePath(fileName), data);
        const JobRow j = job(dir.filePath(fileName), size, fit, "Center", rotation);
        const ComposedJob bands = composeJobFile(readJob(j));
        QVERIFY(bands.canvas == compose(j));
        QCOMPARE(memorybudget::inUse(), 0);
        // The colour planes in bands against the planes decoded whole.
        const std::optional<JpegPlanes> planes = composeJobPlanes(readJob(j), data, false);
        const std::optional<JpegPlanes> whole = decodeJpegPlanes(data, [](QSize) { return QSize(); });
        if (!planes || size.isEmpty() || fileName != "b.jpg")
            return;
        for (auto [band, from, extent] : {std::tuple{planes->y, whole->y, whole->lumaExtent},
                                          std::tuple{planes->cr, whole->cr, whole->chromaExtent}}) {
            QImage reference = newPlane(band.width(), band.height());
            drawScaledPlane(reference, QRectF(reference.rect()), from, extent);
            QVERIFY(band == reference);
        }
    }

    // The batch's bands against the whole picture as Qt's own readers decode it:
    // every band, strip, tile and chunk boundary lands where it belongs, at the
    // picture's own size and reduced.
    void bandsMatchAnotherDecoder_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("data");
        const QImage n = noise(203, 157); // sides no band, strip, tile or block divides
        QTest::newRow("tiff, strips of 7 rows") << "a.tif" << libtiffPicture(n, 7);
        QTest::newRow("tiff, one row a strip") << "b.tif" << libtiffPicture(n, 1);
        QTest::newRow("tiff, tiles of 16") << "c.tif" << libtiffPicture(n, 0, 16);
        QTest::newRow("bmp, bottom-up") << "d.bmp" << bmp(n, 24);
        QTest::newRow("bmp, top-down") << "e.bmp" << bmp(n, 32, true);
        QImage paletted(n.size(), QImage::Format_RGB32);
        for (int y = 0; y < n.height(); ++y)
            for (int x = 0; x < n.width(); ++x) {
                const int v = (x * 7 + y * 13) % 256;
                paletted.setPixel(x, y, qRgb(v, 255 - v, v * 3 % 256));
            }
        QTest::newRow("bmp, 8-bit palette") << "f.bmp" << bmp(paletted, 8);
        QTest::newRow("png") << "g.png" << qtEncoded(n, "png");
        QTest::newRow("jpeg") << "h.jpg" << jpeg(n, 90, TJSAMP_420);
    }
    void bandsMatchAnotherDecoder()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, data);
        QVERIFY(!data.isEmpty());
        QTemporaryDir dir;
        writeFile(dir.filePath(fileName), data);
        DecodedPicture other;
        other.image = QImage::fromData(data).convertToFormat(QImage::Format_RGB32);
        QVERIFY(!other.image.isNull());
        other.size = other.image.size();
        other.extent = QRectF(other.image.rect());
        for (const char *size : {"", "67*52", "120*90"}) {
            const JobRow j = job(dir.filePath(fileName), size, "ON", "Top", "");
            QVERIFY2(composeJobFile(readJob(j)).canvas == composeJob(readJob(j), other), size);
        }
    }

    // libtiff's JPEG codec passes libjpeg's warnings on as text: a strip whose data
    // was damaged is refused as a damaged JPEG is, by the whole decode and the bands.
    void jpegStripsFollowTheJpegRule()
    {
        const QByteArray good = libtiffPicture(noise(64, 48), 48, 0, COMPRESSION_JPEG);
        QByteArray bad = good;
        const qsizetype sos = bad.indexOf("\xFF\xDA");
        bad.replace((sos + bad.indexOf("\xFF\xD9", sos)) / 2, 6, QByteArray("\xFF\0\xFF\0\xFF\0", 6)); // no such code
        QTemporaryDir dir;
        for (const auto &[data, refused] : {std::pair{good, false}, std::pair{bad, true}}) {
            writeFile(dir.filePath(QStringLiteral("j.tif")), data);
            const Job j = readJob(job(dir.filePath(QStringLiteral("j.tif")), "32*24", "ON", "Top", ""));
            for (const QString &why :
                 {failureOf([&] { decodePictureData(data); }), failureOf([&] { composeJobFile(j); })})
                QVERIFY2(refused ? why.contains("TIFF ファイルが壊れて") : why.isEmpty(), qPrintable(why));
        }
    }

    // A reservation waits while others hold more than the comfortable level, until
    // they give it back or a stop request comes; a thread that holds one already
    // never waits (two decodes cannot wait on each other); more than the capacity is
    // refused at once.
    void budgetWaitsItsTurn_data()
    {
        QTest::addColumn<bool>("askerHoldsOne");
        QTest::addColumn<bool>("stopWhileWaiting");
        QTest::addColumn<qint64>("asked");
        QTest::addColumn<QString>("outcome");
        const qint64 mb = 1 << 20;
        QTest::newRow("within the level") << false << false << 1 * mb << "granted";
        QTest::newRow("past the level: waits") << false << false << 8 * mb << "waits";
        QTest::newRow("past the level, stopped") << false << true << 8 * mb << "stopped";
        QTest::newRow("holding one: no wait") << true << false << 8 * mb << "granted";
        QTest::newRow("past the capacity") << false << false << 200 * mb << "refused";
    }
    void budgetWaitsItsTurn()
    {
        QFETCH(bool, askerHoldsOne);
        QFETCH(bool, stopWhileWaiting);
        QFETCH(qint64, asked);
        QFETCH(QString, outcome);
        memorybudget::setLimits(100 << 20, 10 << 20);
        std::optional<MemoryReservation> other(std::in_place, qint64(8) << 20, 1, 1);
        const StopFlag flag;
        enum { Running, Granted, StoppedWaiting, Refused };
        std::atomic<int> state = Running;
        std::thread asker([&] {
            const StopScope scope(flag);
            std::optional<MemoryReservation> own;
            if (askerHoldsOne)
                own.emplace(1, 1, 1);
            try {
                const MemoryReservation r(asked, 1, 1);
                state = Granted;
            } catch (const Stopped &) {
                state = StoppedWaiting;
            } catch (const Failure &) {
                state = Refused;
            }
        });
        // Whatever fails below, the asker is let go before the test ends.
        const auto letGo = qScopeGuard([&] {
            flag.requestStop();
            other.reset();
            asker.join();
            memorybudget::setLimits(0, 0);
        });
        if (outcome == "waits" || outcome == "stopped") {
            QTRY_COMPARE(memorybudget::waiting(), 1);
            QCOMPARE(state.load(), int(Running));
            if (stopWhileWaiting)
                flag.requestStop();
            else
                other.reset();
        }
        QTRY_VERIFY(state != Running);
        const int expected = outcome == "stopped" ? StoppedWaiting : outcome == "refused" ? Refused : Granted;
        QCOMPARE(state.load(), expected);
        QCOMPARE(memorybudget::waiting(), 0);
    }

    // A reservation that grows is held to the capacity as a whole: two parts that
    // each fit are refused together, and what was granted stays as it was.
    void budgetHoldsAGrowingReservation()
    {
        memorybudget::setLimits(100 << 20, 100 << 20);
        const auto restore = qScopeGuard([] { memorybudget::setLimits(0, 0); });
        MemoryReservation r(qint64(60) << 20, 4000, 3000);
        const QString why = failureOf([&] { r.grow(qint64(60) << 20, 4000, 3000); });
        QVERIFY2(why.contains("大きすぎる"), qPrintable(why));
        QCOMPARE(r.bytes(), qint64(60) << 20);
        QCOMPARE(memorybudget::inUse(), qint64(60) << 20);
    }

    // A stop request ends a decode where it is: raised before the memory is granted,
    // or once half the file has been read, the rest of the file is never read (also
    // while a progressive JPEG's scans or a WebP are gathered), and the memory goes
    // back.
    void stopsInsideADecode_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("planes");
        QTest::addColumn<bool>("atReservation");
        const QImage n = noise(2000, 1500);
        const QByteArray baseline = jpeg(n, 90, TJSAMP_420), progressive = jpeg(n, 90, TJSAMP_420, TJFLAG_PROGRESSIVE);
        QTest::newRow("at the reservation") << "a.jpg" << baseline << false << true;
        QTest::newRow("jpeg") << "a.jpg" << baseline << false << false;
        QTest::newRow("jpeg, colour planes") << "a.jpg" << baseline << true << false;
        QTest::newRow("progressive jpeg") << "b.jpg" << progressive << false << false;
        QTest::newRow("progressive jpeg, colour planes") << "b.jpg" << progressive << true << false;
        QTest::newRow("webp") << "c.webp" << qtEncoded(n, "webp", 90) << false << false;
        QTest::newRow("png") << "d.png" << qtEncoded(n, "png") << false << false;
        QTest::newRow("tiff") << "e.tif" << qtEncoded(n, "tiff") << false << false;
        QTest::newRow("bmp") << "f.bmp" << bmp(n, 24) << false << false;
    }
    void stopsInsideADecode()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, data);
        QFETCH(bool, planes);
        QFETCH(bool, atReservation);
        QTemporaryDir dir;
        writeFile(dir.filePath(fileName), data);
        const StopFlag flag;
        const qint64 before = sourceBytesRead();
        if (atReservation)
            memorybudget::setObserver([&](qint64) { flag.requestStop(); });
        else
            setSourceReadObserver([&](qint64 total) {
                if (total - before > data.size() / 2)
                    flag.requestStop();
            });
        {
            const StopScope scope(flag);
            QVERIFY_THROWS_EXCEPTION(Stopped,
                                     composeJobFile(readJob(job(dir.filePath(fileName), "400*300", "ON", "Top", "")),
                                                    true, {}, planes ? PlaneRoute::HalfChroma : PlaneRoute::None));
        }
        memorybudget::setObserver({});
        setSourceReadObserver({});
        QVERIFY2(sourceBytesRead() - before < data.size(), "read to the end");
        QCOMPARE(memorybudget::inUse(), 0);
    }

    // 透明を残す, for a picture with a transparent left half (green under it) and a
    // right half half-transparent red over opaque blue, fitted centred and halved
    // into a wider canvas. Kept: the bands and the clear half stay clear, alpha
    // keeps its level, and the edge of the red keeps its colour (scaled
    // premultiplied: the green under the clear half must not bleed in). Not kept,
    // or for JPEG: the background fills everything as before. The band decode and
    // the whole picture agree.
    void transparencyKeptOrFilled_data()
    {
        QTest::addColumn<bool>("keep");
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("kept");
        QTest::newRow("kept, PNG") << true << int(OutputFormat::Png) << true;
        QTest::newRow("kept, WebP") << true << int(OutputFormat::WebP) << true;
        QTest::newRow("kept, but JPEG has no alpha") << true << int(OutputFormat::Jpeg) << false;
        QTest::newRow("not kept, PNG") << false << int(OutputFormat::Png) << false;
    }
    void transparencyKeptOrFilled()
    {
        QFETCH(bool, keep);
        QFETCH(int, format);
        QFETCH(bool, kept);
        QImage picture(200, 100, QImage::Format_ARGB32);
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 200; ++x)
                picture.setPixel(x, y, x < 100 ? qRgba(0, 255, 0, 0) : y < 50 ? qRgba(255, 0, 0, 128) : kBlue);
        QTemporaryDir dir;
        writeFile(dir.filePath("a.png"), qtEncoded(picture, "png"));
        JobRow row = job(dir.filePath("a.png"), "200*50", "OFF", "Center", "");
        RowSettings output;
        output.format = OutputFormat(format);
        output.keepTransparency = keep;
        writeRowField(row, RowField::Format, output);
        writeRowField(row, RowField::Transparency, output);
        const QImage canvas = composeJobFile(readJob(row)).canvas;
        QCOMPARE(canvas, compose(row));
        QCOMPARE(canvas.size(), QSize(200, 50));
        QCOMPARE(canvas.hasAlphaChannel(), kept);
        const auto at = [&](int x, int y) {
            const QRgb c = canvas.pixel(x, y);
            return std::pair{c, QStringLiteral("(%1, %2): %3 alpha %4").arg(x).arg(y).arg(describe(c)).arg(qAlpha(c))};
        };
        for (const QPoint p : {QPoint(10, 25), QPoint(190, 25), QPoint(70, 25)}) {
            const auto [c, text] = at(p.x(), p.y());
            QVERIFY2(kept ? qAlpha(c) == 0 : c == kGrey, qPrintable(text));
        }
        const auto [red, redText] = at(125, 12);
        QVERIFY2(kept ? near(red, kRed, 4) && std::abs(qAlpha(red) - 128) <= 2 : near(red, qRgb(192, 64, 64), 4),
                 qPrintable(redText));
        const auto [blue, blueText] = at(125, 37);
        QVERIFY2(near(blue, kBlue, 4) && qAlpha(blue) == 255, qPrintable(blueText));
        if (kept)
            for (int x = 98; x <= 102; ++x) {
                const auto [edge, edgeText] = at(x, 12);
                QVERIFY2(qAlpha(edge) == 0 || near(edge, kRed, 16), qPrintable(edgeText));
            }
    }

    // A picture that cannot fit in the budget is refused with its size.
    void refusedBeyondTheBudget()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("a.png"), qtEncoded(noise(1500, 1000), "png"));
        memorybudget::setLimits(4 << 20, 0);
        const QString why =
            failureOf([&] { composeJobFile(readJob(job(dir.filePath("a.png"), "", "OFF", "Top", ""))); });
        memorybudget::setLimits(0, 0);
        QVERIFY2(why.contains("1500 × 1000") && why.contains("メモリ"), qPrintable(why));
    }

    void upscaleIsSmooth()
    {
        QImage src(2, 1, QImage::Format_RGB32), dst(20, 1, QImage::Format_RGB32);
        src.setPixel(1, 0, qRgb(255, 255, 255));
        src.setPixel(0, 0, qRgb(0, 0, 0));
        drawScaled(dst, QRectF(dst.rect()), src, QRectF(src.rect()));
        int steps = 0;
        for (int x = 1; x < 20; ++x) {
            QVERIFY(qRed(dst.pixel(x, 0)) >= qRed(dst.pixel(x - 1, 0)));
            steps += qRed(dst.pixel(x, 0)) != qRed(dst.pixel(x - 1, 0));
        }
        QVERIFY(steps >= 6);
    }
};

QTEST_MAIN(TestJobCompose)
#include "tst_jobcompose.moc"
