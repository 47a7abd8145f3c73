// Timing of the preview and of the batch through the real main window (run it on
// the offscreen platform, or on any display), driven by compare.sh.
//
//   preview_bench pictures <folder> [444]      the 12, 24 and 50 MP photos (made once;
//                                              chroma halved both ways, or kept: 444)
//   preview_bench click <folder> [repeats]     case=preview_click, one line a size
//   preview_bench return <folder> [repeats]    case=preview_return, one line a size
//   preview_bench routes <folder> [repeats]    case=preview_routes: the routes alone, no window
//   preview_bench drag <folder>                case=preview_drag
//   preview_bench memory <folder> [rows]       case=preview_memory
//   preview_bench batch <pictures> <out> [repeats]   case=batch_window
//
// Every row is a photo to 1600*1200 "OFF" "Center", as a user sets a size for all
// rows before looking at them (the row's first showing, with its size set). A
// click is a mouse click on the row in the grid; its times run from the click to
// the moment the preview area has painted the first look and the exact picture.
// "batch" is the batch's route for the same row (composeJobFile as the batch calls
// it, the colour planes where it takes them) on one thread, with no window, timed
// in the same run. A return is a click back to one of the last 8 rows shown.
// longest_gap_ms is the longest gap between the ticks of a 5 ms timer on the
// window's event loop, from the click until the exact picture was painted. Times are medians over the repeats (default
// 5); each click is on a file of its own, so that no kept picture helps where none should.

#include "app/form1.h"
#include "app/prompts.h"
#include "batch/batchpipeline.h"
#include "batch/batchplan.h"
#include "bench/benchpictures.h"
#include "compose/jobcompose.h"
#include "compose/quickpicture.h"
#include "compose/rowsplit.h"
#include "compose/sourcefile.h"
#include "export/converter.h"
#include "export/outputname.h"
#include "joblist/jobcolumns.h"
#include "joblist/joblistview.h"
#include "joblist/jobtable.h"
#include "platform/failure.h"
#include "preview/form2.h"
#include "preview/previewrenderer.h"
#include "preview/selectionsync.h"
#include "preview/surface.h"
#include "preview/surfaceview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace kestrovia;

namespace {

struct Size {
    int megapixels;
    int width, height;
};
constexpr Size kSizes[] = {{12, 4000, 3000}, {24, 6000, 4000}, {50, 8192, 6144}};

QString photoName(const Size &s) { return QStringLiteral("preview-%1mp.jpg").arg(s.megapixels); }

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Photo-like camera JPEGs (quality 85, as the batch's photos), made once, with
// the chroma halved both ways (4:2:0) or kept whole (4:4:4).
int pictures(const QString &folder, bool fullChroma)
{
    if (!QDir().mkpath(folder))
        return 1;
    for (const Size &s : kSizes) {
        const QString path = folder + u'/' + photoName(s);
        if (QFileInfo(path).size() > 0)
            continue;
        if (!benchpics::writeJpeg(benchpics::photoLike(s.width, s.height, s.megapixels, 24), path, 85,
                                  fullChroma ? TJSAMP_444 : TJSAMP_420))
            return 1;
    }
    return 0;
}

// The longest gap between ticks of a 5 ms timer on this thread while it runs.
class GapMeter {
public:
    GapMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    // Ends the measure, counting the time since the last tick.
    double stop()
    {
        tick();
        m_timer.stop();
        return m_longest / 1e6;
    }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0, m_longest = 0;
};

// Runs the event loop until done() holds or timeoutMs passed; false on the
// timeout. The loop sleeps between events, so that waiting takes no core from the
// work it waits for; done() is looked at every 5 ms, the gap meter's pace, so that
// every wait wakes the window's thread alike. (Times are taken where things
// happen, not here.)
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 60000)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return done();
}

// The main window with the preview window showing, as a user has it.
struct Window {
    Form1 form;
    JobTable &table;
    JobListView &grid;
    SelectionSync &sync;
    QElapsedTimer clock;
    double firstAt = -1, exactAt = -1; // ms since the clock's start, once painted
    QSize exactSize;

