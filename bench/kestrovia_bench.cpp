// Timing tool for the image engine, driven by compare.sh.
//
//   kestrovia_bench make <folder>                 photo-like test pictures
//   kestrovia_bench run <case> <picture> <folder> one job, as the batch run does it
//   kestrovia_bench batchpictures <folder>        the batch's 20 photos (kept when unchanged)
//   kestrovia_bench batch <pictures> <out> [rows] every *.jpg of pictures as one batch
//   kestrovia_bench stall <pictures> <out> [rows] the same, printing the longest
//                                                 event-loop stall in ms
//   kestrovia_bench plan <pictures> <out> [rows]  the plan of that batch alone (what
//                                                 処理実行 does on the window's thread
//                                                 first): median ms of 5, and how
//                                                 many rows would replace an output
//   kestrovia_bench time <runs> -- <command...>   median wall time and peak memory
//   kestrovia_bench quality <folder>              PSNR of written files against a float
//                                                 resize of their source
//   kestrovia_bench webpsoftness <folder>         a WebP shrunk on load against the same
//                                                 pixels as PNG, in dB against Lanczos-3
//   kestrovia_bench mixedpictures <folder>        the mixed load's pictures (kept when made)
//   kestrovia_bench hugepicture <folder>          a 20000x15000 JPEG (kept when made)
//   kestrovia_bench batchpictures444 <folder>     the batch's photos stored 4:4:4
//   kestrovia_bench ppm <file> <w> <h>            a photo-like PPM (the codec floor's input)
//   kestrovia_bench qualities                     the JPEG quality of each level, 0 to 10
//   kestrovia_bench levels <pictures> <work> [format]
//                                                 size and SSIM of each level's batch
//   kestrovia_bench formatscore <pictures> <ours> <vips> <vips-ref> <format>
//                                                 size and SSIM of one batch's outputs
//                                                 beside vipsthumbnail's
//   kestrovia_bench vipsoptions <format>          vips' save options for each level
//   kestrovia_bench calibrate <pictures> <format> [count] [speed]
//                                                 each level's quality for the format
//                                                 whose SSIM matches JPEG's at that level
//   kestrovia_bench bombs <folder>                the decoder tests' hostile files
//   kestrovia_bench hostile <folder>              the hostile and heavy files hostile.sh
//                                                 runs through the program (sparse where
//                                                 large; the 50 MP TIFFs kept when made)
//   kestrovia_bench decode <picture> [reference]  our decoding of a sample file: its size,
//                                                 or the reason it is refused; with a
//                                                 reference picture (read by Qt), the
//                                                 largest and mean channel difference
//   kestrovia_bench refuse <picture> <folder>     one batch row of case a; succeeds when
//                                                 the picture is refused or converted
//
// Options before the command: --format jpeg|webp|avif|png (default jpeg),
// --level 0..10 (default 5) and --transparent (透明を残す) set the output of run
// and batch; --pattern <text> names the outputs of batch and plan (the default
// pattern when absent).
// Cases: a/b/c/d compose and export as the batch does (b turns +90°); preview_quick and
// preview_complete compose into a separate preview surface without exporting.
// The batch runs every picture to 1600*1200 "OFF" "Center" at the level;
// with rows beyond the number of pictures, the pictures are named again with
// outputs in <out>/1, <out>/2, ... (a batch never writes one file twice).

#include "batch/batchpipeline.h"
#include "batch/batchplan.h"
#include "bench/benchpictures.h"
#include "compose/jobcompose.h"
#include "compose/picturedecoder.h"
#include "export/converter.h"
#include "export/export.h"
#include "export/levels.h"
#include "export/outputname.h"
#include "export/writers.h"
#include "platform/failure.h"
#include "tests/common/formatpictures.h"
#include "tests/common/hostilefiles.h"
#include "tests/common/hostilestreams.h"
#include "tests/common/reference.h"
#include "tests/common/runbatch.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QTimer>

#include <tiffio.h>
#include <turbojpeg.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <thread>
#include <vector>

using namespace kestrovia;
using benchpics::photoLike;
using benchpics::writeJpeg;

namespace {

int make(const QString &folder)
{
    const QImage a = photoLike(4000, 3000);
    if (!writeJpeg(a, folder + QStringLiteral("/photo4000.jpg")))
        return 1;
    if (!a.save(folder + QStringLiteral("/photo4000.bmp"), "BMP"))
        return 1;
    if (!writeJpeg(photoLike(6000, 4000), folder + QStringLiteral("/photo6000.jpg")))
        return 1;
    return 0;
}

// The output the options ask for (--format, --level).
struct Output {
    OutputFormat format = OutputFormat::Jpeg;
    int level = 5;
    bool transparent = false;
    QString pattern; // the rows' name pattern; empty: the default
};

int run(const QString &which, const QString &picture, const QString &folder, const Output &output)
{
    JobRow job = benchpics::benchRow(picture, folder + u'/', output.level);
    RowSettings written;
    written.format = output.format;
    written.keepTransparency = output.transparent;
    writeRowField(job, RowField::Format, written);
    writeRowField(job, RowField::Transparency, written);
    if (which == u"b" || which == u"preview_complete")
        job.rotation = QStringLiteral("+90°");
    if (which == u"c")
        job.newSize = QStringLiteral("800*600");

    const Job read = readJob(job);
    if (which.startsWith(u"preview_")) {
        // The preview composes into its own visible surface, never exporting.
        const bool complete = which == u"preview_complete";
        return composeJob(read, loadJobSource(read, complete), complete).isNull() ? 1 : 0;
    }
    // KESTROVIA_BENCH_TRACE=1 prints the time of each step to stderr.
    const bool trace = qEnvironmentVariableIntValue("KESTROVIA_BENCH_TRACE") == 1;
    const auto cpuMs = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
    };
    auto last = std::chrono::steady_clock::now();
    double lastCpu = cpuMs();
    const auto step = [&](const char *what) {
        const auto now = std::chrono::steady_clock::now();
        const double cpu = cpuMs();
        if (trace)
            std::fprintf(stderr, "%-8s %7.1f ms wall %7.1f ms cpu\n", what,
                         std::chrono::duration<double, std::milli>(now - last).count(), cpu - lastCpu);
        last = now;
        lastCpu = cpu;
    };
    // As a batch row: decoded in bands straight from the file, by the colour planes
    // where the job allows.
    const ComposedJob composed = composeJobFile(read, true, {}, planeRoute(read));
    step("compose");
    // Each run replaces the previous run's output, as after the user's yes.
    writeJobOutput(outputPath(job.saveFolder, job.fileName, read.format),
                   composed.planes ? encodeJob(*composed.planes, read, {})
                                   : encodeJob(composed.canvas, read, {}, composed.iccProfile),
                   WriteMode::Replace);
    step("export");
    return 0;
}

