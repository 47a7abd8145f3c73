// Composition of one job at pixel level, with 15 twips per pixel.

#include "compose/jobcompose.h"
#include "compose/picturedecoder.h"
#include "platform/failure.h"
#include "platform/syscolor.h"
#include "tests/common/testpictures.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <vector>

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
    void textsOutsideTheTables();
    void shrinkOnLoadPlacesLinesExactly_data();
    void shrinkOnLoadPlacesLinesExactly();
    void reductionLeavesNoMoire_data();
    void reductionLeavesNoMoire();
    void failures_data();
    void failures();
    void planesRoute_data();
    void planesRoute();

private:
    JobRow job(const QString &size, const QString &fit, const QString &position, const QString &rotation,
               const QString &colour = kGreyText) const
    {
        JobRow j;
        j.path = m_path;
        j.newSize = size;
        j.fit = fit;
        j.backColor = colour;
        j.position = position;
        j.rotation = rotation;
        return j;
    }
    static QImage compose(const JobRow &j, bool turn = true) { return composeJob(j, loadJobSource(j, turn), turn); }

    QTemporaryDir m_dir;
    QString m_path;
    QString sourceOfSize(QSize size);
};

QString TestJobCompose::sourceOfSize(QSize size)
{
    if (size == QSize(640, 480))
        return m_path;
    const QString path = m_dir.filePath(QStringLiteral("src %1x%2.bmp").arg(size.width()).arg(size.height()));
    if (!QFile::exists(path))
        writeFile(path, bmp(quadrants(size.width(), size.height()), 24));
    return path;
}

void TestJobCompose::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Lossless source so colours next to the rectangle edges are exact.
    m_path = m_dir.filePath(QStringLiteral("src 640x480.bmp"));
    writeFile(m_path, bmp(quadrants(640, 480), 24));
}

