// The batch without a window, run as the real program with no display at all (no
// QT_QPA_PLATFORM, DISPLAY or WAYLAND_DISPLAY): what it writes for each option set,
// its exit status, the overwrite rules, a stop by signal, and two runs into one
// folder.

#include "compose/pictureprobe.h"
#include "compose/presets.h"
#include "export/programmark.h"
#include "tests/common/camerametadata.h"

#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace kestrovia;
using namespace testpics;

namespace {

struct Run {
    int status = -1;
    QString errors; // standard error
};

QProcessEnvironment windowless(const QString &config)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    return env;
}

void startBatch(QProcess &p, const QString &folder, const QStringList &args)
{
    p.setProcessEnvironment(windowless(folder + QStringLiteral("/config")));
    p.setWorkingDirectory(folder);
    p.start(QStringLiteral(KESTROVIA_BIN), QStringList{QStringLiteral("--batch")} + args);
}

Run runBatch(const QString &folder, const QStringList &args)
{
    QProcess p;
    startBatch(p, folder, args);
    if (!p.waitForFinished(240000) || p.exitStatus() != QProcess::NormalExit)
        return {};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardError())};
}

// The files in folder, by name: what a run left there.
QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// Whether every file in folder is a whole picture of this program (decodes to
// the end and carries the mark of what was written).
QString notWhole(const QString &folder)
{
    for (const QString &name : filesIn(folder)) {
        const QString path = folder + u'/' + name;
        QImage image;
        if (!image.load(path) || readOutputMark(path) != OutputMark::Ours)
            return name;
    }
    return {};
}

} // namespace

class TestBatchCommand : public QObject {
    Q_OBJECT
private slots:
    void optionSets_data();
    void optionSets();
    void exitStatus_data();
    void exitStatus();
    void earlierOutputs_data();
    void earlierOutputs();
    void stopBySignal_data();
    void stopBySignal();
    void twoProcessesOneFolder_data();
    void twoProcessesOneFolder();
};

void TestBatchCommand::optionSets_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("keepsPlace");
    QTest::addColumn<QRgb>("corner"); // the top-left pixel, where the background shows; 0: not checked

    // The source is 800 x 600 turned by its EXIF to stand upright at 600 x 800, with
    // GPS in its EXIF.
    const int jpeg = int(PictureFormat::Jpeg);
    QTest::newRow("defaults") << QStringList{} << "photo_b.jpg" << jpeg << QSize(600, 800) << false << QRgb(0);
    QTest::newRow("long edge, webp") << QStringList{"--long-edge", "400", "--format", "webp"} << "photo.webp"
                                     << int(PictureFormat::WebP) << QSize(300, 400) << false << QRgb(0);
    QTest::newRow("size=, stretch, png") << QStringList{"--size=64x48", "--stretch", "--format=png"} << "photo.png"
                                         << int(PictureFormat::Png) << QSize(64, 48) << false << QRgb(0);
    QTest::newRow("percent, turn, avif") << QStringList{"--percent", "50", "--turn", "90", "--format", "avif"}
                                         << "photo.avif" << int(PictureFormat::Heif) << QSize(400, 300) << false << QRgb(0);
    QTest::newRow("turn -90, shrink-only") << QStringList{"--turn=-90", "--long-edge", "2000", "--shrink-only"}
                                           << "photo_b.jpg" << jpeg << QSize(800, 600) << false << QRgb(0);
    QTest::newRow("metadata all keeps the place")
        << QStringList{"--metadata", "all", "--long-edge", "100"} << "photo_b.jpg" << jpeg << QSize(75, 100) << true << QRgb(0);
    QTest::newRow("metadata none") << QStringList{"--metadata", "none", "--long-edge", "100"} << "photo_b.jpg" << jpeg
                                   << QSize(75, 100) << false << QRgb(0);
    QTest::newRow("shipped preset メール") << QStringList{"--preset", "メール"} << "photo_b.jpg" << jpeg
                                       << QSize(768, 1024) << false << QRgb(0);
    QTest::newRow("preset, an option over it")
        << QStringList{"--preset=サムネイル", "--size", "100x50", "--background", "#ff0000", "--center"}
        << "photo_b.jpg" << jpeg << QSize(100, 50) << false << kRed;
    QTest::newRow("user's preset") << QStringList{"--preset", "私の設定"} << "photo-small.png" << int(PictureFormat::Png)
                                   << QSize(150, 200) << true << QRgb(0);
    QTest::newRow("name pattern, output folder")
        << QStringList{"--name", "{名前}_{幅}", "--output", "out/web", "--long-edge", "40"} << "out/web/photo_30.jpg"
        << jpeg << QSize(30, 40) << false << QRgb(0);
    QTest::newRow("jobs, level") << QStringList{"--jobs", "1", "--level", "10", "--long-edge", "120"} << "photo_b.jpg"
                                 << jpeg << QSize(90, 120) << false << QRgb(0);
}