    Window()
        : table(*form.table())
        , grid(*form.findChild<JobListView *>(QStringLiteral("PicsGalary")))
        , sync(*form.selectionSync())
    {
        Prompts::setScripted(true);
        form.show();
        form.form2()->show();
        if (!QTest::qWaitForWindowExposed(form.form2()))
            std::fprintf(stderr, "the preview window did not come on screen\n");
        // Painted at once, so that the time includes drawing the picture.
        QObject::connect(&sync, &SelectionSync::pictureShown, [this](bool exact) {
            form.form2()->picPreviewView()->repaint();
            const double at = clock.nsecsElapsed() / 1e6;
            if (exact) {
                exactAt = at;
                exactSize = form.form2()->PicPreview()->picture().size();
            } else if (firstAt < 0) {
                firstAt = at;
            }
        });
    }

    int addRow(const QString &path)
    {
        // The names are read on the drop's own thread: the row is there once it is done.
        form.appendFiles({path});
        waitUntil([this] { return !form.isAdding(); });
        const int r = table.Rows() - 1;
        // Set as the panel sets them: the size is the row's rule, which a showing
        // works the size out from again.
        RowSettings settings;
        settings.size.mode = SizeRule::Exact;
        settings.size.exact = QSize(1600, 1200);
        settings.keepAspect = true;
        settings.centred = true;
        settings.backColor = 0x808080;
        for (const RowField field : {RowField::Size, RowField::Fit, RowField::Position, RowField::Background})
            table.setRowField(r, field, settings);
        return r;
    }

    // Clicks row r and waits for its exact picture; returns false on a timeout or
    // when the row failed. gap, when given, receives the longest event-loop gap
    // from the click until a moment after the exact picture was painted.
    bool click(int r, double *gap = nullptr)
    {
        firstAt = exactAt = -1;
        grid.scrollTo(table.index(r - 1, 0));
        GapMeter meter;
        meter.start();
        clock.start();
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(table.index(r - 1, 0)).center());
        const bool ok = waitUntil([this] { return exactAt >= 0; });
        waitUntil([this] { return clock.nsecsElapsed() / 1e6 > exactAt + 20; });
        const double longest = meter.stop();
        if (gap)
            *gap = longest;
        return ok && table.Row() == r;
    }
};

// One copy of the photo per click, so that each click starts with nothing kept.
QStringList copies(const QString &folder, const Size &s, int count, const QString &tag)
{
    QStringList out;
    const QString source = folder + u'/' + photoName(s);
    for (int i = 0; i < count; ++i) {
        const QString copy = folder + QStringLiteral("/%1-%2mp-%3.jpg").arg(tag).arg(s.megapixels).arg(i);
        QFile::remove(copy);
        if (!QFile::copy(source, copy))
            throw Failure(QStringLiteral("cannot copy %1").arg(source));
        out << copy;
    }
    return out;
}

double msSince(const QElapsedTimer &t) { return t.nsecsElapsed() / 1e6; }

// "444" or "420" for the chroma of the JPEG at path ("?" when unknown).
QByteArray chromaOf(const QString &path)
{
    const QByteArray data = readSourceFile(path);
    tjhandle h = tjInitDecompress();
    int w = 0, height = 0, subsamp = -1, colours = 0;
    tjDecompressHeader3(h, reinterpret_cast<const unsigned char *>(data.constData()), (unsigned long)data.size(), &w,
                        &height, &subsamp, &colours);
    tjDestroy(h);
    return subsamp == TJSAMP_444 ? "444" : subsamp == TJSAMP_420 ? "420" : "?";
}

// The batch's own conversion of the row, without the encoder: the route it takes.
double batchRouteMs(const QString &file)
{
    const Job job = readJob(benchpics::benchRow(file));
    const bool halfChroma = !fullChroma(jpegQuality(job.level));
    QElapsedTimer t;
    t.start();
    const ComposedJob composed =
        composeJobFile(job, true, {}, halfChroma ? PlaneRoute::HalfChroma : PlaneRoute::FullChroma);
    return composed.canvas.isNull() && !composed.planes ? -1 : msSince(t);
}