void TestJobCompose::pixels_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("fit");
    QTest::addColumn<QString>("position");
    QTest::addColumn<QString>("rotation");
    QTest::addColumn<QSize>("canvas");
    QTest::addColumn<QList<QPoint>>("points");
    QTest::addColumn<QList<QRgb>>("colours");

    // 2000x1500 twips (133 1/3 px) at x = 500 twips (33 1/3 px): pixels 33..166.
    QTest::newRow("200*100 OFF Center")
        << QSize(640, 480) << "200*100" << "OFF" << "Center" << "" << QSize(200, 100)
        << QList<QPoint>{{16, 50}, {183, 50}, {33, 0}, {166, 0}, {33, 99}, {166, 99}}
        << QList<QRgb>{kGrey, kGrey, kRed, kGreen, kBlue, kYellow};
    QTest::newRow("200*100 OFF Top")
        << QSize(640, 480) << "200*100" << "OFF" << "Top" << "" << QSize(200, 100)
        << QList<QPoint>{{0, 0}, {132, 0}, {132, 99}, {133, 50}, {199, 50}}
        << QList<QRgb>{kRed, kGreen, kYellow, kGrey, kGrey};
    QTest::newRow("200*100 ON stretches")
        << QSize(640, 480) << "200*100" << "ON" << "Center" << "" << QSize(200, 100)
        << QList<QPoint>{{0, 0}, {199, 0}, {0, 99}, {199, 99}}
        << QList<QRgb>{kRed, kGreen, kBlue, kYellow};
    // Turned 480x640 fitted to 360x480 at x = 140: bands 0..139 and 500..639.
    QTest::newRow("+90 OFF Center, 140-pixel bands")
        << QSize(640, 480) << "" << "OFF" << "Center" << "+90°" << QSize(640, 480)
        << QList<QPoint>{{70, 240}, {139, 240}, {500, 240}, {570, 240},
                         {140, 0}, {499, 0}, {140, 479}, {499, 479}}
        << QList<QRgb>{kGrey, kGrey, kGrey, kGrey, kBlue, kRed, kYellow, kGreen};
    QTest::newRow("+90 ON squeezed")
        << QSize(640, 480) << "" << "ON" << "Center" << "+90°" << QSize(640, 480)
        << QList<QPoint>{{0, 0}, {639, 0}, {0, 479}, {639, 479}}
        << QList<QRgb>{kBlue, kRed, kYellow, kGreen};
    QTest::newRow("-90 OFF 480*640 fills exactly")
        << QSize(640, 480) << "480*640" << "OFF" << "Center" << "-90°" << QSize(480, 640)
        << QList<QPoint>{{0, 0}, {479, 0}, {0, 639}, {479, 639}}
        << QList<QRgb>{kGreen, kYellow, kRed, kBlue};
    QTest::newRow("+180 mirrored both ways")
        << QSize(640, 480) << "" << "OFF" << "Top" << "+180°" << QSize(640, 480)
        << QList<QPoint>{{0, 0}, {639, 0}, {0, 479}, {639, 479}}
        << QList<QRgb>{kYellow, kBlue, kGreen, kRed};

    // Extreme shapes: a side that rounds to nothing is drawn as a 1-pixel sliver
    // holding the whole picture (quadrants: 1 x 4000 is green over yellow, 4000 x 1
    // blue then yellow), placed by the position rule; stretching covers the canvas.
    QTest::newRow("1x4000 OFF Top: column 0")
        << QSize(1, 4000) << "200*100" << "OFF" << "Top" << "" << QSize(200, 100)
        << QList<QPoint>{{0, 0}, {0, 99}, {1, 50}, {100, 50}} << QList<QRgb>{kGreen, kYellow, kGrey, kGrey};
    QTest::newRow("1x4000 OFF Center: column 100")
        << QSize(1, 4000) << "200*100" << "OFF" << "Center" << "" << QSize(200, 100)
        << QList<QPoint>{{100, 0}, {100, 99}, {99, 50}, {101, 50}, {0, 50}}
        << QList<QRgb>{kGreen, kYellow, kGrey, kGrey, kGrey};
    QTest::newRow("1x4000 ON stretches")
        << QSize(1, 4000) << "200*100" << "ON" << "Top" << "" << QSize(200, 100)
        << QList<QPoint>{{0, 0}, {199, 0}, {0, 99}, {199, 99}} << QList<QRgb>{kGreen, kGreen, kYellow, kYellow};
    QTest::newRow("4000x1 OFF Top: row 0")
        << QSize(4000, 1) << "200*100" << "OFF" << "Top" << "" << QSize(200, 100)
        << QList<QPoint>{{0, 0}, {199, 0}, {50, 1}, {50, 99}} << QList<QRgb>{kBlue, kYellow, kGrey, kGrey};
    QTest::newRow("4000x1 OFF Center: row 50")
        << QSize(4000, 1) << "200*100" << "OFF" << "Center" << "" << QSize(200, 100)
        << QList<QPoint>{{0, 50}, {199, 50}, {50, 49}, {50, 51}, {50, 0}}
        << QList<QRgb>{kBlue, kYellow, kGrey, kGrey, kGrey};
    QTest::newRow("4000x1 ON stretches")
        << QSize(4000, 1) << "200*100" << "ON" << "Center" << "" << QSize(200, 100)
        << QList<QPoint>{{0, 0}, {199, 0}, {0, 99}, {199, 99}} << QList<QRgb>{kBlue, kYellow, kBlue, kYellow};
}

void TestJobCompose::pixels()
{
    QFETCH(QSize, source);
    QFETCH(QString, size);
    QFETCH(QString, fit);
    QFETCH(QString, position);
    QFETCH(QString, rotation);
    QFETCH(QSize, canvas);
    QFETCH(QList<QPoint>, points);
    QFETCH(QList<QRgb>, colours);
    JobRow j = job(size, fit, position, rotation);
    j.path = sourceOfSize(source);
    const QImage img = compose(j);
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
    // The canvas never depends on the turn.
    QCOMPARE(compose(job(size, "OFF", "Center", "+90°")).size(), canvas);
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
    // A dark desktop theme changes nothing in the pixels.
    QGuiApplication::setPalette(QPalette(QColor(0x22, 0x22, 0x22)));
    QCOMPARE(compose(job("200*100", "OFF", "Center", "", colour)).pixel(5, 50), expected);
    QGuiApplication::setPalette(QPalette());
}