void TestBatchCommand::optionSets()
{
    QFETCH(QStringList, args);
    QFETCH(QString, output);
    QFETCH(int, format);
    QFETCH(QSize, size);
    QFETCH(bool, keepsPlace);
    QFETCH(QRgb, corner);

    QTemporaryDir dir;
    writeFile(dir.filePath("photo.jpg"), withCameraMetadata(jpeg(photoLike(800, 600))));
    // A preset of the user's own, as another machine's copy would arrive.
    Preset mine{QStringLiteral("私の設定"), {}};
    mine.settings.size.mode = SizeRule::LongEdge;
    mine.settings.size.longEdge = 200;
    mine.settings.format = OutputFormat::Png;
    mine.settings.metadata = MetadataChoice::KeepAll;
    mine.settings.namePattern = QStringLiteral("{名前}-small");
    savePreset(mine, dir.filePath("config/kestrovia/presets"));

    const Run run = runBatch(dir.path(), args + QStringList{QStringLiteral("photo.jpg")});
    QVERIFY2(run.status == 0, qPrintable(run.errors));
    const QString path = dir.filePath(output);
    QVERIFY2(QFileInfo::exists(path), qPrintable(filesIn(QFileInfo(path).absolutePath()).join(u' ')));
    const PictureInfo info = probePicture(path);
    QCOMPARE(int(info.format), format);
    QCOMPARE(info.size, size);
    QCOMPARE(readOutputMark(path), OutputMark::Ours);
    QCOMPARE(!readBack(readFile(path)).exif("Exif.GPSInfo.GPSLatitude").isEmpty(), keepsPlace);
    if (corner != 0) {
        const QRgb got = QImage(path).pixel(0, 0);
        QVERIFY2(near(got, corner), qPrintable(describe(got)));
    }
    // The summary as the window gives it.
    QVERIFY2(run.errors.contains(QStringLiteral("1件を保存しました。")), qPrintable(run.errors));
}