// Bump when the batch pictures change, so that folders made before are made again.
constexpr char kBatchPicturesVersion[] = "batch pictures 1: 20 x 4000x3000, grain 24, quality 85";
constexpr int kBatchPictures = 20;

QString batchPictureName(int i) { return QStringLiteral("photo%1.jpg").arg(i, 2, 10, QLatin1Char('0')); }

// The pictures' names, sizes and hashes as found in folder, after the version.
QByteArray batchManifest(const QString &folder)
{
    QByteArray manifest = QByteArray(kBatchPicturesVersion) + '\n';
    for (int i = 0; i < kBatchPictures; ++i) {
        QFile f(folder + u'/' + batchPictureName(i));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QCryptographicHash hash(QCryptographicHash::Sha1);
        hash.addData(&f);
        manifest +=
            batchPictureName(i).toUtf8() + ' ' + QByteArray::number(f.size()) + ' ' + hash.result().toHex() + '\n';
    }
    return manifest;
}

// Photo-like 4000x3000 JPEGs of 3.5-3.7 MB each, as a camera writes them (4:2:0, or
// 4:4:4 as high-quality exports are). Made once: a folder whose manifest still
// matches its files is left as it is.
int batchPictures(const QString &folder, int subsamp = TJSAMP_420)
{
    const QString manifestPath = folder + QStringLiteral("/manifest.txt");
    QFile manifest(manifestPath);
    if (manifest.open(QIODevice::ReadOnly) && manifest.readAll() == batchManifest(folder))
        return 0;
    manifest.close();
    if (!QDir().mkpath(folder))
        return 1;
    // Two at a time: making them takes longer than converting them.
    std::atomic<bool> ok = true;
    const auto make = [&](int first) {
        for (int i = first; i < kBatchPictures; i += 2)
            if (!writeJpeg(photoLike(4000, 3000, i + 1, 24), folder + u'/' + batchPictureName(i), 85, subsamp))
                ok = false;
    };
    std::thread other(make, 1);
    make(0);
    other.join();
    return ok && manifest.open(QIODevice::WriteOnly) && manifest.write(batchManifest(folder)) > 0 ? 0 : 1;
}

// The batch's rows: each picture of pictures in name order, to 1600*1200 "OFF"
// "Center" at the output's level and format, repeated until there are rows of them
// (rows < 1: each once); the k-th repetition writes to out/k, made here (the first
// to out itself, which must exist).
QList<std::pair<int, JobRow>> batchRows(const QString &pictures, const QString &out, int rows,
                                        const Output &output = {})
{
    const QStringList names =
        QDir(pictures).entryList({QStringLiteral("*.jpg"), QStringLiteral("*.png"), QStringLiteral("*.tif"),
                                  QStringLiteral("*.webp"), QStringLiteral("*.bmp"), QStringLiteral("*.heic")},
                                 QDir::Files, QDir::Name);
    if (rows < 1)
        rows = int(names.size());
    QList<std::pair<int, JobRow>> list;
    for (int i = 0; !names.isEmpty() && i < rows; ++i) {
        const QString &name = names[i % names.size()];
        const int k = int(i / names.size());
        const QString folder = k == 0 ? out : out + u'/' + QString::number(k);
        if (k > 0 && i % names.size() == 0)
            QDir(out).mkdir(QString::number(k));
        JobRow row = benchpics::benchRow(pictures + u'/' + name, folder + u'/', output.level);
        RowSettings written;
        written.format = output.format;
        written.keepTransparency = output.transparent;
        if (!output.pattern.isEmpty())
            written.namePattern = output.pattern;
        writeRowField(row, RowField::Format, written);
        writeRowField(row, RowField::Transparency, written);
        writeRowField(row, RowField::NamePattern, written);
        list.append({i + 1, row});
    }
    return list;
}

// A folder made once: done marks it complete.
bool madeBefore(const QString &folder, const char *version)
{
    QFile done(folder + QStringLiteral("/done.txt"));
    return done.open(QIODevice::ReadOnly) && done.readAll() == version;
}
bool markMade(const QString &folder, const char *version)
{
    QFile done(folder + QStringLiteral("/done.txt"));
    return done.open(QIODevice::WriteOnly) && done.write(version) > 0;
}

// The mixed load: JPEG (4:2:0, 4:4:4, progressive), PNG, TIFF, WebP and BMP up to 48
// megapixels, and HEIC at 12 as phones write it; the batch names them again and
// again for 200 rows.
int mixedPictures(const QString &folder)
{
    constexpr char version[] = "mixed pictures 1";
    if (madeBefore(folder, version))
        return 0;
    if (!QDir().mkpath(folder))
        return 1;
    const QImage big = photoLike(8000, 6000, 3), mid = photoLike(6000, 4000, 4), small = photoLike(4000, 3000, 5);
    const auto save = [&](const QImage &img, const QString &name, const char *format, int quality = -1) {
        QImageWriter w(folder + u'/' + name, format);
        w.setQuality(quality);
        if (qstrcmp(format, "tiff") == 0)
            w.setCompression(1); // LZW
        return w.write(img);
    };
    QImage alpha = small.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < alpha.height(); ++y) {
        auto *p = reinterpret_cast<std::uint32_t *>(alpha.scanLine(y));
        for (int x = 0; x < alpha.width(); ++x)
            p[x] = (p[x] & 0xFFFFFF) | (std::uint32_t(x * 255 / alpha.width()) << 24);
    }
    bool ok = writeJpeg(big, folder + QStringLiteral("/m01.jpg"), 85)
              && writeJpeg(big, folder + QStringLiteral("/m02.jpg"), 92, TJSAMP_444)
              && writeJpeg(mid, folder + QStringLiteral("/m03.jpg"), 85)
              && writeJpeg(small, folder + QStringLiteral("/m04.jpg"), 85, TJSAMP_420, TJFLAG_PROGRESSIVE)
              && save(big, QStringLiteral("m05.png"), "png") && save(alpha, QStringLiteral("m06.png"), "png")
              && save(big, QStringLiteral("m07.tif"), "tiff") && save(small, QStringLiteral("m08.tif"), "tiff")
              && save(big, QStringLiteral("m09.webp"), "webp", 80)
              && save(small, QStringLiteral("m10.webp"), "webp", 80) && save(big, QStringLiteral("m11.bmp"), "bmp")
              && save(mid, QStringLiteral("m12.bmp"), "bmp");
    const QByteArray heic = testpics::heic(photoLike(4032, 3024, 6));
    if (!heic.isEmpty()) {
        QFile f(folder + QStringLiteral("/m13.heic"));
        ok = ok && f.open(QIODevice::WriteOnly) && f.write(heic) == heic.size();
    }
    return ok && markMade(folder, version) ? 0 : 1;
}

