// The preview's renderer on its own: the kept pictures that spare the file, the
// newest request winning, a failure told in the batch's own words, and the JPEG's
// first look landing where the exact picture does.

#include "batch/batchpipeline.h"
#include "batch/batchplan.h"
#include "compose/jobcompose.h"
#include "compose/quickpicture.h"
#include "platform/filename.h"
#include "preview/keptpictures.h"
#include "preview/previewrenderer.h"
#include "tests/common/readgate.h"
#include "tests/common/runbatch.h"
#include "tests/common/testpictures.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrovia;
using namespace testpics;

namespace {

const QRgb kGrey = qRgb(0x80, 0x80, 0x80);

JobRow jobOf(const QString &path, const QString &size, const QString &fit = "ON", const QString &color = "8421504",
             const QString &rotation = {})
{
    JobRow j;
    j.fileName = QFileInfo(path).fileName();
    j.path = path;
    j.originalSize = "shown";
    j.newSize = size;
    j.fit = fit;
    j.backColor = color;
    j.position = "Center";
    j.rotation = rotation;
    j.saveFolder = QFileInfo(path).absolutePath() + "/out/";
    j.compression = "5";
    return j;
}

// What a request ended with: its picture, or why there is none.
struct Outcome {
    QImage picture;
    QString reason;
};

// The row read as the selection sync reads it (a text that is no number fails
// there, with its reason), then rendered.
Outcome render(PreviewRenderer &renderer, const JobRow &row, bool complete = false)
{
    Outcome out;
    Job job;
    try {
        job = readJob(row);
    } catch (const Failure &f) {
        out.reason = f.message();
        return out;
    }
    const quint64 id = renderer.request({job, complete, true});
    const auto a = QObject::connect(&renderer, &PreviewRenderer::picture, [&](quint64 i, const QImage &c) {
        if (i == id)
            out.picture = c;
    });
    const auto b = QObject::connect(&renderer, &PreviewRenderer::failed, [&](quint64 i, const QString &r) {
        if (i == id)
            out.reason = r;
    });
    if (!QTest::qWaitFor([&] { return renderer.pending() == 0; }, 20000))
        out.reason = "timed out";
    QObject::disconnect(a);
    QObject::disconnect(b);
    return out;
}

// The colours at the centres of the four quadrants of a w x h picture.
QList<QRgb> quadrantColours(const QImage &image)
{
    const int w = image.width(), h = image.height();
    return {image.pixel(w / 4, h / 4), image.pixel(3 * w / 4, h / 4), image.pixel(w / 4, 3 * h / 4),
            image.pixel(3 * w / 4, 3 * h / 4)};
}

bool sameColours(const QList<QRgb> &a, const QList<QRgb> &b, int tolerance = 24)
{
    for (int i = 0; i < 4; ++i)
        if (!near(a[i], b[i], tolerance))
            return false;
    return true;
}

} // namespace