void TestBatchCommand::exitStatus_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said"); // a part of the Japanese message
    QTest::addColumn<int>("written");

    QTest::newRow("all written") << QStringList{"a.jpg", "b.jpg"} << 0 << "2件を保存しました。" << 2;
    QTest::newRow("a folder") << QStringList{"."} << 1 << "変換できませんでした" << 2;
    QTest::newRow("one broken") << QStringList{"a.jpg", "broken.jpg"} << 1 << "broken.jpg" << 1;
    QTest::newRow("one missing") << QStringList{"a.jpg", "gone.jpg"} << 1 << "gone.jpg" << 1;
    QTest::newRow("nothing to convert") << QStringList{"notes.txt"} << 1 << "変換する画像がありません" << 0;
    QTest::newRow("a picture and no picture") << QStringList{"a.jpg", "notes.txt"} << 1 << "notes.txt" << 1;
    QTest::newRow("level out of range") << QStringList{"--level", "11", "a.jpg"} << 2 << "--level" << 0;
    QTest::newRow("turn not in the list") << QStringList{"--turn", "45", "a.jpg"} << 2 << "--turn" << 0;
    QTest::newRow("unknown format") << QStringList{"--format", "gif", "a.jpg"} << 2 << "--format" << 0;
    QTest::newRow("size without height") << QStringList{"--size", "640", "a.jpg"} << 2 << "--size" << 0;
    QTest::newRow("long edge no number") << QStringList{"--long-edge=big", "a.jpg"} << 2 << "--long-edge" << 0;
    QTest::newRow("two size rules") << QStringList{"--percent", "50", "--long-edge", "10", "a.jpg"} << 2
                                    << "--percent" << 0;
    QTest::newRow("colour") << QStringList{"--background", "pink", "a.jpg"} << 2 << "--background" << 0;
    QTest::newRow("metadata") << QStringList{"--metadata", "some", "a.jpg"} << 2 << "--metadata" << 0;
    QTest::newRow("jobs") << QStringList{"--jobs", "0", "a.jpg"} << 2 << "--jobs" << 0;
    QTest::newRow("name with a slash") << QStringList{"--name", "a/b", "a.jpg"} << 2 << "--name" << 0;
    QTest::newRow("output is a file") << QStringList{"--output", "a.jpg", "a.jpg"} << 2 << "--output" << 0;
    QTest::newRow("no such preset") << QStringList{"--preset", "ない", "a.jpg"} << 2 << "ウェブ用" << 0;
    QTest::newRow("overwrite and skip") << QStringList{"--overwrite", "--skip", "a.jpg"} << 2 << "--skip" << 0;
    QTest::newRow("unknown option") << QStringList{"--quality", "5", "a.jpg"} << 2 << "不明なオプション「--quality」" << 0;
    QTest::newRow("no files") << QStringList{"--level", "3"} << 2 << "ファイル" << 0;
}

void TestBatchCommand::exitStatus()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, said);
    QFETCH(int, written);

    QTemporaryDir dir;
    writeFile(dir.filePath("a.jpg"), jpeg(photoLike(64, 48)));
    writeFile(dir.filePath("b.jpg"), jpeg(photoLike(48, 64)));
    writeFile(dir.filePath("broken.jpg"), jpeg(photoLike(64, 48)).left(200));
    writeFile(dir.filePath("notes.txt"), "not a picture");
    const QStringList before = filesIn(dir.path());

    const Run run = runBatch(dir.path(), QStringList{"--output", "out"} + args);
    QCOMPARE(run.status, status);
    QVERIFY2(run.errors.contains(said), qPrintable(run.errors));
    // What was not added is said last too, beside the exit status it explains.
    if (written > 0 && run.errors.contains(QStringLiteral("追加しませんでした")))
        QVERIFY2(run.errors.trimmed().section(u'\n', -1).startsWith(QStringLiteral("追加しませんでした")),
                 qPrintable(run.errors));
    QCOMPARE(filesIn(dir.filePath("out")).size(), written);
    QCOMPARE(notWhole(dir.filePath("out")), QString());
    QCOMPARE(filesIn(dir.path()), before);
}

void TestBatchCommand::earlierOutputs_data()
{
    QTest::addColumn<bool>("ours"); // the file at the output is an earlier output, unchanged
    QTest::addColumn<QString>("flag");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("replaced");

    QTest::newRow("unmarked, no flag") << false << "" << 1 << false;
    QTest::newRow("unmarked, --overwrite") << false << "--overwrite" << 1 << false;
    QTest::newRow("unmarked, --skip") << false << "--skip" << 1 << false;
    QTest::newRow("earlier output, no flag: named, kept") << true << "" << 1 << false;
    QTest::newRow("earlier output, --skip") << true << "--skip" << 0 << false;
    QTest::newRow("earlier output, --overwrite") << true << "--overwrite" << 0 << true;
}