void TestJobCompose::quickPreviewLeavesTurnOut()
{
    const JobRow j = job("", "ON", "Center", "+90°");
    QVERIFY(near(compose(j, false).pixel(0, 0), kRed, 8));
    // The complete preview (and the batch) of the same job shows the turn.
    QVERIFY(near(compose(j, true).pixel(0, 0), kBlue, 8));
}

void TestJobCompose::textsOutsideTheTables()
{
    // No turn, top-left: nothing of another job is assumed.
    const QImage img = compose(job("400*100", "OFF", "Middle", "+45°"));
    QCOMPARE(img.size(), QSize(400, 100));
    QVERIFY(near(img.pixel(0, 0), kRed, 8)); // unturned, at the left edge
    QVERIFY(near(img.pixel(132, 99), kYellow, 8));
    QVERIFY(near(img.pixel(300, 50), kGrey, 8));
}

// Soft lines (Gaussian profile) in an upright 1001 x 901 picture.
static const QList<int> kLineColumns{130, 370, 610, 850};
static const QList<int> kLineRows{110, 330, 550, 770};
constexpr double kLineSigma = 12;

// The upright pixel that stored pixel (x, y) of a sw x sh picture becomes under
// EXIF orientation o.
static QPoint upright(int o, int x, int y, int sw, int sh)
{
    switch (o) {
    case 2: return {sw - 1 - x, y};
    case 3: return {sw - 1 - x, sh - 1 - y};
    case 4: return {x, sh - 1 - y};
    case 5: return {y, x};
    case 6: return {sh - 1 - y, x};
    case 7: return {sh - 1 - y, sw - 1 - x};
    case 8: return {y, sw - 1 - x};
    default: return {x, y};
    }
}

static std::vector<double> lineProfile(int n, const QList<int> &at)
{
    std::vector<double> p(size_t(n), 0.0);
    for (int i = 0; i < n; ++i)
        for (int c : at)
            p[size_t(i)] += std::exp(-(i - c) * (i - c) / (2 * kLineSigma * kLineSigma));
    return p;
}

// Centroid of the line nearest `expected` in a profile, over +-radius, above the
// level at the window's ends.
static double centroid(const std::vector<double> &profile, double expected, int radius)
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

void TestJobCompose::shrinkOnLoadPlacesLinesExactly_data()
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

void TestJobCompose::shrinkOnLoadPlacesLinesExactly()
{
    QFETCH(bool, bitmap);
    QFETCH(int, orientation);
    QFETCH(QString, rotation);
    QFETCH(QSize, canvas);
    QFETCH(int, factor);
    const int uw = 1001, uh = 901;
    const bool sideways = orientation >= 5;
    const int sw = sideways ? uh : uw, sh = sideways ? uw : uh;
    const std::vector<double> across = lineProfile(uw, kLineColumns), down = lineProfile(uh, kLineRows);
    QImage stored(sw, sh, QImage::Format_RGB32);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            const QPoint u = upright(orientation, x, y, sw, sh);
            const int v = int(std::lround(20 + 110 * (across[size_t(u.x())] + down[size_t(u.y())])));
            stored.setPixel(x, y, qRgb(v, v, v));
        }
    const QString path = m_dir.filePath(bitmap ? QStringLiteral("lines.bmp") : QStringLiteral("lines.jpg"));
    writeFile(path, bitmap ? bmp(stored, 24) : withExifOrientation(jpeg(stored, 95), orientation));

    JobRow j = job(QStringLiteral("%1*%2").arg(canvas.width()).arg(canvas.height()), "ON", "Top", rotation);
    j.path = path;
    const DecodedPicture picture = loadJobSource(j);
    QCOMPARE(picture.image.size(), QSize((uw + factor - 1) / factor, (uh + factor - 1) / factor));

    // Where the lines are in the picture as drawn (after the job's turn).
    QList<int> columns = kLineColumns, rows = kLineRows;
    int fw = uw, fh = uh;
    const auto flip = [](QList<int> &at, int n) {
        for (int &v : at)
            v = n - 1 - v;
    };
    if (rotation == u"+90°") { // (x, y) -> (h - 1 - y, x)
        std::swap(columns, rows);
        flip(columns, uh);
        std::swap(fw, fh);
    } else if (rotation == u"-90°") { // (x, y) -> (y, w - 1 - x)
        std::swap(columns, rows);
        flip(rows, uw);
        std::swap(fw, fh);
    } else if (rotation == u"+180°") {
        flip(columns, uw);
        flip(rows, uh);
    }

    const QImage img = composeJob(j, picture);
    std::vector<double> colMeans(size_t(img.width()), 0.0), rowMeans(size_t(img.height()), 0.0);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            colMeans[size_t(x)] += qRed(img.pixel(x, y)) / double(img.height());
            rowMeans[size_t(y)] += qRed(img.pixel(x, y)) / double(img.width());
        }
    const auto check = [&](const std::vector<double> &profile, const QList<int> &at, int n, int out) {
        const int radius = int(std::ceil(3.5 * kLineSigma * out / n)) + 3;
        for (int c : at) {
            const double expected = (c + 0.5) * out / n - 0.5;
            const double got = centroid(profile, expected, radius);
            QVERIFY2(std::abs(got - expected) <= 0.05,
                     qPrintable(QStringLiteral("line at %1: %2, expected %3").arg(c).arg(got).arg(expected)));
        }
    };
    check(colMeans, columns, fw, canvas.width());
    check(rowMeans, rows, fh, canvas.height());
}