class TestPreviewRenderer : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString file(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir(m_dir.path()).mkdir("out"));
    }

    // Steps: "<file> <size> <fit> <colour>" shows a job; "change <file>" saves the
    // file again with its quadrants the other way round. "a" and "b" are 640 x 480,
    // "big" 1600 x 1200, which a small job decodes reduced.
    // clang-format off
    void keptPicturesSpareTheFile_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("reads");
        QTest::newRow("panel changes: colour, fit, both back")
            << QStringList{"a 200*100 ON 8421504", "a 200*100 ON 255", "a 200*100 OFF 255", "a 200*100 ON 8421504"} << 1;
        QTest::newRow("back to a recent row") << QStringList{"a 200*100 ON 255", "b 200*100 ON 255", "a 200*100 ON 255"} << 2;
        QTest::newRow("the end of a border drag") << QStringList{"a 200*100 ON 255", "a 321*123 ON 255"} << 1;
        QTest::newRow("changed on disk: read again")
            << QStringList{"a 200*100 ON 255", "change a", "a 200*100 ON 255", "a 200*100 OFF 255"} << 2;
        QTest::newRow("a reduced decode serves smaller drawings only")
            << QStringList{"big 100*75 ON 255", "big 50*37 ON 255", "big 400*300 ON 255", "big 100*75 OFF 255"} << 2;
        QTest::newRow("a full decode serves every size") << QStringList{"big 800*600 ON 255", "big 100*75 ON 255"} << 1;
    }
    // clang-format on
    void keptPicturesSpareTheFile()
    {
        QFETCH(QStringList, steps);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).left(8).replace(' ', '_');
        const auto path = [&](const QString &name) { return file(tag + name + ".jpg"); };
        writeFile(path("a"), jpeg(quadrants(640, 480)));
        writeFile(path("b"), jpeg(quadrants(640, 480)));
        writeFile(path("big"), jpeg(quadrants(1600, 1200)));
        PreviewRenderer renderer;
        const testui::ReadGate gate(renderer);
        for (const QString &step : steps) {
            const QStringList w = step.split(' ');
            if (w[0] == "change") {
                // Another picture in the same place, saved a second later.
                writeFile(path(w[1]), jpeg(quadrants(640, 480).mirrored(true, false)));
                QFile f(path(w[1]));
                QVERIFY(f.open(QIODevice::ReadWrite));
                QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(1), QFileDevice::FileModificationTime));
                continue;
            }
            const JobRow job = jobOf(path(w[0]), w[1], w[2], w[3]);
            const Outcome o = render(renderer, job);
            QVERIFY2(o.reason.isEmpty(), qPrintable(o.reason));
            // What the batch draws, from the file as it is now.
            const QImage batch = composeJob(readJob(job), loadJobSource(readJob(job)));
            QCOMPARE(o.picture.size(), batch.size());
            QVERIFY2(sameColours(quadrantColours(o.picture), quadrantColours(batch)), qPrintable(step));
        }
        QTEST(int(gate.reads().size()), "reads");
        QVERIFY(renderer.kept().bytes() <= KeptPictures::kDefaultBytes);
    }

    // A name holding a byte that is no UTF-8 (a Latin-1 é from an old camera card)
    // is kept like any other: a panel change does not read the file again.
    void keptPicturesTakeAnyName()
    {
        const QString path = decodeFileName(encodeFileName(file(QStringLiteral("caf"))) + "\xE9.jpg");
        const QByteArray data = jpeg(quadrants(640, 480));
        const int fd = ::open(encodeFileName(path).constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        QVERIFY(fd >= 0 && ::write(fd, data.constData(), size_t(data.size())) == data.size());
        ::close(fd);
        PreviewRenderer renderer;
        const testui::ReadGate gate(renderer);
        for (const char *colour : {"8421504", "255"}) {
            const Outcome o = render(renderer, jobOf(path, "200*100", "ON", colour));
            QVERIFY2(o.reason.isEmpty(), qPrintable(o.reason));
        }
        QCOMPARE(gate.reads().size(), 1);
    }

    void keptPicturesStayWithinBounds()
    {
        KeptPictures kept(3 * 100 * 100 * 4, 8);
        const auto id = FileIdentity::of(m_dir.path());
        QVERIFY(id);
        QImage canvas(100, 100, QImage::Format_RGB32);
        for (const QString key : {"1", "2", "3", "4"})
            kept.keepCanvas(*id, key, canvas);
        QCOMPARE(kept.count(), 3);
        QVERIFY(!kept.canvas(*id, "1") && kept.canvas(*id, "4"));
        kept.keepCanvas(*id, "huge", QImage(400, 400, QImage::Format_RGB32)); // more than the whole budget
        QCOMPARE(kept.count(), 3);
        KeptPictures few(qint64(1) << 30, 2);
        for (const QString key : {"1", "2", "3"})
            few.keepCanvas(*id, key, canvas);
        QCOMPARE(few.count(), 2);
    }

    // Three requests while the first one's read is held: the second never starts,
    // the first stops after its read, and only the third is reported.
    void newestRequestWins()
    {
        const QStringList paths{file("red.jpg"), file("green.jpg"), file("blue.jpg")};
        const QList<QColor> colours{Qt::red, Qt::green, Qt::blue};
        for (int i = 0; i < 3; ++i) {
            QImage solid(640, 480, QImage::Format_RGB32);
            solid.fill(colours[i]);
            writeFile(paths[i], jpeg(solid));
        }
        PreviewRenderer renderer;
        testui::ReadGate gate(renderer);
        QSignalSpy pictures(&renderer, &PreviewRenderer::picture);
        QSignalSpy firstLooks(&renderer, &PreviewRenderer::firstLook);
        gate.close();
        renderer.request({readJob(jobOf(paths[0], "80*60")), false, true});
        QTRY_COMPARE(gate.waiting(), 1);
        renderer.request({readJob(jobOf(paths[1], "80*60")), false, true});
        const quint64 last = renderer.request({readJob(jobOf(paths[2], "80*60")), false, true});
        gate.open();
        QTRY_COMPARE(renderer.pending(), quint64(0));
        QCoreApplication::processEvents();
        QCOMPARE(pictures.size(), 1);
        QCOMPARE(pictures[0][0].value<quint64>(), last);
        QVERIFY(near(pictures[0][1].value<QImage>().pixel(10, 10), kBlue));
        for (const QList<QVariant> &look : firstLooks)
            QCOMPARE(look[0].value<quint64>(), last);
        QCOMPARE(gate.reads(), QStringList({paths[0], paths[2]}));
    }

    // A picture that cannot be made says why with the reason the batch gives for
    // the same row.
    void failureGivesTheBatchsReason_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file at all
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("color");
        const QByteArray photo = jpeg(quadrants(64, 48));
        QTest::newRow("missing") << QByteArray() << "64*48"
                                 << "255";
        QTest::newRow("not a picture") << QByteArray("just some text\n") << "64*48"
                                       << "255";
        QTest::newRow("cut short") << photo.left(photo.size() / 2) << "64*48"
                                   << "255";
        QTest::newRow("colour not a number") << photo << "64*48"
                                             << "grey";
        QTest::newRow("size beyond the limits") << photo << "40000*40000"
                                                << "255";
    }
    void failureGivesTheBatchsReason()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, size);
        QFETCH(QString, color);
        const QString path = file(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_') + ".jpg");
        if (!content.isEmpty())
            writeFile(path, content);
        const JobRow job = jobOf(path, size, "ON", color);
        PreviewRenderer renderer;
        const Outcome o = render(renderer, job);
        QVERIFY(o.picture.isNull());
        BatchPipeline pipeline;
        const BatchSummary summary = testbatch::runBatch(pipeline, planBatch({{1, job}}));
        QCOMPARE(summary.problems.size(), 1);
        QCOMPARE(o.reason, summary.problems[0].reason);
    }

    // The first look is decoded reduced and turned upright by the file's EXIF
    // orientation; composed as the job is, it lands where the exact picture does.
    // clang-format off
    void firstLookLandsWhereThePictureDoes_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("fit");
        QTest::addColumn<QString>("rotation");
        QTest::addColumn<int>("least"); // the least reduction allowed
        QTest::addColumn<QSize>("decoded"); // the first look's pixels; empty: no first look
        QTest::newRow("1/8") << 1 << "200*150" << "ON" << "" << 2 << QSize(200, 150);
        QTest::newRow("1/4, fitted on grey") << 1 << "800*200" << "OFF" << "" << 2 << QSize(400, 300);
        QTest::newRow("turned by EXIF, 1/8") << 6 << "150*200" << "ON" << "" << 2 << QSize(150, 200);
        QTest::newRow("EXIF half turn and the job's turn") << 3 << "150*200" << "ON" << "+90°" << 2 << QSize(200, 150);
        QTest::newRow("mirrored and turned by EXIF") << 7 << "160*200" << "OFF" << "" << 2 << QSize(150, 200);
        QTest::newRow("1/2") << 1 << "800*600" << "ON" << "" << 2 << QSize(800, 600);
        QTest::newRow("1/2 not allowed: none") << 1 << "800*600" << "ON" << "" << 4 << QSize();
        QTest::newRow("more than half: none") << 1 << "1000*750" << "ON" << "" << 2 << QSize();
    }
    // clang-format on
    void firstLookLandsWhereThePictureDoes()
    {
        QFETCH(int, orientation);
        QFETCH(QString, size);
        QFETCH(QString, fit);
        QFETCH(QString, rotation);
        QFETCH(int, least);
        QFETCH(QSize, decoded);
        const QString path = file(QStringLiteral("oriented%1.jpg").arg(orientation));
        writeFile(path, withExifOrientation(jpeg(quadrants(1600, 1200)), orientation));
        const JobRow job = jobOf(path, size, fit, "8421504", rotation);
        const QByteArray data = readFile(path);
        const QSize canvas = *job.canvasSize();
        const auto quick = decodeQuickJpeg(
            data,
            [&](QSize upright) {
                // Drawn over the whole canvas (stretched) or fitted into it.
                const bool turned = !rotation.isEmpty();
                const QSize box = turned ? canvas.transposed() : canvas;
                return fit == "ON" ? box : upright.scaled(box, Qt::KeepAspectRatio);
            },
            least);
        QCOMPARE(quick ? quick->image.size() : QSize(), decoded);
        if (!quick)
            return;
        const QImage first = composeJob(readJob(job), *quick);
        const QImage exact = composeJob(readJob(job), loadJobSource(readJob(job)));
        QCOMPARE(first.size(), exact.size());
        QVERIFY(sameColours(quadrantColours(first), quadrantColours(exact), 40));
        if (fit == "OFF")
            QVERIFY(near(first.pixel(2, 2), exact.pixel(2, 2)) && near(exact.pixel(2, 2), kGrey));
    }
};

QTEST_MAIN(TestPreviewRenderer)
#include "tst_previewrenderer.moc"