void TestBatchCommand::earlierOutputs()
{
    QFETCH(bool, ours);
    QFETCH(QString, flag);
    QFETCH(int, status);
    QFETCH(bool, replaced);

    QTemporaryDir dir;
    writeFile(dir.filePath("a.jpg"), jpeg(photoLike(64, 48)));
    QDir(dir.path()).mkdir("out");
    const QString output = dir.filePath("out/a_b.jpg");
    if (ours)
        QCOMPARE(runBatch(dir.path(), {"--output", "out", "--long-edge", "32", "a.jpg"}).status, 0);
    else
        writeFile(output, jpeg(photoLike(64, 48), 70)); // a user's own file of that name
    const QByteArray before = readFile(output);

    QStringList args{"--output", "out", "--long-edge", "16", "a.jpg"};
    if (!flag.isEmpty())
        args.prepend(flag);
    const Run run = runBatch(dir.path(), args);
    QCOMPARE(run.status, status);
    QCOMPARE(readFile(output) != before, replaced);
    QCOMPARE(filesIn(dir.filePath("out")), QStringList{"a_b.jpg"});
    if (!replaced)
        QVERIFY2(run.errors.contains(QStringLiteral("a_b.jpg")), qPrintable(run.errors));
}

void TestBatchCommand::stopBySignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("status");

    QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
    QTest::newRow("SIGINT") << int(SIGINT) << 130;
}

void TestBatchCommand::stopBySignal()
{
    QFETCH(int, signal);
    QFETCH(int, status);

    QTemporaryDir dir;
    constexpr int kRows = 60;
    const QByteArray picture = jpeg(noise(1600, 1200));
    QDir(dir.path()).mkdir("in");
    for (int i = 0; i < kRows; ++i)
        writeFile(dir.filePath(QStringLiteral("in/p%1.jpg").arg(i, 2, 10, QChar(u'0'))), picture);

    QProcess p;
    startBatch(p, dir.path(), {"--jobs", "1", "--output", "out", "--level", "0", "in"});
    QVERIFY(p.waitForStarted());
    // Stopped once its first file is written: the run is midway.
    QTRY_VERIFY_WITH_TIMEOUT(!filesIn(dir.filePath("out")).isEmpty(), 120000);
    ::kill(pid_t(p.processId()), signal);
    QVERIFY(p.waitForFinished(120000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), status);
    const QStringList written = filesIn(dir.filePath("out"));
    QVERIFY2(written.size() < kRows, qPrintable(QString::number(written.size())));
    // Whole files only, and nothing half-written left beside them.
    QCOMPARE(notWhole(dir.filePath("out")), QString());
    QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("中止したため")));
}

void TestBatchCommand::twoProcessesOneFolder_data()
{
    QTest::addColumn<bool>("sameSources");

    QTest::newRow("each its own pictures") << false;
    QTest::newRow("both the same pictures") << true;
}

void TestBatchCommand::twoProcessesOneFolder()
{
    QFETCH(bool, sameSources);

    QTemporaryDir dir;
    constexpr int kEach = 25;
    QDir(dir.path()).mkdir("a");
    QDir(dir.path()).mkdir("b");
    for (int i = 0; i < kEach; ++i) {
        writeFile(dir.filePath(QStringLiteral("a/a%1.jpg").arg(i)), jpeg(photoLike(400 + i, 300)));
        writeFile(dir.filePath(QStringLiteral("b/b%1.jpg").arg(i)), jpeg(photoLike(300, 400 + i)));
    }
    QProcess first;
    QProcess second;
    const QStringList options{"--output", "out", "--long-edge", "200", "--skip"};
    startBatch(first, dir.path(), options + QStringList{"a"});
    startBatch(second, dir.path(), options + QStringList{sameSources ? "a" : "b"});
    QVERIFY(first.waitForFinished(240000));
    QVERIFY(second.waitForFinished(240000));

    const QStringList written = filesIn(dir.filePath("out"));
    QCOMPARE(written.size(), sameSources ? kEach : 2 * kEach);
    QCOMPARE(notWhole(dir.filePath("out")), QString());
    if (!sameSources) {
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(second.exitCode(), 0);
    } else {
        // Each file is written by one of them; the other finds it taken, and says so.
        QVERIFY(first.exitCode() <= 1 && second.exitCode() <= 1);
    }
}

QTEST_MAIN(TestBatchCommand)
#include "tst_batchcommand.moc"