// A zone plate: cos(pi r^2 / n), its local frequency r / n rising to the Nyquist
// limit at the middle of each edge.
static QImage zonePlate(int n)
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
static std::vector<double> lanczos3(const QImage &img, int n)
{
    const auto kernel = [](double x) {
        const auto sinc = [](double t) { return t == 0 ? 1.0 : std::sin(M_PI * t) / (M_PI * t); };
        return std::abs(x) < 3 ? sinc(x) * sinc(x / 3) : 0.0;
    };
    const auto weights = [&](int size) {
        std::vector<std::vector<std::pair<int, double>>> w(static_cast<size_t>(n));
        const double scale = double(size) / n;
        for (int i = 0; i < n; ++i) {
            const double centre = (i + 0.5) * scale;
            double sum = 0;
            for (int j = int(centre - 3 * scale) - 1; j <= int(centre + 3 * scale) + 1; ++j) {
                const double v = j < 0 || j >= size ? 0.0 : kernel((j + 0.5 - centre) / scale);
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
static double outerEnergy(const std::vector<double> &v, int n, int source)
{
    const double scale = double(source) / n;
    const double radius = 0.75 * source / (scale * scale);
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

void TestJobCompose::reductionLeavesNoMoire_data()
{
    QTest::addColumn<bool>("bitmap");
    QTest::addColumn<int>("size");
    QTest::newRow("bmp 1/2") << true << 500;
    QTest::newRow("bmp 1/4") << true << 250;
    QTest::newRow("jpeg 1/2") << false << 500;
    QTest::newRow("jpeg 1/4") << false << 250;
}

void TestJobCompose::reductionLeavesNoMoire()
{
    QFETCH(bool, bitmap);
    QFETCH(int, size);
    const int n = 1000;
    const QByteArray data = bitmap ? bmp(zonePlate(n), 24) : jpeg(zonePlate(n), 95);
    const QString path = m_dir.filePath(bitmap ? QStringLiteral("zone.bmp") : QStringLiteral("zone.jpg"));
    writeFile(path, data);
    JobRow j = job(QStringLiteral("%1*%1").arg(size), "ON", "Top", QString());
    j.path = path;
    const QImage img = compose(j);
    std::vector<double> ours;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            ours.push_back(qRed(img.pixel(x, y)));
    const double got = outerEnergy(ours, size, n);
    const double reference = outerEnergy(lanczos3(decodePictureData(data).image, size), size, n);
    QVERIFY2(got <= 2 * reference, qPrintable(QStringLiteral("%1 against %2").arg(got).arg(reference)));
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
    JobRow j = job(size, "OFF", "Center", "", colour);
    if (!path.isEmpty())
        j.path = path;
    try {
        compose(j);
        QFAIL("the job was composed");
    } catch (const Failure &f) {
        QVERIFY2(f.message().contains(says), qPrintable(f.message()));
    }
}

// The colour-plane route takes only the jobs that scale a plain colour JPEG over the
// whole canvas, and gives the picture the RGB route gives.
void TestJobCompose::planesRoute_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("fit");
    QTest::addColumn<QString>("rotation");
    QTest::addColumn<bool>("halfChroma");
    QTest::addColumn<bool>("taken");
    QTest::newRow("fitted exactly") << "jpeg" << "320*240" << "OFF" << "" << true << true;
    QTest::newRow("stretched") << "jpeg" << "300*100" << "ON" << "" << true << true;
    QTest::newRow("larger, full chroma") << "jpeg" << "801*600" << "ON" << "" << false << true;
    QTest::newRow("no new size") << "jpeg" << "" << "OFF" << "" << true << true;
    QTest::newRow("bands") << "jpeg" << "300*100" << "OFF" << "" << true << false;
    QTest::newRow("turned") << "jpeg" << "240*320" << "ON" << "+90°" << true << false;
    QTest::newRow("odd side, half chroma") << "jpeg" << "321*240" << "ON" << "" << true << false;
    QTest::newRow("EXIF turn") << "exif6" << "320*240" << "ON" << "" << true << false;
    QTest::newRow("grey") << "grey" << "320*240" << "ON" << "" << true << false;
    QTest::newRow("bitmap") << "bmp" << "320*240" << "ON" << "" << true << false;
}

void TestJobCompose::planesRoute()
{
    QFETCH(QString, kind);
    QFETCH(QString, size);
    QFETCH(QString, fit);
    QFETCH(QString, rotation);
    QFETCH(bool, halfChroma);
    QFETCH(bool, taken);
    const QImage picture = quadrants(640, 480);
    const QByteArray data = kind == u"bmp"     ? bmp(picture, 24)
                            : kind == u"grey"  ? jpeg(picture, 95, TJSAMP_GRAY)
                            : kind == u"exif6" ? withExifOrientation(jpeg(picture, 95, TJSAMP_420), 6)
                                               : jpeg(picture, 95, TJSAMP_420);
    JobRow j = job(size, fit, "Top", rotation);
    const std::optional<JpegPlanes> planes = composeJobPlanes(j, data, halfChroma);
    QCOMPARE(planes.has_value(), taken);
    if (!planes)
        return;
    const QImage rgb = composeJob(j, decodePictureData(data));
    QCOMPARE(planes->y.size(), rgb.size());
    QCOMPARE(planes->cb.size(), halfChroma ? rgb.size() / 2 : rgb.size());
    // The planes back to RGB (JPEG's full-range BT.601), against the RGB route.
    double total = 0;
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x) {
            const int cx = halfChroma ? x / 2 : x, cy = halfChroma ? y / 2 : y;
            const double l = planes->y.constScanLine(y)[x], cb = planes->cb.constScanLine(cy)[cx] - 128.0,
                         cr = planes->cr.constScanLine(cy)[cx] - 128.0;
            const double back[3] = {l + 1.402 * cr, l - 0.344136 * cb - 0.714136 * cr, l + 1.772 * cb};
            const QRgb want = rgb.pixel(x, y);
            const int channels[3] = {qRed(want), qGreen(want), qBlue(want)};
            for (int c = 0; c < 3; ++c) {
                const int d = std::abs(int(std::lround(std::clamp(back[c], 0.0, 255.0))) - channels[c]);
                total += d;
            }
        }
    const double mean = total / (3.0 * rgb.width() * rgb.height());
    // Chroma filtered at its own resolution (and shown here without smoothing)
    // differs only along the colour edges.
    QVERIFY2(mean < 2.0, qPrintable(QString::number(mean)));
}

QTEST_MAIN(TestJobCompose)
#include "tst_jobcompose.moc"