// A real 300-megapixel photo: the 4000x3000 picture five times across and down.
int hugePicture(const QString &folder)
{
    constexpr char version[] = "huge picture 1: 20000x15000 4:2:0 quality 85";
    if (madeBefore(folder, version))
        return 0;
    if (!QDir().mkpath(folder))
        return 1;
    const QImage tile = photoLike(4000, 3000, 7);
    QImage huge(20000, 15000, QImage::Format_RGB32);
    for (int y = 0; y < huge.height(); ++y)
        for (int x = 0; x < 5; ++x)
            std::memcpy(huge.scanLine(y) + x * 16000, tile.constScanLine(y % 3000), 16000);
    return writeJpeg(huge, folder + QStringLiteral("/huge.jpg"), 85) && markMade(folder, version) ? 0 : 1;
}

// The one call into the batch pipeline: plans and runs the rows as the window's
// 処理実行 does (outputs that exist already are replaced, as after the user's yes)
// and returns the number of rows not saved, their reasons on standard error. When
// the pipeline runs on workers, this waits for its end in a local event loop, so
// that longestStall below sees what the window's event loop would.
int runRows(const QList<std::pair<int, JobRow>> &rows)
{
    BatchPipeline pipeline;
    const BatchSummary summary = testbatch::runBatch(pipeline, planBatch(rows));
    for (const RowOutcome &p : summary.problems)
        std::fprintf(stderr, "row %d %s: %s\n", p.row, qPrintable(p.fileName), qPrintable(p.reason));
    return int(rows.size()) - summary.saved;
}