int click(const QString &folder, int repeats)
{
    Window w;
    // A small row to start from, so that every timed click changes the row.
    const QString start = folder + QStringLiteral("/preview-start.jpg");
    benchpics::writeJpeg(benchpics::photoLike(640, 480), start, 85);
    const int startRow = w.addRow(start);
    w.click(startRow);
    for (const Size &s : kSizes) {
        const QStringList files = copies(folder, s, repeats, QStringLiteral("click"));
        std::vector<double> first, exact, batch, firstAlone, gaps;
        for (const QString &file : files) {
            const int r = w.addRow(file);
            double gap = 0;
            if (!w.click(r, &gap)) {
                std::fprintf(stderr, "row %d (%s) was not shown: current row %d, exact at %.1f ms\n", r,
                             qPrintable(file), w.table.Row(), w.exactAt);
                return 1;
            }
            gaps.push_back(gap);
            if (w.firstAt >= 0) // none when the exact picture came first
                first.push_back(w.firstAt);
            exact.push_back(w.exactAt);
            w.click(startRow);
            // The same row without the window, by the batch's route.
            batch.push_back(batchRouteMs(file));
            const Job job = readJob(benchpics::benchRow(file));
            // The first look alone: the file read and decoded reduced, then composed
            // (where the renderer takes one).
            QElapsedTimer t;
            t.start();
            const QByteArray data = readSourceFile(file);
            const auto quick = decodeQuickJpeg(
                data, [](QSize upright) { return upright.scaled(QSize(1600, 1200), Qt::KeepAspectRatio); }, 4);
            if (quick) {
                composeJob(job, *quick, false);
                firstAlone.push_back(msSince(t));
            }
        }
        for (const QString &file : files)
            QFile::remove(file);
        // "-" where no first look was shown (none is taken for a picture drawn at
        // more than a quarter of its size, and the exact one may come first).
        const auto ms = [](const std::vector<double> &v) {
            return v.empty() ? QByteArray("-") : QByteArray::number(median(v), 'f', 1);
        };
        std::printf("case=preview_click mp=%d chroma=%s first_ms=%s first_shown=%d/%d exact_ms=%.1f batch_ms=%.1f "
                    "exact_vs_batch=%.2f first_alone_ms=%s longest_gap_ms=%.1f\n",
                    s.megapixels, chromaOf(folder + u'/' + photoName(s)).constData(), ms(first).constData(),
                    int(first.size()), int(files.size()), median(exact), median(batch), median(exact) / median(batch),
                    ms(firstAlone).constData(), *std::max_element(gaps.begin(), gaps.end()));
        std::fflush(stdout);
    }
    return 0;
}

// Back to one of the last 8 rows shown, of every size: each row's picture is kept.
// Each size's line gives the median and the slowest return to a row of that size.
int returnToRow(const QString &folder, int repeats)
{
    Window w;
    constexpr int kRows = 8;
    std::vector<int> rows;
    std::vector<const Size *> sizes;
    for (const Size &s : kSizes) {
        const int count = (kRows + int(std::size(kSizes)) - 1 - int(&s - kSizes)) / int(std::size(kSizes));
        for (const QString &file : copies(folder, s, count, QStringLiteral("return"))) {
            rows.push_back(w.addRow(file));
            sizes.push_back(&s);
        }
    }
    for (const int r : rows)
        if (!w.click(r))
            return 1;
    std::vector<std::vector<double>> exact(std::size(kSizes));
    double longestGap = 0;
    for (int i = 0; i < repeats; ++i) {
        // Each time the row shown longest ago of the last 8, the one a bound kept too
        // tight would have let go first.
        for (int k = 0; k < kRows; ++k) {
            double gap = 0;
            if (!w.click(rows[size_t(k)], &gap))
                return 1;
            longestGap = std::max(longestGap, gap);
            exact[size_t(sizes[size_t(k)] - kSizes)].push_back(w.exactAt);
        }
    }
    for (const QString &file : QDir(folder).entryList({QStringLiteral("return-*.jpg")}, QDir::Files))
        QFile::remove(folder + u'/' + file);
    for (const Size &s : kSizes) {
        const std::vector<double> &v = exact[size_t(&s - kSizes)];
        std::printf("case=preview_return mp=%d rows=%d returns=%d exact_ms=%.1f slowest_ms=%.1f longest_gap_ms=%.1f\n",
                    s.megapixels, kRows, int(v.size()), median(v), *std::max_element(v.begin(), v.end()), longestGap);
    }
    return 0;
}

