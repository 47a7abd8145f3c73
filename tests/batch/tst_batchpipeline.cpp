// The batch without a window: what the plan decides about every output, and a run
// that goes on past the rows that fail.

#include "batch/batchpipeline.h"
#include "batch/batchplan.h"
#include "compose/picturedecoder.h"
#include "tests/common/testpictures.h"
#include "tests/common/jobrows.h"

#include <QDir>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

#include <atomic>

#include <sys/stat.h>
#include <unistd.h>

using namespace kestrovia;
using namespace testpics;
using Fate = PlannedRow::Fate;
using Status = RowOutcome::Status;

namespace {

JobRow job(const QString &path, const QString &folder)
{
    JobRow j = testui::jobFor(path, folder);
    j.backColor = QStringLiteral("16777215");
    return j;
}

BatchSummary runBatch(const BatchPlan &plan)
{
    BatchPipeline pipeline;
    return pipeline.run(plan);
}

QList<std::pair<int, JobRow>> numbered(const QList<JobRow> &jobs)
{
    QList<std::pair<int, JobRow>> rows;
    for (const JobRow &j : jobs)
        rows.append({int(rows.size()) + 1, j});
    return rows;
}

QList<Fate> fates(const BatchPlan &plan)
{
    QList<Fate> out;
    for (const PlannedRow &r : plan.rows)
        out.append(r.fate);
    return out;
}

} // namespace