// Longest gap in ms between ticks of a 10 ms timer on this thread while work runs
// (10 when the event loop never waits for work). work starts from the event loop,
// as a click on 処理実行 would; the gap until its end counts as well, so a work that
// blocks the thread shows as one stall as long as itself.
double longestStall(const std::function<void()> &work)
{
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    const auto tick = [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    };
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, tick);
    QTimer::singleShot(0, [&] {
        clock.start();
        timer.start();
        work();
        tick();
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    return longest / 1e6;
}

// What the batch writes for the commonest jobs, against the photo decoded whole (by
// Qt's reader) and resized in floats (tests/common/reference.h): a 4000 x 3000 4:2:0
// photo to 640*480 and 320*240 (reduced on load by 2 and 4) at levels 0 and 5, and
// a 2001 x 1337 one to 250*167, whose odd width shows a misplaced partial block as a
// loss growing to the right. PSNR in dB over the whole canvas and its left, middle
// and right thirds, one line a job:
//   case=quality picture=<w>x<h> size=<w>x<h> level=<n> psnr=… left=… middle=… right=…
int quality(const QString &folder)
{
    struct Job {
        QString picture;
        QSize photo, size;
        int level;
    };
    const QList<Job> jobs{{QStringLiteral("photo4000.jpg"), {4000, 3000}, {640, 480}, 0},
                          {QStringLiteral("photo4000.jpg"), {4000, 3000}, {640, 480}, 5},
                          {QStringLiteral("photo4000.jpg"), {4000, 3000}, {320, 240}, 0},
                          {QStringLiteral("photo4000.jpg"), {4000, 3000}, {320, 240}, 5},
                          {QStringLiteral("photo2001.jpg"), {2001, 1337}, {250, 167}, 0}};
    QList<std::pair<int, JobRow>> rows;
    for (const Job &j : jobs) {
        const QString picture = folder + u'/' + j.picture;
        if (!QFileInfo::exists(picture) && !writeJpeg(photoLike(j.photo.width(), j.photo.height()), picture))
            return 1;
        JobRow row = benchpics::benchRow(picture, QStringLiteral("%1/%2-%3/").arg(folder).arg(rows.size()).arg(j.level),
                                         j.level);
        row.newSize = sizeText(j.size);
        row.fit = celltext::FitStretch.toString();
        if (!QDir().mkpath(row.saveFolder))
            return 1;
        rows.append({int(rows.size()) + 1, row});
    }
    if (runRows(rows) != 0)
        return 1;
    std::map<QString, testref::Floats> photos;
    for (const auto &[n, row] : rows) {
        const Job &j = jobs[n - 1];
        auto [photo, added] = photos.try_emplace(j.picture);
        if (added)
            photo->second = testref::floats(QImage(row.path));
        const testref::Floats want = testref::canvas(photo->second, j.size, QRect(QPoint(0, 0), j.size), 0);
        const QImage written(row.saveFolder + outputFileName(row.fileName));
        std::printf("case=quality picture=%dx%d size=%dx%d level=%d psnr=%.1f", j.photo.width(), j.photo.height(),
                    j.size.width(), j.size.height(), j.level, testref::psnr(want, written));
        for (const char *third : {"left", "middle", "right"}) {
            const int x0 = int(third[0] == 'l' ? 0 : third[0] == 'm' ? 1 : 2) * j.size.width() / 3;
            const QRect part(x0, 0, j.size.width() / 3, j.size.height());
            testref::Floats cut(part.width(), part.height());
            for (int y = 0; y < part.height(); ++y)
                std::copy_n(want.at(part.x(), y), part.width() * 4, cut.at(0, y));
            std::printf(" %s=%.1f", third, testref::psnr(cut, written.copy(part)));
        }
        std::printf("\n");
    }
    return 0;
}

// A photo-like WebP (lossy at quality 90, and lossless) shrunk through the batch's
// route, against the same pixels stored as PNG through theirs: each against a float
// Lanczos-3 reduction of the picture before it was encoded, in dB.
int webpSoftness(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return 1;
    const QImage photo = photoLike(4000, 3000, 10);
    const testref::Floats source = testref::floats(photo);
    for (const int quality : {90, 100}) {
        const QString webp = folder + QStringLiteral("/soft-%1.webp").arg(quality);
        const QString png = folder + QStringLiteral("/soft-%1.png").arg(quality);
        QImageWriter w(webp, "webp");
        w.setQuality(quality);
        if (!w.write(photo))
            return 1;
        const QImage full = decodePicture(webp).image;
        if (!full.save(png, "png"))
            return 1;
        for (const QSize size :
             {QSize(1600, 1200), QSize(800, 600), QSize(640, 480), QSize(320, 240), QSize(100, 75)}) {
            const testref::Floats ref = testref::canvas(source, size, QRect(QPoint(0, 0), size), 0);
            const auto db = [&](const QString &path) {
                JobRow job;
                job.path = path;
                job.newSize = QStringLiteral("%1*%2").arg(size.width()).arg(size.height());
                job.fit = QStringLiteral("ON");
                job.backColor = QStringLiteral("0");
                job.compression = QStringLiteral("5");
                return testref::psnr(ref, composeJobFile(readJob(job)).canvas);
            };
            const double ours = db(webp), reference = db(png);

            std::printf("case=webp_softness coding=%s size=%dx%d webp_db=%.1f png_db=%.1f webp_vs_png_db=%.1f\n",
                        quality == 100 ? "lossless" : "lossy", size.width(), size.height(), ours, reference,
                        ours - reference);
        }
    }
    return 0;
}

// Luma (BT.601) of a picture, in doubles.
std::vector<double> luma(const QImage &image)
{
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    std::vector<double> y(size_t(img.width()) * size_t(img.height()));
    for (int r = 0; r < img.height(); ++r) {
        const auto *row = reinterpret_cast<const std::uint32_t *>(img.constScanLine(r));
        for (int x = 0; x < img.width(); ++x)
            y[size_t(r) * size_t(img.width()) + size_t(x)] =
                0.299 * ((row[x] >> 16) & 0xFF) + 0.587 * ((row[x] >> 8) & 0xFF) + 0.114 * (row[x] & 0xFF);
    }
    return y;
}

// SSIM of two pictures of one size on their luma, with the usual 11x11 Gaussian
// window (sigma 1.5) and constants (K1 0.01, K2 0.03, range 255), averaged over
// every window that lies wholly inside the picture. 1 is identical.
double ssim(const QImage &a, const QImage &b)
{
    const int w = a.width(), h = a.height();
    if (a.size() != b.size() || w < 11 || h < 11)
        return 0;
    constexpr int radius = 5;
    double kernel[2 * radius + 1];
    double sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += kernel[i + radius] = std::exp(-i * i / (2 * 1.5 * 1.5));
    for (double &k : kernel)
        k /= sum;
    const std::vector<double> x = luma(a), y = luma(b);
    // The five local moments, blurred across then down over the valid region.
    const int vw = w - 2 * radius, vh = h - 2 * radius;
    std::vector<double> across(size_t(h) * size_t(vw) * 5), moments(size_t(vw) * size_t(vh) * 5);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < vw; ++c) {
            double m[5] = {};
            for (int k = 0; k <= 2 * radius; ++k) {
                const size_t i = size_t(r) * size_t(w) + size_t(c + k);
                const double p = x[i], q = y[i];
                m[0] += kernel[k] * p;
                m[1] += kernel[k] * q;
                m[2] += kernel[k] * p * p;
                m[3] += kernel[k] * q * q;
                m[4] += kernel[k] * p * q;
            }
            std::copy(m, m + 5, &across[(size_t(r) * size_t(vw) + size_t(c)) * 5]);
        }
    const double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
    double total = 0;
    for (int r = 0; r < vh; ++r)
        for (int c = 0; c < vw; ++c) {
            double m[5] = {};
            for (int k = 0; k <= 2 * radius; ++k)
                for (int j = 0; j < 5; ++j)
                    m[j] += kernel[k] * across[(size_t(r + k) * size_t(vw) + size_t(c)) * 5 + size_t(j)];
            const double vx = m[2] - m[0] * m[0], vy = m[3] - m[1] * m[1], cov = m[4] - m[0] * m[1];
            total += (2 * m[0] * m[1] + c1) * (2 * cov + c2) / ((m[0] * m[0] + m[1] * m[1] + c1) * (vx + vy + c2));
        }
    return total / (double(vw) * vh);
}

QImage readPicture(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? decodePictureData(f.readAll()).image : QImage();
}

// One level of the batch: total bytes of the outputs in folder (named by output
// from the pictures' names) and their mean SSIM against the lossless renderings
// (reference, by picture), or {0, 0} when an output is missing.
std::pair<qint64, double> levelScore(const QString &folder, const QStringList &names,
                                     const std::function<QString(const QString &)> &output,
                                     const std::function<QImage(int)> &reference)
{
    qint64 bytes = 0;
    double total = 0;
    for (int i = 0; i < names.size(); ++i) {
        const QString path = folder + u'/' + output(names[i]);
        const QImage out = readPicture(path);
        const QImage ref = reference(i);
        if (out.isNull() || out.size() != ref.size())
            return {0, 0};
        bytes += QFileInfo(path).size();
        total += ssim(ref, out);
    }
    return {bytes, names.isEmpty() ? 0 : total / double(names.size())};
}