// The routes alone, no window: the batch's (colour planes where it takes them),
// and the RGB banded route with and without a second thread for the rows.
int routes(const QString &folder, int repeats)
{
    for (const Size &s : kSizes) {
        const QString file = folder + u'/' + photoName(s);
        const Job job = readJob(benchpics::benchRow(file));
        std::vector<double> batch, split, single, full, half, renderer;
        PreviewRenderer r;
        for (int i = 0; i < repeats; ++i) {
            batch.push_back(batchRouteMs(file));
            QElapsedTimer t;
            {
                r.kept().clear();
                QEventLoop loop;
                QObject::connect(&r, &PreviewRenderer::picture, &loop, &QEventLoop::quit);
                QObject::connect(&r, &PreviewRenderer::failed, &loop, &QEventLoop::quit);
                t.start();
                r.request(PreviewRequest{job, false, true});
                loop.exec();
                renderer.push_back(msSince(t));
            }
            t.start();
            composeJobFile(job, true, {}, PlaneRoute::FullChroma);
            full.push_back(msSince(t));
            t.start();
            composeJobFile(job, true, {}, PlaneRoute::HalfChroma);
            half.push_back(msSince(t));
            t.start();
            composeJobFile(job, true);
            split.push_back(msSince(t));
            const RowSplitting off(false);
            t.start();
            composeJobFile(job, true);
            single.push_back(msSince(t));
        }
        std::printf("case=preview_routes mp=%d chroma=%s batch_ms=%.1f renderer_ms=%.1f full_chroma_ms=%.1f half_chroma_ms=%.1f "
                    "rgb_ms=%.1f rgb_one_thread_ms=%.1f\n",
                    s.megapixels, chromaOf(file).constData(), median(batch), median(renderer), median(full), median(half),
                    median(split), median(single));
        std::fflush(stdout);
    }
    return 0;
}

// A drag of the preview window's border: 30 steps over a second, as a mouse gives
// them, on a row whose picture is shown.
int drag(const QString &folder)
{
    Window w;
    const Size &s = kSizes[1];
    const QStringList files = copies(folder, s, 1, QStringLiteral("drag"));
    const int r = w.addRow(files[0]);
    if (!w.click(r))
        return 1;
    Form2 &preview = *w.form.form2();
    // Room to grow on the screen.
    preview.resize(preview.size() / 2);
    if (!waitUntil([&] { return !w.sync.isBusy(); }))
        return 1;
    const QSize from = preview.size();
    constexpr int kSteps = 30;
    GapMeter meter;
    meter.start();
    QElapsedTimer clock;
    clock.start();
    double lastStep = 0;
    for (int i = 1; i <= kSteps; ++i) {
        waitUntil([&] { return msSince(clock) >= i * 1000.0 / kSteps; });
        preview.resize(from + QSize(4 * i, 3 * i));
        lastStep = msSince(clock);
    }
    const QSize final = preview.clientPixelSize();
    w.exactAt = -1;
    w.clock = clock;
    const bool ok = waitUntil([&] { return w.exactAt >= 0 && w.exactSize == final; });
    waitUntil([&] { return msSince(clock) > w.exactAt + 20; });
    const double gap = meter.stop();
    QFile::remove(files[0]);
    if (!ok)
        return 1;
    std::printf("case=preview_drag mp=%d steps=%d longest_gap_ms=%.1f final_ms=%.1f\n", s.megapixels, kSteps, gap,
                w.exactAt - lastStep);
    return 0;
}

// Clicking through rows of 50 MP photos, each shown before the next: the largest
// the process grew.
int memory(const QString &folder, int rows)
{
    Window w;
    const QStringList files = copies(folder, kSizes[2], rows, QStringLiteral("memory"));
    for (const QString &file : files)
        w.addRow(file);
    for (int r = 1; r <= rows; ++r)
        if (!w.click(r))
            return 1;
    for (const QString &file : files)
        QFile::remove(file);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("case=preview_memory mp=%d rows=%d peak_mb=%.1f kept_mb=%.1f\n", kSizes[2].megapixels, rows,
                usage.ru_maxrss / 1024.0, w.sync.renderer()->kept().bytes() / 1048576.0);
    return 0;
}