class TestBatchPipeline : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_root = m_dir->path() + u'/';
    }

    // holiday.bmp converts to holiday.jpg, the name of the photo beside it.
    void holidayPhotoSurvives_data()
    {
        QTest::addColumn<bool>("photoIsARow");
        QTest::newRow("photo also in the table") << true;
        QTest::newRow("photo only on disk") << false;
    }
    void holidayPhotoSurvives()
    {
        QFETCH(bool, photoIsARow);
        writeFile(m_root + QStringLiteral("holiday.bmp"), bmp(quadrants(40, 30), 24));
        const QByteArray photo = jpeg(quadrants(64, 48));
        writeFile(m_root + QStringLiteral("holiday.jpg"), photo);
        QList<JobRow> jobs{job(m_root + QStringLiteral("holiday.bmp"), m_root)};
        if (photoIsARow)
            jobs.append(job(m_root + QStringLiteral("holiday.jpg"), m_root));

        BatchPlan plan = planBatch(numbered(jobs));
        if (photoIsARow) {
            QCOMPARE(fates(plan), QList<Fate>({Fate::Skip, Fate::Write}));
            QVERIFY2(plan.rows[0].reason.contains(QStringLiteral("元の画像")), qPrintable(plan.rows[0].reason));
        } else {
            // Not a row: an existing file like any other, which the user is asked about.
            QCOMPARE(fates(plan), QList<Fate>({Fate::Replace}));
            QCOMPARE(plan.replacedNames(3), QStringList{QStringLiteral("holiday.jpg")});
            plan.skipReplacing();
        }
        const BatchSummary summary = runBatch(plan);
        QCOMPARE(readFile(m_root + QStringLiteral("holiday.jpg")), photo);
        QCOMPARE(summary.saved, photoIsARow ? 1 : 0);
        QCOMPARE(summary.problems.size(), 1);
        QCOMPARE(summary.problems[0].status, Status::Skipped);
        QCOMPARE(summary.problems[0].fileName, QStringLiteral("holiday.bmp"));
    }

    // An output reached through a link is judged by the file it is.
    void linkedOutputs_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("fate");
        QTest::newRow("symbolic link to a row's source") << "symlink-source" << int(Fate::Skip);
        QTest::newRow("hard link to a row's source") << "hardlink-source" << int(Fate::Skip);
        QTest::newRow("symbolic link elsewhere") << "symlink-other" << int(Fate::Replace);
    }
    void linkedOutputs()
    {
        QFETCH(QString, link);
        QFETCH(int, fate);
        writeFile(m_root + QStringLiteral("a.bmp"), bmp(quadrants(40, 30), 24));
        const QByteArray source = jpeg(quadrants(64, 48));
        writeFile(m_root + QStringLiteral("b.jpg"), source);
        writeFile(m_root + QStringLiteral("other.txt"), "other");
        const QByteArray out = QFile::encodeName(m_root + QStringLiteral("a.jpg"));
        const QByteArray target = QFile::encodeName(m_root + (link.endsWith(u"other") ? QStringLiteral("other.txt")
                                                                                       : QStringLiteral("b.jpg")));
        QCOMPARE(link.startsWith(u"hard") ? ::link(target, out) : ::symlink(target, out), 0);

        BatchPlan plan = planBatch(numbered({job(m_root + QStringLiteral("a.bmp"), m_root),
                                             job(m_root + QStringLiteral("b.jpg"), m_root)}));
        QCOMPARE(int(plan.rows[0].fate), fate);
        runBatch(plan); // a Replace row counts as agreed to here
        QCOMPARE(readFile(m_root + QStringLiteral("b.jpg")), source);
        QCOMPARE(readFile(m_root + QStringLiteral("other.txt")), QByteArray("other"));
        if (fate == int(Fate::Replace)) {
            QVERIFY(!QFileInfo(m_root + QStringLiteral("a.jpg")).isSymLink());
            QCOMPARE(decodePicture(m_root + QStringLiteral("a.jpg")).size, QSize(40, 30));
        }
    }

    void twoRowsOneOutput()
    {
        QVERIFY(QDir(m_root).mkpath(QStringLiteral("one")) && QDir(m_root).mkpath(QStringLiteral("out")));
        writeFile(m_root + QStringLiteral("a.bmp"), bmp(quadrants(40, 30), 24));
        writeFile(m_root + QStringLiteral("one/a.bmp"), bmp(quadrants(20, 10), 24));
        // The same folder spelled two ways.
        const BatchPlan plan = planBatch(numbered({job(m_root + QStringLiteral("a.bmp"), m_root + QStringLiteral("out/")),
                                                   job(m_root + QStringLiteral("one/a.bmp"),
                                                       m_root + QStringLiteral("one/../out/"))}));
        QCOMPARE(fates(plan), QList<Fate>({Fate::Write, Fate::Skip}));
        QVERIFY2(plan.rows[1].reason.contains(QStringLiteral("1行目")), qPrintable(plan.rows[1].reason));
        runBatch(plan);
        QCOMPARE(decodePicture(m_root + QStringLiteral("out/a.jpg")).size, QSize(40, 30));
    }

    void unusableFolders_data()
    {
        QTest::addColumn<QString>("folder"); // "@" stands for the test's folder
        QTest::addColumn<QString>("says");
        QTest::newRow("empty") << "" << "指定されていません";
        QTest::newRow("missing") << "@gone/" << "ありません";
        QTest::newRow("a file") << "@a.bmp/" << "ありません";
        QTest::newRow("a folder at the output") << "@taken/" << "フォルダがあります";
        QTest::newRow("read-only") << "@locked/" << "権限";
    }
    void unusableFolders()
    {
        QFETCH(QString, folder);
        QFETCH(QString, says);
        if (folder == u"@locked/" && ::geteuid() == 0)
            QSKIP("root may write into read-only folders");
        writeFile(m_root + QStringLiteral("a.bmp"), bmp(quadrants(40, 30), 24));
        QVERIFY(QDir(m_root).mkpath(QStringLiteral("taken/a.jpg")));
        QVERIFY(QDir(m_root).mkpath(QStringLiteral("locked")));
        QFile::setPermissions(m_root + QStringLiteral("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const BatchPlan plan = planBatch(numbered({job(m_root + QStringLiteral("a.bmp"), folder.replace(u'@', m_root))}));
        QCOMPARE(fates(plan), QList<Fate>({Fate::Fail}));
        QVERIFY2(plan.rows[0].reason.contains(says), qPrintable(plan.rows[0].reason));
    }

    // Five rows; the second is damaged, the fourth's source is gone and the fifth's
    // a FIFO by the time the run starts: the others are all written, in order.
    void badRowsDoNotCostTheRest()
    {
        QStringList names;
        for (int i = 1; i <= 6; ++i) {
            names << m_root + QStringLiteral("p%1.jpg").arg(i);
            writeFile(names.last(), jpeg(quadrants(40 + i, 30)));
        }
        QList<JobRow> jobs;
        for (const QString &n : names)
            jobs.append(job(n, m_root));
        jobs[2].backColor = QStringLiteral("赤");
        const BatchPlan plan = planBatch(numbered(jobs));
        writeFile(names[1], readFile(names[1]).left(readFile(names[1]).size() / 2));
        QFile::remove(names[3]);
        QFile::remove(names[4]);
        QCOMPARE(::mkfifo(QFile::encodeName(names[4]).constData(), 0600), 0);

        QList<int> order;
        BatchPipeline pipeline;
        connect(&pipeline, &BatchPipeline::rowDone, this, [&](const RowOutcome &o) { order << o.row; });
        int finished = 0;
        connect(&pipeline, &BatchPipeline::finished, this, [&] { ++finished; });
        const BatchSummary summary = pipeline.run(plan);
        QCOMPARE(finished, 1);
        QCOMPARE(order, QList<int>({1, 2, 3, 4, 5, 6}));
        QCOMPARE(summary.saved, 2);
        for (int i : {1, 6})
            QCOMPARE(decodePicture(m_root + QStringLiteral("p%1_b.jpg").arg(i)).size, QSize(40 + i, 30));
        QList<std::pair<int, QString>> problems;
        for (const RowOutcome &o : summary.problems) {
            QCOMPARE(o.status, Status::Failed);
            problems.append({o.row, o.reason});
        }
        QCOMPARE(problems.size(), 4);
        const QStringList says = {QStringLiteral("途中で切れて"), QStringLiteral("背景色"),
                                  QStringLiteral("見つかりません"), QStringLiteral("FIFO")};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(problems[i].first, QList<int>({2, 3, 4, 5})[i]);
            QVERIFY2(problems[i].second.contains(says[i]), qPrintable(problems[i].second));
        }
        const QStringList written = QDir(m_root).entryList({QStringLiteral("*_b.jpg")}, QDir::Files | QDir::Hidden);
        QCOMPARE(written, QStringList({QStringLiteral("p1_b.jpg"), QStringLiteral("p6_b.jpg")}));
    }

    // A large first row, small ones after it: the workers finish them out of order,
    // the files still appear in table order, and nothing is left half-written.
    void filesAppearInTableOrder()
    {
        QList<JobRow> jobs;
        for (int i = 0; i < 6; ++i) {
            const QString name = m_root + QStringLiteral("p%1.jpg").arg(i);
            writeFile(name, i == 0 ? jpeg(noise(2400, 1800), 95) : jpeg(quadrants(40, 30)));
            jobs.append(job(name, m_root));
        }
        QList<int> order;
        BatchPipeline pipeline;
        connect(&pipeline, &BatchPipeline::rowDone, this, [&](const RowOutcome &o) { order << o.row; });
        QCOMPARE(pipeline.run(planBatch(numbered(jobs))).saved, 6);
        QCOMPARE(order, QList<int>({1, 2, 3, 4, 5, 6}));
        for (int i = 0; i + 1 < 6; ++i)
            QVERIFY(modified(QStringLiteral("p%1_b.jpg").arg(i)) <= modified(QStringLiteral("p%1_b.jpg").arg(i + 1)));
    }

    // A cancel after the first written row: the rows in flight are finished, the
    // rest never start, and exactly the rows reported written are on disk.
    void cancelKeepsWhatWasWritten()
    {
        QList<JobRow> jobs;
        for (int i = 0; i < 12; ++i) {
            const QString name = m_root + QStringLiteral("p%1.jpg").arg(i);
            writeFile(name, jpeg(noise(600, 400), 90));
            jobs.append(job(name, m_root));
        }
        QStringList written;
        BatchPipeline pipeline;
        connect(&pipeline, &BatchPipeline::rowDone, this, [&](const RowOutcome &o) {
            written << QFileInfo(o.output).fileName();
            pipeline.cancel();
        });
        const BatchSummary summary = pipeline.run(planBatch(numbered(jobs)));
        QVERIFY(summary.notStarted > 0);
        QCOMPARE(summary.saved + summary.notStarted, 12);
        QCOMPARE(written.size(), summary.saved);
        QStringList onDisk = QDir(m_root).entryList({QStringLiteral("*_b.jpg")}, QDir::Files);
        QCOMPARE(onDisk, written);
        // No temporary file is left beside the outputs.
        QCOMPARE(QDir(m_root).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".kestrovia")), QStringList());
    }

    // The window paints through Qt's global pool and waits for it: a run must leave
    // that pool free, not hold it until its last rows.
    void qtPoolStaysFree()
    {
        const QByteArray photo = jpeg(noise(1600, 1200), 90);
        const int threads = QThread::idealThreadCount();
        const int rows = 4 * threads;
        QList<JobRow> jobs;
        for (int i = 0; i < rows; ++i) {
            const QString name = m_root + QStringLiteral("p%1.jpg").arg(i);
            writeFile(name, photo);
            jobs.append(job(name, m_root));
        }
        BatchPipeline pipeline;
        std::atomic<int> done = 0;
        connect(&pipeline, &BatchPipeline::rowDone, this, [&] { ++done; }, Qt::DirectConnection);
        pipeline.start(planBatch(numbered(jobs)));
        std::atomic<int> doneWhenRan{-1};
        QSemaphore ran;
        QThreadPool::globalInstance()->start([&] {
            doneWhenRan = done.load();
            ran.release();
        });
        QVERIFY(ran.tryAcquire(1, 60000));
        QVERIFY2(doneWhenRan < rows - threads, qPrintable(QString::number(doneWhenRan)));
    }

private:
    qint64 modified(const QString &name) const
    {
        struct stat st{};
        ::stat(QFile::encodeName(m_root + name).constData(), &st);
        return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    static QImage noise(int w, int h)
    {
        QImage img(w, h, QImage::Format_RGB32);
        quint32 seed = 7;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                seed = seed * 1103515245u + 12345u;
                img.setPixel(x, y, qRgb(int(seed >> 24), int(seed >> 16) & 255, x & 255));
            }
        return img;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;
};

QTEST_GUILESS_MAIN(TestBatchPipeline)
#include "tst_batchpipeline.moc"