// What a level means to the format's encoder, for the tables' lines.
QString levelSettings(OutputFormat format, int level)
{
    const auto l = std::int16_t(level);
    switch (format) {
    case OutputFormat::WebP: {
        const WebpSettings s = webpSettings(l);
        return QStringLiteral("%1=%2 method=%3")
            .arg(s.lossless ? QStringLiteral("lossless_effort") : QStringLiteral("quality"))
            .arg(s.quality)
            .arg(s.method);
    }
    case OutputFormat::Avif: {
        const AvifSettings s = avifSettings(l);
        return QStringLiteral("%1 chroma=%2 speed=%3")
            .arg(s.lossless ? QStringLiteral("lossless") : QStringLiteral("quality=%1").arg(s.quality))
            .arg(s.lossless || s.fullChroma ? QStringLiteral("4:4:4") : QStringLiteral("4:2:0"))
            .arg(s.speed);
    }
    case OutputFormat::Png: {
        return QStringLiteral("zlib=%1 filters=all").arg(pngSettings(l).zlibLevel);
    }
    case OutputFormat::Jpeg: break;
    }
    const int quality = jpegQuality(l);
    return QStringLiteral("quality=%1 chroma=%2")
        .arg(quality)
        .arg(QLatin1String(fullChroma(quality) ? "4:4:4" : "4:2:0"));
}

// The same settings as a vips saver's options for its [...] suffix, so that the
// comparison runs vips at our settings: one line per level.
int vipsOptions(OutputFormat format)
{
    for (int level = 0; level <= 10; ++level) {
        const auto l = std::int16_t(level);
        QString options;
        switch (format) {
        case OutputFormat::WebP: {
            const WebpSettings s = webpSettings(l);
            options = QStringLiteral("%1Q=%2,effort=%3")
                          .arg(s.lossless ? QStringLiteral("lossless,") : QString())
                          .arg(s.quality)
                          .arg(s.method);
            break;
        }
        case OutputFormat::Avif: {
            // vips' effort is libaom's speed counted the other way.
            const AvifSettings s = avifSettings(l);
            options = QStringLiteral("compression=av1,%1,effort=%2,subsample_mode=%3")
                          .arg(s.lossless ? QStringLiteral("lossless") : QStringLiteral("Q=%1").arg(s.quality))
                          .arg(9 - s.speed)
                          .arg(s.lossless || s.fullChroma ? QStringLiteral("off") : QStringLiteral("on"));
            break;
        }
        case OutputFormat::Png: {
            options = QStringLiteral("compression=%1,filter=all").arg(pngSettings(l).zlibLevel);
            break;
        }
        case OutputFormat::Jpeg: options = QStringLiteral("Q=%1,optimize_coding").arg(jpegQuality(l)); break;
        }
        std::printf("%s\n", qPrintable(options));
    }
    return 0;
}

// Our lossless renderings of the batch's photos: the composed canvases.
std::vector<QImage> canvasesOf(const QList<std::pair<int, JobRow>> &rows)
{
    std::vector<QImage> canvases;
    for (const auto &[row, job] : rows)
        canvases.push_back(composeJob(readJob(job), loadJobSource(readJob(job))));
    return canvases;
}

// Every level's batch of the *.jpg in pictures in format, as the program writes it,
// into work/ours/<format>/<level>; then one line per level with the outputs' mean
// size and mean SSIM against our own lossless canvas, beside vipsthumbnail's
// outputs at the same settings in work/vips/<format>/<level>/<name>.<extension>
// scored against its own lossless rendering work/vips/ref/<name>.png (left out
// when those are missing). step is the size's ratio to the level before.
int levels(const QString &pictures, const QString &work, OutputFormat format)
{
    const QStringList names = QDir(pictures).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    if (names.isEmpty())
        return 1;
    const std::vector<QImage> canvases = canvasesOf(batchRows(pictures, work, 0));
    const auto ours = [&](int i) { return canvases[size_t(i)]; };
    const auto vipsRef = [&](int i) {
        return QImage(work + QStringLiteral("/vips/ref/") + QFileInfo(names[i]).completeBaseName()
                      + QStringLiteral(".png"));
    };
    const QString ext = outputExtension(format), formatName = formatText(format).toString();
    qint64 previous = 0;
    for (int level = 0; level <= 10; ++level) {
        const QString folder = work + QStringLiteral("/ours/%1/%2").arg(formatName).arg(level);
        QDir().mkpath(folder);
        if (runRows(batchRows(pictures, folder, 0, {format, level, false, {}})) != 0)
            return 1;
        const auto [bytes, score] = levelScore(
            folder, names, [&](const QString &name) { return outputFileName(name, format); }, ours);
        const auto [vipsBytes, vipsScore] = levelScore(
            work + QStringLiteral("/vips/%1/%2").arg(formatName).arg(level), names,
            [&](const QString &name) { return QFileInfo(name).completeBaseName() + u'.' + ext; }, vipsRef);
        std::printf("case=levels format=%s level=%d %s ours_kb=%.0f ours_ssim=%.4f step=%.2f", qPrintable(formatName),
                    level, qPrintable(levelSettings(format, level)), bytes / 1024.0 / double(names.size()), score,
                    previous > 0 ? double(bytes) / double(previous) : 0.0);
        if (vipsBytes > 0)
            std::printf(" vips_kb=%.0f vips_ssim=%.4f ours_vs_vips_size=%.2f",
                        vipsBytes / 1024.0 / double(names.size()), vipsScore, double(bytes) / double(vipsBytes));
        std::printf("\n");
        std::fflush(stdout);
        previous = bytes;
    }
    return 0;
}