// 処理実行 in the window, with the preview showing the first row, against the same
// rows through the pipeline alone; turn about, fresh outputs each time.
int batch(const QString &pictures, const QString &out, int repeats)
{
    Window w;
    const QStringList names = QDir(pictures).entryList({QStringLiteral("photo*.jpg")}, QDir::Files, QDir::Name);
    if (names.isEmpty() || !QDir().mkpath(out))
        return 1;
    QList<std::pair<int, JobRow>> rows;
    for (const QString &name : names) {
        const int r = w.addRow(pictures + u'/' + name);
        w.table.setTextMatrix(r, ColSaveFolder, out + u'/');
        rows.append({r, w.table.jobRow(r)});
    }
    if (!w.click(1))
        return 1;
    auto *start = w.form.findChild<QPushButton *>(QStringLiteral("BtnMain"));
    auto *bar = w.form.findChild<QProgressBar *>(QStringLiteral("ProgressBar1"));
    const auto clearOutputs = [&] {
        for (const QString &f : QDir(out).entryList({QStringLiteral("*.jpg")}, QDir::Files))
            QFile::remove(out + u'/' + f);
    };
    std::vector<double> window, pipeline, windowGaps, pipelineGaps;
    for (int i = 0; i < repeats; ++i) {
        clearOutputs();
        GapMeter meter;
        meter.start();
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(start, Qt::LeftButton);
        if (!waitUntil([&] { return !bar->isVisible(); }, 600000))
            return 1;
        window.push_back(msSince(t));
        windowGaps.push_back(meter.stop());
        if (QDir(out).entryList({QStringLiteral("*.jpg")}, QDir::Files).size() != names.size())
            return 1;

        clearOutputs();
        meter.start();
        t.start();
        // Waited for as the window is: the event loop runs, looking every 5 ms.
        BatchPipeline p;
        int saved = 0;
        QObject::connect(&p, &BatchPipeline::finished, [&](const BatchSummary &s) { saved = s.saved; });
        p.start(planBatch(rows));
        if (!waitUntil([&] { return saved > 0 || !p.isRunning(); }, 600000))
            return 1;
        waitUntil([&] { return saved > 0; });
        pipeline.push_back(msSince(t));
        pipelineGaps.push_back(meter.stop());
        if (saved != int(names.size()))
            return 1;
    }
    clearOutputs();
    std::printf("case=batch_window rows=%d window_ms=%.1f pipeline_ms=%.1f window_vs_pipeline=%.2f "
                "window_longest_gap_ms=%.1f pipeline_longest_gap_ms=%.1f\n",
                int(names.size()), median(window), median(pipeline), median(window) / median(pipeline),
                *std::max_element(windowGaps.begin(), windowGaps.end()),
                *std::max_element(pipelineGaps.begin(), pipelineGaps.end()));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto number = [&](int i, int fallback) { return args.size() > i ? std::max(1, args[i].toInt()) : fallback; };
    try {
        if ((args.size() == 3 || args.size() == 4) && args[1] == u"pictures")
            return pictures(args[2], args.size() == 4 && args[3] == u"444");
        if (args.size() >= 3 && args[1] == u"click")
            return click(args[2], number(3, 5));
        if (args.size() >= 3 && args[1] == u"routes")
            return routes(args[2], number(3, 5));
        if (args.size() >= 3 && args[1] == u"return")
            return returnToRow(args[2], number(3, 5));
        if (args.size() == 3 && args[1] == u"drag")
            return drag(args[2]);
        if (args.size() >= 3 && args[1] == u"memory")
            return memory(args[2], number(3, 20));
        if (args.size() >= 4 && args[1] == u"batch")
            return batch(QDir(args[2]).absolutePath(), QDir(args[3]).absolutePath(), number(4, 5));
    } catch (const Failure &f) {
        std::fprintf(stderr, "%s\n", qPrintable(f.message()));
        return 1;
    }
    std::fprintf(stderr, "usage: preview_bench pictures <folder> [444] | click|return|drag|memory <folder> [n] | "
                         "batch <pictures> <out> [repeats]\n");
    return 2;
}
