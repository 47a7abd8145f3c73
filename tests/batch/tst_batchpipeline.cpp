// The batch without a window: what the plan decides about every output, and a run
// that goes on past the rows that fail.

#include "batch/batchpipeline.h"
#include "batch/batchplan.h"
#include "compose/jobcompose.h"
#include "compose/picturedecoder.h"
#include "compose/pictureprobe.h"
#include "compose/quickpicture.h"
#include "export/programmark.h"
#include "export/writers.h"
#include "tests/common/camerametadata.h"
#include "tests/common/formatreaders.h"
#include "tests/common/jobrows.h"
#include "tests/common/retouch.h"
#include "tests/common/runbatch.h"

#include <QDir>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

#include <atomic>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace kestrovia;
using namespace testpics;
using Fate = PlannedRow::Fate;
using Status = RowOutcome::Status;

namespace {

// Rows of the given sources into folder, numbered from 1 as in the table.
BatchPlan plan(const QStringList &sources, const QString &folder)
{
    QList<std::pair<int, JobRow>> rows;
    for (const QString &path : sources)
        rows.append({int(rows.size()) + 1, testui::jobFor(path, folder)});
    return planBatch(rows);
}

} // namespace

class TestBatchPipeline : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;

    // Writes the named sources into the test's folder; returns their paths.
    QStringList sources(const QStringList &names, const QByteArray &data)
    {
        QStringList paths;
        for (const QString &name : names) {
            paths << m_root + name;
            writeFile(paths.last(), data);
        }
        return paths;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_root = m_dir->path() + u'/';
    }

    // holiday.bmp converts to holiday.jpg, the name of the photo beside it that is a
    // row too: that output is skipped and the photo kept. An output reached through a
    // link is judged by the file it is; a link is never an output of ours.
    void outputsThatAreSources_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("fate");
        QTest::newRow("holiday.jpg a row itself") << "" << int(Fate::Skip);
        QTest::newRow("symbolic link to a row's source") << "symlink-source" << int(Fate::Skip);
        QTest::newRow("hard link to a row's source") << "hardlink-source" << int(Fate::Skip);
        QTest::newRow("symbolic link elsewhere") << "symlink-other" << int(Fate::Skip);
    }
    void outputsThatAreSources()
    {
        QFETCH(QString, link);
        QFETCH(int, fate);
        const QByteArray photo = jpeg(quadrants(64, 48));
        const QString second = link.isEmpty() ? "holiday.jpg" : "b.jpg", out = m_root + "holiday.jpg";
        const QStringList rows = sources({"holiday.bmp"}, bmp(quadrants(40, 30), 24)) + sources({second}, photo);
        writeFile(m_root + QStringLiteral("other.txt"), "other");
        const QByteArray target = QFile::encodeName(m_root + (link.endsWith("other") ? "other.txt" : second));
        if (!link.isEmpty())
            QCOMPARE((link.startsWith("hard") ? ::link : ::symlink)(target, QFile::encodeName(out)), 0);

        const BatchPlan p = plan(rows, m_root);
        QCOMPARE(p.rows[0].fate, Fate(fate));
        QCOMPARE(p.rows[1].fate, Fate::Write);
        const BatchSummary summary = testbatch::runBatch(p); // a Replace row counts as agreed to here
        QCOMPARE(readFile(m_root + second), photo);
        QCOMPARE(readFile(m_root + QStringLiteral("other.txt")), QByteArray("other"));
        if (fate == int(Fate::Skip)) {
            QVERIFY2(p.rows[0].reason.contains(QStringLiteral("元の画像")), qPrintable(p.rows[0].reason));
            QCOMPARE(summary.saved, 1);
            QCOMPARE(summary.problems.size(), 1);
            QCOMPARE(summary.problems[0].status, Status::Skipped);
            QCOMPARE(summary.problems[0].fileName, QStringLiteral("holiday.bmp"));
        } else {
            QVERIFY(!QFileInfo(out).isSymLink());
            QCOMPARE(decodePicture(out).size, QSize(40, 30));
        }
    }

    // A phone's export holds IMG_0001.HEIC beside IMG_0001.JPG; the HEIC's output is
    // IMG_0001.jpg, one file with the JPG on a memory card. A file that is not an
    // unchanged earlier output is never replaced, nor written beside under a name
    // that differs only in case, whatever the user answers; an earlier output
    // (marked, as written) is offered for replacing, under the name it has.
    void originalsAreNeverReplaced_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("existing"); // what stands at the output
        QTest::addColumn<QString>("name"); // its name; "": the output's own
        QTest::addColumn<QString>("says"); // in the reason when it is kept; "": it is ours
        const QString original = QStringLiteral("Kestrovia が書き出したファイルではない"),
                      changed = QStringLiteral("書き出した後に変更されている");
        for (const bool overwrite : {true, false}) {
            const char *answer = overwrite ? "上書き" : "スキップ";
            const auto row = [&](const char *what) -> QTestData & { return QTest::addRow("%s, %s", what, answer); };
            row("HEIC beside its jpg original") << "IMG_0001.HEIC"
                                                << "original"
                                                << "" << original;
            row("HEIC beside its JPG original") << "IMG_0001.HEIC"
                                                << "original"
                                                << "IMG_0001.JPG" << original;
            row("png beside a jpg") << "photo.png"
                                    << "original"
                                    << "" << original;
            row("an earlier output") << "photo.png"
                                     << "output"
                                     << ""
                                     << "";
            row("an earlier output under another case") << "photo.png"
                                                        << "output"
                                                        << "Photo.JPG"
                                                        << "";
            row("an earlier output copied without its attribute") << "photo.png"
                                                                  << "output without attribute"
                                                                  << ""
                                                                  << "";
            row("an earlier output, touched") << "photo.png"
                                              << "output touched"
                                              << ""
                                              << "";
            row("an earlier output, a byte of its EXIF changed") << "photo.png"
                                                                 << "output retouched"
                                                                 << "" << changed;
            row("an earlier output, saved again by an editor") << "photo.png"
                                                               << "output saved again"
                                                               << "" << changed;
            row("an earlier output under another case, saved again") << "photo.png"
                                                                     << "output saved again"
                                                                     << "PHOTO.jpg" << changed;
        }
    }
    void originalsAreNeverReplaced()
    {
        QFETCH(QString, source);
        QFETCH(QString, existing);
        QFETCH(QString, name);
        QFETCH(QString, says);
        const bool overwrite = QString::fromUtf8(QTest::currentDataTag()).endsWith(QStringLiteral("上書き"));
        const QString output = QFileInfo(source).completeBaseName() + QStringLiteral(".jpg");
        if (name.isEmpty())
            name = output;
        const QString out = m_root + name;
        const QStringList rows = sources({source}, bmp(quadrants(40, 30), 24));
        if (existing == "original") {
            writeFile(out, withCameraMetadata(jpeg(noise(80, 60)))); // a camera's, with every tag but ours
        } else {
            QCOMPARE(testbatch::runBatch(plan(rows, m_root)).saved, 1);
            QVERIFY(QFile::rename(m_root + output, out) || name == output);
            QTRY_VERIFY(clockPassed(out));
            if (existing == "output without attribute")
                ::removexattr(QFile::encodeName(out).constData(), kOutputAttribute);
            else if (existing == "output touched")
                QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(out).constData(), nullptr, 0), 0);
            else if (existing == "output retouched")
                QVERIFY(changeInPlace(out, "Kestrovia", "Kestrovix")); // the EXIF's Software
            else if (existing == "output saved again")
                QVERIFY(saveAgain(out));
        }
        const QByteArray before = readFile(out);
        const QStringList files = QDir(m_root).entryList(QDir::Files | QDir::Hidden);

        BatchPlan p = plan(rows, m_root);
        const bool ours = says.isEmpty();
        QCOMPARE(p.rows[0].fate, ours ? Fate::Replace : Fate::Skip);
        QCOMPARE(p.replacing(), ours ? 1 : 0);
        QCOMPARE(p.replacedNames(3), ours ? QStringList{name} : QStringList());
        QCOMPARE(p.notOursNames(3), ours ? QStringList() : QStringList{name});
        p.rows[0].job.compression = QStringLiteral("0"); // another file than the earlier output
        if (!overwrite)
            p.skipReplacing();
        const BatchSummary summary = testbatch::runBatch(p);
        // Nothing is written beside the file under the output's own name.
        QCOMPARE(QDir(m_root).entryList(QDir::Files | QDir::Hidden), files);
        if (ours && overwrite) {
            QCOMPARE(summary.saved, 1);
            QVERIFY(readFile(out) != before);
            QVERIFY(isKestroviaOutput(out));
            return;
        }
        QCOMPARE(readFile(out), before);
        QCOMPARE(summary.saved, 0);
        QCOMPARE(summary.problems.size(), 1);
        QCOMPARE(summary.problems[0].status, Status::Skipped);
        const QString reason = summary.problems[0].reason;
        QVERIFY2(reason.contains(name), qPrintable(reason));
        QVERIFY2(reason.contains(says), qPrintable(reason));
        if (!ours) {
            QVERIFY2(reason.contains(QStringLiteral("別の保存先フォルダ")), qPrintable(reason));
            QCOMPARE(reason.contains(QStringLiteral("大文字・小文字")), name != output);
        }
    }

    // Files that appear after the plan: a new output never replaces one, and an
    // earlier output swapped for another file is not replaced either. The rows are
    // named; the other rows are written.
    void lateFilesAreNotReplaced_data()
    {
        QTest::addColumn<bool>("earlierOutput");
        QTest::newRow("a new output's name taken") << false;
        QTest::newRow("an earlier output swapped for another file") << true;
    }
    void lateFilesAreNotReplaced()
    {
        QFETCH(bool, earlierOutput);
        const QStringList rows = sources({"a.bmp", "b.bmp"}, bmp(quadrants(40, 30), 24));
        if (earlierOutput)
            QCOMPARE(testbatch::runBatch(plan(rows, m_root)).saved, 2);
        const BatchPlan p = plan(rows, m_root);
        QCOMPARE(p.rows[0].fate, earlierOutput ? Fate::Replace : Fate::Write);
        const QString late = m_root + QStringLiteral("a.jpg");
        QFile::remove(late);
        writeFile(late, "someone else's");
        const BatchSummary summary = testbatch::runBatch(p);
        QCOMPARE(readFile(late), QByteArray("someone else's"));
        QCOMPARE(summary.saved, 1);
        QCOMPARE(summary.problems.size(), 1);
        QCOMPARE(summary.problems[0].status, Status::NameTaken);
        QCOMPARE(summary.problems[0].row, 1);
        QVERIFY2(summary.problems[0].reason.contains(QStringLiteral("a.jpg")), qPrintable(summary.problems[0].reason));
        QVERIFY(isKestroviaOutput(m_root + QStringLiteral("b.jpg")));
    }

    // What a killed run left in a destination folder goes with the next run into
    // it; a write in progress elsewhere (its process runs) stays.
    void leftoversGoWithTheNextRun()
    {
        const pid_t dead = ::fork();
        if (dead == 0)
            ::_exit(0);
        ::waitpid(dead, nullptr, 0);
        const QString leftover = QStringLiteral(".kestrovia-%1-AbC123").arg(dead),
                      inProgress = QStringLiteral(".kestrovia-%1-AbC123").arg(::getppid());
        writeFile(m_root + leftover, "partial");
        writeFile(m_root + inProgress, "partial");
        QCOMPARE(testbatch::runBatch(plan(sources({"a.bmp"}, bmp(quadrants(40, 30), 24)), m_root)).saved, 1);
        QVERIFY(!QFileInfo::exists(m_root + leftover));
        QVERIFY(QFileInfo::exists(m_root + inProgress));
    }

    // Rows whose outputs are one file: the first is written, the later ones are
    // planned as skipped, named with the first, and never write over it.
    void rowsWithOneOutput_data()
    {
        QTest::addColumn<QStringList>("names"); // the rows' sources, "@" for the test's folder
        QTest::addColumn<QStringList>("folders"); // their destinations
        QTest::addColumn<bool>("sameSource");
        const QString out = QStringLiteral("@out/");
        QTest::newRow("the same picture added twice") << QStringList{"a.bmp", "a.bmp"} << QStringList{out, out} << true;
        QTest::newRow("the same folder spelled two ways")
            << QStringList{"a.bmp", "one/a.bmp"} << QStringList{out, "@one/../out/"} << false;
        QTest::newRow("photo.png and photo.bmp")
            << QStringList{"photo.png", "photo.bmp"} << QStringList{out, out} << false;
        QTest::newRow("names that differ in case")
            << QStringList{"IMG_1.JPG", "img_1.jpg"} << QStringList{out, out} << false;
    }
    void rowsWithOneOutput()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, folders);
        QFETCH(bool, sameSource);
        QVERIFY(QDir(m_root).mkpath(QStringLiteral("one")) && QDir(m_root).mkpath(QStringLiteral("out")));
        QList<std::pair<int, JobRow>> rows;
        for (int i = 0; i < 2; ++i) {
            const QString source = m_root + names[i];
            if (!QFileInfo::exists(source))
                writeFile(source, bmp(quadrants(40 - 20 * i, 30 - 20 * i), 24));
            rows.append({i + 1, testui::jobFor(source, folders[i].replace(u'@', m_root))});
        }
        const BatchPlan p = planBatch(rows);
        QCOMPARE(p.rows[0].fate, Fate::Write);
        QCOMPARE(p.rows[1].fate, Fate::Skip);
        QCOMPARE(p.rows[1].sameAs, 1);
        QVERIFY2(p.rows[1].reason.contains(QStringLiteral("1行目")), qPrintable(p.rows[1].reason));
        QCOMPARE(p.sameOutputs.size(), 1);
        QCOMPARE(p.sameOutputs[0].rows, QList<int>({0, 1}));
        QCOMPARE(p.sameOutputs[0].sameSource, sameSource);
        const BatchSummary summary = testbatch::runBatch(p);
        QCOMPARE(summary.saved, 1);
        const QStringList written = QDir(m_root + QStringLiteral("out")).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(written.size(), 1);
        QCOMPARE(decodePicture(m_root + QStringLiteral("out/") + written[0]).size, QSize(40, 30));
    }

    // A destination folder that does not exist is planned as empty and made, with
    // its parents, once the user agreed; one that cannot be made fails its rows with
    // the reason, and the other rows are written.
    void missingFoldersAreMade()
    {
        const QStringList names = sources({"a.bmp", "b.bmp", "c.bmp"}, bmp(quadrants(40, 30), 24));
        const QStringList folders = {m_root + QStringLiteral("新しい/フォルダ/"), m_root + QStringLiteral("later/"),
                                     m_root + QStringLiteral("新しい/フォルダ/")};
        QList<std::pair<int, JobRow>> rows;
        for (int i = 0; i < 3; ++i)
            rows.append({i + 1, testui::jobFor(names[i], folders[i])});
        BatchPlan p = planBatch(rows);
        for (const PlannedRow &r : p.rows)
            QCOMPARE(r.fate, Fate::Write);
        QCOMPARE(p.missingFolders(),
                 QStringList({m_root + QStringLiteral("新しい/フォルダ"), m_root + QStringLiteral("later")}));
        QVERIFY(!QFileInfo::exists(m_root + QStringLiteral("新しい")));
        writeFile(m_root + QStringLiteral("later"), "a file took the folder's name meanwhile");

        p.createMissingFolders();
        QVERIFY(p.missingFolders().isEmpty());
        QCOMPARE(p.rows[1].fate, Fate::Fail);
        QVERIFY2(p.rows[1].reason.contains(QStringLiteral("later"))
                     && p.rows[1].reason.contains(QStringLiteral("作成")),
                 qPrintable(p.rows[1].reason));
        struct stat st { };
        QCOMPARE(::stat(QFile::encodeName(folders[0]).constData(), &st), 0);
        const mode_t umask = ::umask(0);
        ::umask(umask);
        QCOMPARE(st.st_mode & 0777, 0777 & ~umask);
        const BatchSummary summary = testbatch::runBatch(p);
        QCOMPARE(summary.saved, 2);
        QCOMPARE(QDir(folders[0]).entryList(QDir::Files), QStringList({"a.jpg", "c.jpg"}));
        QCOMPARE(summary.problems.size(), 1);
        QCOMPARE(summary.problems[0].row, 2);
    }

    // clang-format off
    void unusableFolders_data()
    {
        QTest::addColumn<QString>("folder"); // "@" stands for the test's folder
        QTest::addColumn<QString>("says");
        QTest::newRow("empty") << "" << "指定されていません";
        QTest::newRow("a file") << "@a.bmp/" << "ありません";
        QTest::newRow("a folder at the output") << "@taken/" << "フォルダがあります";
        QTest::newRow("read-only") << "@locked/" << "権限";
        QTest::newRow("read-only drive") << "@card/" << "読み取り専用";
    }
    // clang-format on
    void unusableFolders()
    {
        QFETCH(QString, folder);
        QFETCH(QString, says);
        if (folder == "@locked/" && ::geteuid() == 0)
            QSKIP("root may write into read-only folders");
        const QStringList rows = sources({"a.bmp"}, bmp(quadrants(40, 30), 24));
        QVERIFY(QDir(m_root).mkpath(QStringLiteral("taken/a.jpg")) && QDir(m_root).mkpath(QStringLiteral("locked")));
        QFile::setPermissions(m_root + QStringLiteral("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const QByteArray card = QFile::encodeName(m_root + QStringLiteral("card"));
        if (folder == "@card/") {
            QVERIFY(QDir(m_root).mkpath(QStringLiteral("card")));
            if (::mount("tmpfs", card.constData(), "tmpfs", MS_RDONLY, "size=16k") != 0)
                QSKIP("cannot mount a read-only file system here (needs root)");
        }
        const auto unmount = qScopeGuard([&] { ::umount(card.constData()); });
        const BatchPlan p = plan(rows, folder.replace(u'@', m_root));
        QCOMPARE(p.rows[0].fate, Fate::Fail);
        QVERIFY2(p.rows[0].reason.contains(says), qPrintable(p.rows[0].reason));
    }

    // Six rows; the second is damaged, the third's colour is no number, the fourth's
    // source is gone and the fifth's a FIFO by the time the run starts: the others
    // are all written, each at its own level, and every row is reported, in order.
    void badRowsDoNotCostTheRest()
    {
        QStringList names;
        for (int i = 1; i <= 6; ++i)
            names += sources({QStringLiteral("p%1.jpg").arg(i)}, jpeg(noise(200 + i, 150)));
        BatchPlan p = plan(names, m_root);
        p.rows[2].job.backColor = QStringLiteral("赤");
        p.rows[0].job.compression = QStringLiteral("0");
        p.rows[5].job.compression = QStringLiteral("10");
        writeFile(names[1], readFile(names[1]).left(readFile(names[1]).size() / 2));
        QFile::remove(names[3]);
        QFile::remove(names[4]);
        QCOMPARE(::mkfifo(QFile::encodeName(names[4]).constData(), 0600), 0);

        QList<int> order;
        int finished = 0;
        BatchPipeline pipeline;
        connect(&pipeline, &BatchPipeline::rowDone, this, [&](const RowOutcome &o) { order << o.row; });
        connect(&pipeline, &BatchPipeline::finished, this, [&] { ++finished; });
        const BatchSummary summary = testbatch::runBatch(pipeline, p);
        QCOMPARE(finished, 1);
        QCOMPARE(order, QList<int>({1, 2, 3, 4, 5, 6}));
        QCOMPARE(summary.saved, 2);
        for (int i : {1, 6})
            QCOMPARE(decodePicture(m_root + QStringLiteral("p%1_b.jpg").arg(i)).size, QSize(200 + i, 150));
        QVERIFY(2 * QFileInfo(m_root + "p6_b.jpg").size() < QFileInfo(m_root + "p1_b.jpg").size());
        const QStringList says{"途中で切れて", "背景色", "見つかりません", "FIFO"};
        QCOMPARE(summary.problems.size(), 4);
        for (int i = 0; i < 4; ++i) {
            const RowOutcome &o = summary.problems[i];
            QCOMPARE(o.status, Status::Failed);
            QCOMPARE(o.row, i + 2);
            QVERIFY2(o.reason.contains(says[i]), qPrintable(o.reason));
        }
        QCOMPARE(QDir(m_root).entryList({QStringLiteral("*_b.jpg")}, QDir::Files | QDir::Hidden),
                 QStringList({"p1_b.jpg", "p6_b.jpg"}));
    }

    // A large first row, small ones after it: the workers finish them out of order,
    // the files still appear in table order, and nothing is left half-written.
    void filesAppearInTableOrder()
    {
        const QByteArray small = jpeg(quadrants(40, 30));
        const QStringList names = sources({"p0.jpg"}, jpeg(noise(2400, 1800), 95))
                                  + sources({"p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg", "p5.jpg"}, small);
        QList<int> order;
        BatchPipeline pipeline;
        connect(&pipeline, &BatchPipeline::rowDone, this, [&](const RowOutcome &o) { order << o.row; });
        QCOMPARE(testbatch::runBatch(pipeline, plan(names, m_root)).saved, 6);
        QCOMPARE(order, QList<int>({1, 2, 3, 4, 5, 6}));
        const auto modified = [&](int i) {
            struct stat st { };
            ::stat(QFile::encodeName(m_root + QStringLiteral("p%1_b.jpg").arg(i)).constData(), &st);
            return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        };
        for (int i = 0; i + 1 < 6; ++i)
            QVERIFY(modified(i) <= modified(i + 1));
    }

    // A cancel after the first written row: the rows in flight stop or are
    // finished, the rest never start, and exactly the rows reported written are on
    // disk.
    void cancelKeepsWhatWasWritten()
    {
        QStringList names;
        for (int i = 0; i < 12; ++i)
            names << QStringLiteral("p%1.jpg").arg(i, 2, 10, QChar(u'0'));
        QStringList written;
        BatchPipeline pipeline;
        connect(&pipeline, &BatchPipeline::rowDone, this, [&](const RowOutcome &o) {
            if (o.status == RowOutcome::Status::Saved)
                written << QFileInfo(o.output).fileName();
            pipeline.cancel();
        });
        const BatchSummary summary =
            testbatch::runBatch(pipeline, plan(sources(names, jpeg(noise(600, 400), 90)), m_root));
        QVERIFY(summary.notStarted > 0);
        QCOMPARE(summary.saved + summary.notStarted, 12);
        QCOMPARE(written.size(), summary.saved);
        QCOMPARE(QDir(m_root).entryList({QStringLiteral("*_b.jpg")}, QDir::Files), written);
        // No temporary file is left beside the outputs.
        QCOMPARE(QDir(m_root).entryList(QDir::Files | QDir::Hidden).filter(".kestrovia"), QStringList());
    }

    // The window paints through Qt's global pool and waits for it: a run must leave
    // that pool free, not hold it until its last rows.
    void qtPoolStaysFree()
    {
        const int threads = QThread::idealThreadCount();
        const int rows = 4 * threads;
        QStringList names;
        for (int i = 0; i < rows; ++i)
            names << QStringLiteral("p%1.jpg").arg(i);
        const QStringList paths = sources(names, jpeg(noise(1600, 1200), 90));
        BatchPipeline pipeline;
        std::atomic<int> done = 0;
        connect(
            &pipeline, &BatchPipeline::rowDone, this, [&] { ++done; }, Qt::DirectConnection);
        pipeline.start(plan(paths, m_root));
        std::atomic<int> doneWhenRan{-1};
        QSemaphore ran;
        QThreadPool::globalInstance()->start([&] {
            doneWhenRan = done.load();
            ran.release();
        });
        QVERIFY(ran.tryAcquire(1, 60000));
        QVERIFY2(doneWhenRan < rows - threads, qPrintable(QString::number(doneWhenRan)));
    }

    // The source's EXIF goes into the output through either route: its date kept,
    // its turn now in the pixels (orientation 1).
    void carriesTheSourceMetadata_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSize>("size");
        QTest::newRow("turned by EXIF: the RGB route") << 6 << QSize(20, 40);
        QTest::newRow("upright: the colour-plane route") << 1 << QSize(40, 20);
    }
    void carriesTheSourceMetadata()
    {
        QFETCH(int, orientation);
        Exiv2::ExifData exif = cameraExif();
        exif["Exif.Image.Orientation"] = std::uint16_t(orientation);
        const QStringList rows = sources({"p.jpg"}, withCameraMetadata(jpeg(quadrants(40, 20)), false, exif));
        QCOMPARE(testbatch::runBatch(plan(rows, m_root)).saved, 1);
        const QByteArray out = readFile(m_root + QStringLiteral("p_b.jpg"));
        QTEST(decodePictureData(out).size, "size");
        QCOMPARE(readBack(out).exif("Exif.Photo.DateTimeOriginal"), "2024:05:06 07:08:09");
        QCOMPARE(readBack(out).exif("Exif.Image.Orientation"), "1");
    }

    // Size rules on the files written: the rule asks of the picture as it will be
    // written, after the EXIF turn and the row's own; a size no output can have
    // fails its row with the rule named, and the other rows are written.
    // clang-format off
    void sizeRulesOnWrittenFiles_data()
    {
        QTest::addColumn<QSize>("stored");
        QTest::addColumn<int>("orientation"); // EXIF
        QTest::addColumn<QString>("rule");
        QTest::addColumn<int>("turn");
        QTest::addColumn<bool>("stretched");
        QTest::addColumn<QSize>("written"); // invalid: the row fails
        const QSize photo(1001, 667);
        QTest::newRow("long edge") << photo << 1 << "long 500" << 0 << false << QSize(500, 333);
        QTest::newRow("long edge, turned +90") << photo << 1 << "long 500" << 90 << false << QSize(333, 500);
        QTest::newRow("long edge, EXIF turn") << photo << 6 << "long 500" << 0 << false << QSize(333, 500);
        QTest::newRow("long edge, EXIF turn and -90") << photo << 6 << "long 500" << 270 << false << QSize(500, 333);
        QTest::newRow("half, halves up") << photo << 1 << "percent 50" << 0 << false << QSize(501, 334);
        QTest::newRow("half, turned +90") << photo << 1 << "percent 50" << 90 << false << QSize(334, 501);
        QTest::newRow("own size, turned +90") << photo << 1 << "original" << 90 << false << QSize(667, 1001);
        QTest::newRow("shrink only, stretched") << QSize(600, 500) << 1 << "640*480 shrink" << 0 << true
                                                << QSize(600, 450);
        QTest::newRow("shrink only, long edge larger") << QSize(600, 500) << 1 << "long 800 shrink" << 0 << false
                                                       << QSize(600, 500);
        QTest::newRow("1000 % of 3400 x 2000") << QSize(3400, 2000) << 1 << "percent 1000" << 0 << false << QSize();
    }
    // clang-format on
    void sizeRulesOnWrittenFiles()
    {
        QFETCH(QSize, stored);
        QFETCH(int, orientation);
        QFETCH(QString, rule);
        QFETCH(int, turn);
        QFETCH(bool, stretched);
        QFETCH(QSize, written);
        const QByteArray picture = withExifOrientation(jpeg(quadrants(stored.width(), stored.height())), orientation);
        const QStringList paths = sources({"p.jpg", "other.jpg"}, picture);
        RowSettings settings;
        rowField(RowField::Size).read(settings, rule);
        rowField(RowField::ShrinkOnly).read(settings, rule);
        settings.turn = std::int16_t(turn);
        settings.keepAspect = !stretched;
        // As a drop makes the rows: the picture's upright size from its header.
        QList<std::pair<int, JobRow>> rows;
        for (const QString &path : paths) {
            JobRow row = testui::jobFor(path, m_root);
            row.originalSize = sizeText(probePicture(path).size);
            writeRowSettings(row, settings);
            rows.append({int(rows.size()) + 1, row});
        }
        rows[1].second.sizeRule = "original"; // a row beside it that can be written
        rows[1].second.newSize.clear();

        const BatchSummary summary = testbatch::runBatch(planBatch(rows));

        QCOMPARE(summary.saved, written.isValid() ? 2 : 1);
        if (written.isValid()) {
            QCOMPARE(summary.problems.size(), 0);
            QCOMPARE(decodePicture(m_root + "p_b.jpg").size, written);
        } else {
            QCOMPARE(summary.problems.size(), 1);
            QVERIFY2(summary.problems[0].reason.contains("1000 %"), qPrintable(summary.problems[0].reason));
            QVERIFY(!QFile::exists(m_root + "p_b.jpg"));
        }
    }

    // Rows named by their pattern, in their format, on the files written: the default
    // gives the names outputs always had; the fields take the source's name, the
    // output's size (the new size, or the picture's own), the row's number and the
    // date taken (or the file's, for a picture that does not say).
    // clang-format off
    void namesByPattern_data()
    {
        QTest::addColumn<QString>("pattern"); // empty: the row's cell left empty
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("size"); // the new size; empty: the picture's own
        QTest::addColumn<QString>("source"); // "camera": with a date taken
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("outputs");
        const int jpeg = int(OutputFormat::Jpeg), webp = int(OutputFormat::WebP), avif = int(OutputFormat::Avif),
                  png = int(OutputFormat::Png);
        QTest::newRow("no pattern: today's names") << "" << jpeg << "" << ""
            << QStringList{"photo.jpg", "logo.PNG", "scan.v2.tif", "IMG_1.jpeg"}
            << QStringList{"IMG_1_b.jpg", "logo.jpg", "photo_b.jpg", "scan.v2.jpg"};
        QTest::newRow("default, PNG") << "{名前}{_b}" << png << "" << ""
            << QStringList{"photo.jpg", "logo.PNG"} << QStringList{"logo_b.png", "photo.png"};
        QTest::newRow("default, WebP") << "{名前}{_b}" << webp << "" << ""
            << QStringList{"photo.JPG", "still.webp"} << QStringList{"photo.webp", "still_b.webp"};
        QTest::newRow("new size") << "{名前}_{幅}x{高さ}" << jpeg << "40*30" << ""
            << QStringList{"a.jpg"} << QStringList{"a_40x30.jpg"};
        QTest::newRow("own size") << "{name}_{width}x{height}" << webp << "" << ""
            << QStringList{"a.jpg"} << QStringList{"a_64x48.webp"};
        QTest::newRow("running number") << "img{n:3}" << avif << "" << ""
            << QStringList{"x.jpg", "y.jpg", "z.jpg"} << QStringList{"img001.avif", "img002.avif", "img003.avif"};
        QTest::newRow("date taken") << "{撮影日}_{名前}" << jpeg << "" << "camera"
            << QStringList{"a.jpg"} << QStringList{"20240506_a.jpg"};
        QTest::newRow("date and time taken") << "{date:yyyy-MM-dd_HHmmss}" << png << "" << "camera"
            << QStringList{"a.jpg"} << QStringList{"2024-05-06_070809.png"};
        QTest::newRow("no date taken: the file's") << "{撮影日}_{名前}" << jpeg << "" << ""
            << QStringList{"a.jpg"} << QStringList{"20210304_a.jpg"};
    }
    // clang-format on
    void namesByPattern()
    {
        QFETCH(QString, pattern);
        QFETCH(int, format);
        QFETCH(QString, size);
        QFETCH(QString, source);
        QFETCH(QStringList, names);
        const QByteArray picture = jpeg(quadrants(64, 48));
        const QStringList paths = sources(names, source == "camera" ? withCameraMetadata(picture) : picture);
        QVERIFY(QDir().mkpath(m_root + "out"));
        QList<std::pair<int, JobRow>> rows;
        for (const QString &path : paths) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7)), QFileDevice::FileModificationTime));
            JobRow row = testui::jobFor(path, m_root + "out/");
            row.newSize = size;
            row.namePattern = pattern;
            rows.append({int(rows.size()) + 1, testui::writtenAs(row, OutputFormat(format))});
        }
        const BatchSummary summary = testbatch::runBatch(planBatch(rows));
        QCOMPARE(summary.problems.size(), 0);
        QTEST(QDir(m_root + "out").entryList(QDir::Files, QDir::Name), "outputs");
    }

    // Rows that a pattern gives one output are named before the run as rows with
    // one output are (names that differ only in case among them), and only the
    // first is written; a name that cannot be a file's fails its row at the plan.
    void patternsBeforeTheRun()
    {
        const QByteArray picture = jpeg(quadrants(40, 30));
        const QStringList paths = sources({"A.jpg", "a.png", "b.jpg", QString(250, u'c') + ".jpg", "d.jpg"}, picture);
        QList<std::pair<int, JobRow>> rows;
        for (const auto &[path, pattern] : {std::pair{paths[0], "{名前}"}, {paths[1], "{名前}"}, {paths[2], "{名前}"},
                                            {paths[3], "{名前}_{n:9}"}, {paths[4], "{名前}/{n}"}}) {
            JobRow row = testui::jobFor(path, m_root + "out/");
            row.namePattern = QString::fromUtf8(pattern);
            rows.append({int(rows.size()) + 1, row});
        }
        QVERIFY(QDir().mkpath(m_root + "out"));
        BatchPlan plan = planBatch(rows);
        QCOMPARE(plan.sameOutputs.size(), 1);
        QCOMPARE(plan.sameOutputs[0].rows, QList<int>({0, 1}));
        QCOMPARE(plan.rows[1].fate, Fate::Skip);
        QCOMPARE(plan.rows[1].sameAs, 1);
        QCOMPARE(plan.rows[3].fate, Fate::Fail);
        QVERIFY2(plan.rows[3].reason.contains("255"), qPrintable(plan.rows[3].reason));
        QCOMPARE(plan.rows[4].fate, Fate::Fail);
        QVERIFY2(plan.rows[4].reason.contains("「/」"), qPrintable(plan.rows[4].reason));
        const BatchSummary summary = testbatch::runBatch(plan);
        QCOMPARE(summary.saved, 2);
        QCOMPARE(QDir(m_root + "out").entryList(QDir::Files, QDir::Name), QStringList({"A.jpg", "b.jpg"}));
    }

    // One batch writes every format side by side, on the workers' threads: each
    // file under its own name, read back by its own library.
    void aBatchOfEveryFormat()
    {
        const QString source = sources({"photo.jpg"}, jpeg(quadrants(40, 30))).first();
        QList<std::pair<int, JobRow>> rows;
        for (OutputFormat f : {OutputFormat::Jpeg, OutputFormat::WebP, OutputFormat::Avif, OutputFormat::Png}) {
            JobRow row = testui::jobFor(source, m_root);
            testui::writtenAs(row, f);
            rows.append({int(rows.size()) + 1, row});
        }
        QCOMPARE(testbatch::runBatch(planBatch(rows)).saved, 4);
        for (const auto &[format, name] : {std::pair{OutputFormat::Jpeg, "photo_b.jpg"},
                                           {OutputFormat::WebP, "photo.webp"},
                                           {OutputFormat::Avif, "photo.avif"},
                                           {OutputFormat::Png, "photo.png"}}) {
            const QImage out = decodedByItsLibrary(format, readFile(m_root + QString::fromLatin1(name)));
            QVERIFY2(out.size() == QSize(40, 30) && near(out.pixel(30, 22), kYellow), name);
        }
    }

    // Every format keeps the overwrite rules: its output gets its own extension;
    // an earlier output is told by the mark in the file itself (its attribute
    // removed, as a copy loses it) and offered for replacing; a file of that format
    // without the mark is somebody's and never replaced.
    void everyFormatKeepsTheOverwriteRules_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("output");
        QTest::newRow("webp") << int(OutputFormat::WebP) << "photo.webp";
        QTest::newRow("avif") << int(OutputFormat::Avif) << "photo.avif";
        QTest::newRow("png") << int(OutputFormat::Png) << "photo.png";
    }
    void everyFormatKeepsTheOverwriteRules()
    {
        QFETCH(int, format);
        QFETCH(QString, output);
        const QString source = sources({"photo.jpg"}, jpeg(quadrants(40, 30))).first(), out = m_root + output;
        const auto planned = [&] {
            JobRow row = testui::jobFor(source, m_root);
            testui::writtenAs(row, OutputFormat(format));
            return planBatch({{1, row}});
        };
        QCOMPARE(planned().rows[0].output, out);
        QCOMPARE(testbatch::runBatch(planned()).saved, 1);
        QCOMPARE(decodedByItsLibrary(OutputFormat(format), readFile(out)).size(), QSize(40, 30));

        QCOMPARE(::removexattr(QFile::encodeName(out).constData(), kOutputAttribute), 0);
        QCOMPARE(planned().rows[0].fate, Fate::Replace);

        // The same format as another program writes it: no mark.
        const QImage theirPicture = noise(40, 30);
        const QByteArray theirs = OutputFormat(format) == OutputFormat::WebP   ? encodeWebp(theirPicture, {})
                                  : OutputFormat(format) == OutputFormat::Avif ? encodeAvif(theirPicture, {})
                                                                               : encodePng(theirPicture, {});
        writeFile(out, theirs);
        const BatchPlan p = planned();
        QCOMPARE(p.rows[0].fate, Fate::Skip);
        testbatch::runBatch(p);
        QCOMPARE(readFile(out), theirs);
    }

    // libjpeg's warnings, sorted once for every reader (jpegWarningLosesData): a JPEG
    // whose data was lost or invented is refused by the whole decode, the bands, the
    // colour planes and the first look alike, and the batch writes nothing for it;
    // padding that leaves every pixel as encoded is read by all of them. Stray bytes
    // after a scan are data the scan's decoding did not reach, unless they are zeros
    // (fill). Each file is first checked for what libjpeg says of it (TurboJPEG's
    // first warning), so that the table says what the file is.
    void jpegWarnings_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("libjpegSays");
        QTest::addColumn<bool>("refused");
        const auto scanOf = [](const QByteArray &d, qsizetype sos) {
            return sos + 2 + (quint8(d[sos + 2]) << 8 | quint8(d[sos + 3]));
        };
        const QByteArray good = libjpegFile(noise(96, 64));
        const qsizetype eoi = good.size() - 2, mid = (scanOf(good, good.indexOf("\xFF\xDA")) + eoi) / 2;
        const QByteArray badCode("\xFF\0\xFF\0\xFF\0", 6); // 24 one bits: no Huffman code is that long
        const auto replaced = [](QByteArray d, qsizetype at, const QByteArray &by) {
            return d.replace(at, by.size(), by);
        };
        const auto inserted = [](QByteArray d, qsizetype at, const QByteArray &what) { return d.insert(at, what); };
        QTest::newRow("bad Huffman code") << replaced(good, mid, badCode) << "bad Huffman code" << true;
        // At the scan's end no stray data follows to give the damage away.
        QTest::newRow("bad Huffman code in the last bytes")
            << replaced(good, eoi - badCode.size(), badCode) << "bad Huffman code" << true;
        QTest::newRow("bytes zeroed mid-scan") << replaced(good, mid, QByteArray(32, 0)) << "Corrupt JPEG data" << true;
        QTest::newRow("cut short, an end marker added") << good.left(mid) + "\xFF\xD9"
                                                        << "premature end of data segment" << true;
        QTest::newRow("cut short") << good.left(mid) << "Premature end of JPEG file" << true;
        QTest::newRow("bytes slipped into the scan, left over before the end")
            << inserted(good, mid, "\x12\x9A\x47\x03\x88\x3C\x51\xE0\x7B\x2D") << "extraneous bytes before marker 0xd9"
            << true;
        QByteArray renumbered = libjpegFile(noise(96, 64), {.restarts = true});
        renumbered[renumbered.indexOf("\xFF\xD1") + 1] = '\xD5';
        QTest::newRow("a restart marker lost") << renumbered << "instead of RST1" << true;
        const QByteArray progressive = libjpegFile(noise(96, 64), {.progressive = true});
        const qsizetype last = scanOf(progressive, progressive.lastIndexOf("\xFF\xDA"));
        QTest::newRow("progressive, bad Huffman code in the last scan")
            << replaced(progressive, (last + progressive.size()) / 2, badCode) << "bad Huffman code" << true;
        QTest::newRow("stray bytes before the end after a good scan")
            << inserted(good, eoi, QByteArray(16, 'Z')) << "extraneous bytes before marker 0xd9" << true;
        QTest::newRow("zeros before the end after a good scan")
            << inserted(good, eoi, QByteArray(16, 0)) << "extraneous bytes before marker 0xd9" << false;
        QTest::newRow("stray bytes between header segments, as cameras write")
            << inserted(good, good.indexOf("\xFF\xDB"), "junk") << "extraneous bytes before marker 0xdb" << false;
        QTest::newRow("whole") << good << "" << false;
    }
    void jpegWarnings()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, libjpegSays);
        QFETCH(bool, refused);
        tjhandle tj = tjInitDecompress();
        int w = 0, h = 0, sub = 0, space = 0;
        const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
        tjDecompressHeader3(tj, bytes, static_cast<unsigned long>(data.size()), &w, &h, &sub, &space);
        std::vector<unsigned char> pixels(size_t(w) * size_t(h) * 4);
        const bool quiet =
            tjDecompress2(tj, bytes, static_cast<unsigned long>(data.size()), pixels.data(), w, 0, h, TJPF_BGRX, 0)
            == 0;
        const QString says = quiet ? QString() : QString::fromLatin1(tjGetErrorStr2(tj));
        tjDestroy(tj);
        QVERIFY2(libjpegSays.isEmpty() ? says.isEmpty() : says.contains(libjpegSays), qPrintable(says));

        JobRow row = testui::jobFor(m_root + QStringLiteral("w.jpg"), m_root);
        row.newSize = QStringLiteral("24*16");
        writeFile(row.path, data);
        const Job job = readJob(row);
        const QString damaged = QStringLiteral("JPEG ファイルが壊れているか途中で切れています");
        for (const auto &[reader, why] :
             {std::pair{"whole decode", failureOf([&] { decodePictureData(data); })},
              std::pair{"bands", failureOf([&] { composeJobFile(job); })},
              std::pair{"colour planes", failureOf([&] { QVERIFY(composeJobPlanes(job, data, true)); })}})
            QVERIFY2(refused ? why.contains(damaged) : why.isEmpty(), qPrintable(reader + QStringLiteral(": ") + why));
        QCOMPARE(decodeQuickJpeg(data, [](QSize) { return QSize(24, 16); }).has_value(), !refused);
        const BatchSummary run = testbatch::runBatch(plan({row.path}, m_root));
        QCOMPARE(run.saved, refused ? 0 : 1);
        QCOMPARE(QFileInfo::exists(m_root + QStringLiteral("w_b.jpg")), !refused);
        if (refused)
            QVERIFY2(run.problems.value(0).reason.contains(damaged), qPrintable(run.problems.value(0).reason));
    }
};

QTEST_GUILESS_MAIN(TestBatchPipeline)
#include "tst_batchpipeline.moc"