// The outputs of one batch in format: ours in folder and vipsthumbnail's in vips
// (<name>.<extension>), each scored against its own lossless rendering (ours: the
// composed canvas; vips: vipsRef/<name>.png). One line: mean size in KB and mean
// SSIM of each, and the ratio of the sizes.
int formatScore(const QString &pictures, const QString &folder, const QString &vips, const QString &vipsRef,
                OutputFormat format)
{
    const QStringList names = QDir(pictures).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    if (names.isEmpty())
        return 1;
    const std::vector<QImage> canvases = canvasesOf(batchRows(pictures, folder, 0));
    const auto [bytes, score] = levelScore(
        folder, names, [&](const QString &name) { return outputFileName(name, format); },
        [&](int i) { return canvases[size_t(i)]; });
    const auto [vipsBytes, vipsScore] = levelScore(
        vips, names,
        [&](const QString &name) { return QFileInfo(name).completeBaseName() + u'.' + outputExtension(format); },
        [&](int i) {
            return QImage(vipsRef + u'/' + QFileInfo(names[i]).completeBaseName() + QStringLiteral(".png"));
        });
    const double n = double(names.size());
    std::printf("ours_kb=%.0f ours_ssim=%.4f vips_kb=%.0f vips_ssim=%.4f ours_vs_vips_size=%.2f\n", bytes / 1024.0 / n,
                score, vipsBytes / 1024.0 / n, vipsScore, vipsBytes > 0 ? double(bytes) / double(vipsBytes) : 0.0);
    return bytes > 0 ? 0 : 1;
}

// Each level's quality for format, chosen so that the mean SSIM of its outputs
// matches JPEG's at that level: of the lowest quality whose SSIM is at least
// JPEG's (found by bisection over 0..100) and the one below it, the nearer, on
// `count` of the batch's photos (spread over them), encoded in memory at the
// level's other settings (libaom at speed, when given). One line per level:
// JPEG's SSIM, the quality chosen, its SSIM and mean size, and the SSIM of the
// two qualities around the step.
int calibrate(const QString &pictures, OutputFormat format, int count, int speed)
{
    QList<std::pair<int, JobRow>> rows = batchRows(pictures, QDir::tempPath(), 0);
    if (rows.isEmpty() || format == OutputFormat::Jpeg || format == OutputFormat::Png)
        return 1;
    QList<std::pair<int, JobRow>> chosen;
    count = std::clamp(count, 1, int(rows.size()));
    for (int i = 0; i < count; ++i)
        chosen.append(rows[i * int(rows.size()) / count]);
    const std::vector<QImage> canvases = canvasesOf(chosen);
    // Mean SSIM, size and encoding time (of the encoding thread, so that other
    // load on the machine counts little) of the canvases through encode, two
    // pictures at a time.
    struct Score {
        double ssim = 0, kb = 0, ms = 0;
    };
    const auto score = [&](const std::function<QByteArray(const QImage &)> &encode) {
        std::vector<Score> each(canvases.size());
        const auto work = [&](size_t first) {
            for (size_t i = first; i < canvases.size(); i += 2) {
                timespec t0{}, t1{};
                clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
                const QByteArray file = encode(canvases[i]);
                clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
                each[i] = {ssim(canvases[i], decodePictureData(file).image), file.size() / 1024.0,
                           (t1.tv_sec - t0.tv_sec) * 1e3 + (t1.tv_nsec - t0.tv_nsec) / 1e6};
            }
        };
        std::thread other(work, 1);
        work(0);
        other.join();
        Score mean;
        for (const Score &e : each) {
            mean.ssim += e.ssim / double(each.size());
            mean.kb += e.kb / double(each.size());
            mean.ms += e.ms / double(each.size());
        }
        return mean;
    };
    // CALIBRATE_LEVELS="5 8" measures those levels only.
    QList<int> levels;
    for (const QString &l : qEnvironmentVariable("CALIBRATE_LEVELS").split(u' ', Qt::SkipEmptyParts))
        levels.append(l.toInt());
    if (levels.isEmpty())
        levels = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    for (int level : levels) {
        const auto l = std::int16_t(level);
        Job jpegJob;
        jpegJob.level = l;
        const Score jpeg = score([&](const QImage &c) { return encodeJob(c, jpegJob); });
        const double target = jpeg.ssim;
        const auto at = [&](int quality) {
            return score([&](const QImage &c) {
                if (format == OutputFormat::WebP) {
                    WebpSettings s = webpSettings(l);
                    s.lossless = false;
                    s.quality = quality;
                    return encodeWebp(c, s);
                }
                AvifSettings s = avifSettings(l);
                s.lossless = false;
                s.quality = quality;
                if (speed >= 0)
                    s.speed = speed;
                return encodeAvif(c, s);
            });
        };
        int lo = 0, hi = 100; // the answer lies in [lo, hi]
        std::map<int, Score> seen;
        const auto measured = [&](int q) {
            if (!seen.count(q))
                seen[q] = at(q);
            return seen[q];
        };
        while (lo < hi) {
            const int mid = (lo + hi) / 2;
            if (measured(mid).ssim >= target)
                hi = mid;
            else
                lo = mid + 1;
        }
        const double above = measured(lo).ssim, below = lo > 0 ? measured(lo - 1).ssim : 0.0;
        const int chosen = lo > 0 && target - below < above - target ? lo - 1 : lo;
        const Score found = measured(chosen);
        std::printf("case=calibrate format=%s level=%d jpeg_ssim=%.4f jpeg_kb=%.0f jpeg_ms=%.0f quality=%d ssim=%.4f "
                    "kb=%.0f ms=%.0f ssim_at_%d=%.4f ssim_at_%d=%.4f\n",
                    qPrintable(formatText(format).toString()), level, target, jpeg.kb, jpeg.ms, chosen, found.ssim,
                    found.kb, found.ms, lo - 1, below, lo, above);
        std::fflush(stdout);
    }
    return 0;
}

// The hostile files of the decoder tests, each as a file (sparse where it is large).
int bombs(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return 1;
    for (const testpics::HostileFile &f : testpics::hostileFiles()) {
        QFile out(folder + u'/' + f.fileName);
        if (!out.open(QIODevice::WriteOnly) || out.write(f.data) != f.data.size()
            || (f.sparseSize && !out.resize(f.sparseSize)))
            return 1;
    }
    return 0;
}

// An 8-bit RGB TIFF of img in LZW strips of rowsPerStrip rows, or of 32-bit
// floats from 0 to 1 (as vips writes them), through libtiff.
bool writeTiff(const QImage &img, const QString &path, quint32 rowsPerStrip, bool floats = false)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    const quint32 w = quint32(img.width()), h = quint32(img.height());
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, floats ? 32 : 8);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, floats ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, floats ? COMPRESSION_NONE : COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    std::vector<std::uint8_t> bytes(size_t(w) * 3);
    std::vector<float> floatRow(size_t(w) * 3);
    bool ok = true;
    for (quint32 y = 0; y < h && ok; ++y) {
        const auto *p = reinterpret_cast<const QRgb *>(img.constScanLine(int(y)));
        for (quint32 x = 0; x < w; ++x) {
            const int c[3] = {qRed(p[x]), qGreen(p[x]), qBlue(p[x])};
            for (int i = 0; i < 3; ++i) {
                bytes[x * 3 + i] = std::uint8_t(c[i]);
                floatRow[x * 3 + i] = float(c[i]) / 255.0f;
            }
        }
        ok = TIFFWriteScanline(tif, floats ? static_cast<void *>(floatRow.data()) : bytes.data(), y, 0) == 1;
    }
    TIFFClose(tif);
    return ok;
}

// The files of bench/hostile.sh: hostile ones (small, or sparse where they are
// large) and the heavy ordinary ones beside them (50 MP TIFFs in one strip and in
// strips of 128 rows, an interlaced PNG and a progressive JPEG of 50 MP, kept
// once made).
int hostile(const QString &folder)
{
    using namespace testpics::hostile;
    if (!QDir().mkpath(folder))
        return 1;
    const auto write = [&](const QString &name, const QByteArray &data, qint64 sparse = 0) {
        QFile out(folder + u'/' + name);
        return out.open(QIODevice::WriteOnly) && out.write(data) == data.size() && (!sparse || out.resize(sparse));
    };
    const qint64 gigs19 = qint64(1900) << 20;
    bool ok = write(QStringLiteral("g4-32767x12207.tif"), g4White(32767, 12207))
              && write(QStringLiteral("deflate-20000x20000.tif"), deflateGrey(20000, 20000))
              && write(QStringLiteral("gif-screen-11333x21804.gif"), gifFrame(11333, 21804, 0, 0, 1, 1, 1))
              && write(QStringLiteral("gif-frame-past-screen.gif"), gifFrame(16, 16, 0, 0, 16383, 16383, 170))
              && write(QStringLiteral("gif-padded-1900mb.gif"), gifFrame(16, 16, 0, 0, 16, 16, 256), gigs19)
              && write(QStringLiteral("png-text-after-pixels.png"), pngTextAfterPixels(2000000000u))
              && write(QStringLiteral("heic-ftyp-zeros-1900mb.heic"), heifFtyp(), gigs19)
              && write(QStringLiteral("jpeg-repeated-scans.jpg"), repeatedScanJpeg(20000, 20000, 2000))
              && write(QStringLiteral("jpeg-100-scans.jpg"), manyScansJpeg(20000, 20000, 99))
              && write(QStringLiteral("webp-empty-chunks.webp"), webpWithEmptyChunks(10'000'000))
              && write(QStringLiteral("jpeg-frameless-600mb.jpg"), frameless(), qint64(600) << 20);
    // The grid as it is, and with enough bytes beside it to pass for a real picture.
    const QByteArray grid = heifGrid(512, 20, 20, 10000, 10000);
    ok = ok
         && (grid.isEmpty()
             || (write(QStringLiteral("heic-grid-100mp.heic"), grid)
                 && write(QStringLiteral("heic-grid-100mp-padded.heic"),
                          grid + box("free", QByteArray(32 << 10, '\0')))));
    const QString single = folder + QStringLiteral("/lzw-50mp-one-strip.tif");
    const QString strips = folder + QStringLiteral("/lzw-50mp-128-rows.tif");
    const QString interlaced = folder + QStringLiteral("/png-50mp-interlaced.png");
    const QString progressive = folder + QStringLiteral("/jpeg-50mp-progressive.jpg");
    if (ok
        && !(QFileInfo::exists(single) && QFileInfo::exists(strips) && QFileInfo::exists(interlaced)
             && QFileInfo::exists(progressive))) {
        const QImage photo = photoLike(8192, 6144, 8);
        ok = writeTiff(photo, single, quint32(photo.height())) && writeTiff(photo, strips, 128)
             && writeJpeg(photo, progressive, 85, TJSAMP_420, TJFLAG_PROGRESSIVE);
        QFile png(interlaced);
        const QByteArray data = testpics::pngFile(photo, PNG_COLOR_TYPE_RGB, 8, true);
        ok = ok && png.open(QIODevice::WriteOnly) && png.write(data) == data.size();
    }
    ok = ok && writeTiff(photoLike(2000, 1500, 9), folder + QStringLiteral("/float-2000x1500.tif"), 16, true);
    return ok ? 0 : 1;
}

// A sample file through our decoder, against a reference picture that Qt reads.
int decodeSample(const QString &picture, const QString &reference)
{
    DecodedPicture p;
    try {
        p = decodePicture(picture);
    } catch (const Failure &f) {
        std::printf("%s refused: %s\n", qPrintable(QFileInfo(picture).fileName()), qPrintable(f.message()));
        return 0;
    }
    std::printf("%s %dx%d", qPrintable(QFileInfo(picture).fileName()), p.image.width(), p.image.height());
    if (!reference.isEmpty()) {
        const QImage want = QImage(reference).convertToFormat(QImage::Format_ARGB32);
        const QImage got = p.image.convertToFormat(QImage::Format_ARGB32);
        if (want.size() != got.size()) {
            std::printf(" reference %dx%d\n", want.width(), want.height());
            return 0;
        }
        int largest = 0;
        double sum = 0;
        for (int y = 0; y < got.height(); ++y)
            for (int x = 0; x < got.width(); ++x) {
                const QRgb a = got.pixel(x, y), b = want.pixel(x, y);
                if (!qAlpha(a) && !qAlpha(b))
                    continue;
                for (int shift : {0, 8, 16, 24}) {
                    const int d = std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF));
                    largest = std::max(largest, d);
                    sum += d;
                }
            }
        std::printf(" maxdiff=%d meandiff=%.3f", largest, sum / (4.0 * got.width() * got.height()));
    }
    std::printf("\n");
    return 0;
}

// One row of case a through the batch pipeline; its reason on standard error.
int refuse(const QString &picture, const QString &folder)
{
    const QList<std::pair<int, JobRow>> rows{
        {1,
         JobRow{QFileInfo(picture).fileName(), QString(), picture, QStringLiteral("1600*1200"), QStringLiteral("OFF"),
                QStringLiteral("8421504"), QStringLiteral("Center"), QString(), folder + u'/', QStringLiteral("2")}}};
    runRows(rows);
    return 0;
}

// Runs the command `runs` times; prints "<median ms> <peak MB>".
int timeCommand(int runs, char **argv)
{
    std::vector<double> ms;
    long peakKb = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            execvp(argv[0], argv);
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "command failed: %s\n", argv[0]);
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        peakKb = std::max(peakKb, usage.ru_maxrss);
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
    std::printf("%.1f %.1f\n", median, peakKb / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "time") == 0 && std::strcmp(argv[3], "--") == 0 && argc >= 5)
        return timeCommand(std::max(1, std::atoi(argv[2])), argv + 4);

    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    Output output;
    // The output options, wherever they stand.
    output.transparent = args.removeAll(QStringLiteral("--transparent")) > 0;
    for (qsizetype i = 1; i + 1 < args.size();) {
        if (args[i] == u"--format" && outputFormatOf(args[i + 1])) {
            output.format = *outputFormatOf(args[i + 1]);
        } else if (args[i] == u"--level") {
            output.level = std::clamp(args[i + 1].toInt(), 0, 10);
        } else if (args[i] == u"--pattern") {
            output.pattern = args[i + 1];
        } else {
            ++i;
            continue;
        }
        args.remove(i, 2);
    }
    try {
        if (args.size() == 3 && args[1] == u"make")
            return make(args[2]);
        if (args.size() == 5 && args[1] == u"run")
            return run(args[2], args[3], args[4], output);
        if (args.size() == 3 && args[1] == u"quality")
            return quality(args[2]);
        if (args.size() == 3 && args[1] == u"webpsoftness")
            return webpSoftness(args[2]);
        if (args.size() == 2 && args[1] == u"qualities") {
            for (int level = 0; level <= 10; ++level)
                std::printf("%d%c", jpegQuality(std::int16_t(level)), level < 10 ? ' ' : '\n');
            return 0;
        }
        if ((args.size() == 4 || args.size() == 5) && args[1] == u"levels")
            return levels(QDir(args[2]).absolutePath(), QDir(args[3]).absolutePath(),
                          args.size() == 5 ? outputFormatOf(args[4]).value_or(OutputFormat::Jpeg) : OutputFormat::Jpeg);
        if (args.size() >= 4 && args.size() <= 6 && args[1] == u"calibrate" && outputFormatOf(args[3]))
            return calibrate(QDir(args[2]).absolutePath(), *outputFormatOf(args[3]),
                             args.size() >= 5 ? args[4].toInt() : 6, args.size() == 6 ? args[5].toInt() : -1);
        if (args.size() == 7 && args[1] == u"formatscore" && outputFormatOf(args[6]))
            return formatScore(QDir(args[2]).absolutePath(), QDir(args[3]).absolutePath(), QDir(args[4]).absolutePath(),
                               QDir(args[5]).absolutePath(), *outputFormatOf(args[6]));
        if (args.size() == 3 && args[1] == u"vipsoptions" && outputFormatOf(args[2]))
            return vipsOptions(*outputFormatOf(args[2]));
        if (args.size() == 3 && args[1] == u"batchpictures")
            return batchPictures(args[2]);
        if (args.size() == 3 && args[1] == u"batchpictures444")
            return batchPictures(args[2], TJSAMP_444);
        if (args.size() == 3 && args[1] == u"mixedpictures")
            return mixedPictures(args[2]);
        if (args.size() == 3 && args[1] == u"hugepicture")
            return hugePicture(args[2]);
        if ((args.size() == 3 || args.size() == 4) && args[1] == u"decode")
            return decodeSample(args[2], args.size() == 4 ? args[3] : QString());
        if (args.size() == 3 && args[1] == u"bombs")
            return bombs(args[2]);
        if (args.size() == 3 && args[1] == u"hostile")
            return hostile(args[2]);
        if (args.size() == 4 && args[1] == u"refuse")
            return refuse(args[2], QDir(args[3]).absolutePath());
        if (args.size() == 5 && args[1] == u"ppm")
            return photoLike(args[3].toInt(), args[4].toInt()).save(args[2], "PPM") ? 0 : 1;
        if ((args.size() == 4 || args.size() == 5)
            && (args[1] == u"batch" || args[1] == u"stall" || args[1] == u"plan")) {
            const auto rows = batchRows(QDir(args[2]).absolutePath(), QDir(args[3]).absolutePath(),
                                        args.size() == 5 ? args[4].toInt() : 0, output);
            if (rows.isEmpty())
                return 1;
            if (args[1] == u"batch")
                return runRows(rows) == 0 ? 0 : 1;
            if (args[1] == u"plan") {
                std::vector<double> ms;
                int replacing = 0;
                for (int i = 0; i < 5; ++i) {
                    QElapsedTimer clock;
                    clock.start();
                    replacing = planBatch(rows).replacing();
                    ms.push_back(clock.nsecsElapsed() / 1e6);
                }
                std::sort(ms.begin(), ms.end());
                std::printf("%.2f ms, %d of %lld rows replace an earlier output\n", ms[2], replacing,
                            qint64(rows.size()));
                return 0;
            }
            int failed = 0;
            const double stall = longestStall([&] { failed = runRows(rows); });
            std::printf("%.1f\n", stall);
            return failed == 0 ? 0 : 1;
        }
    } catch (const Failure &f) {
        std::fprintf(stderr, "%s\n", qPrintable(f.message()));
        return 1;
    }
    std::fprintf(stderr,
                 "usage: kestrovia_bench [--format jpeg|webp|avif|png] [--level 0-10] [--transparent] [--pattern <text>] "
                 "make <folder> | "
                 "run <case> <picture> <folder> | time <runs> -- <command...> | quality <folder> | qualities | "
                 "levels <pictures> <work> [format] | calibrate <pictures> <format> [count] [speed] | "
                 "vipsoptions <format> | batchpictures <folder> | batch|stall|plan <pictures> <out> [rows]\n");
    return 2;
}
