// Export of one job: naming, quality, the converter's safety and the temporary bitmap.

#include "export/converter.h"
#include "export/export.h"
#include "export/outputname.h"
#include "export/staletemp.h"
#include "export/safewrite.h"
#include "compose/picturedecoder.h"
#include "platform/failure.h"
#include "tests/common/testpictures.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <turbojpeg.h>

#include <memory>

using namespace kestrovia;
using namespace testpics;

class TestExport : public QObject {
    Q_OBJECT

private slots:
    void init();
    void naming_data();
    void naming();
    void quality_data();
    void quality();
    void levelNotANumber();
    void exportWritesTheJob();
    void exportFailures_data();
    void exportFailures();
    void chromaFollowsQuality_data();
    void chromaFollowsQuality();
    void staleTemporaryFilesRemoved();
    void writeReplacing_data();
    void writeReplacing();
    void fullDiskKeepsExistingOutput();

private:
    void makeCanvas(int w, int h);
    // A fresh folder per test, so each sees only its own files.
    std::unique_ptr<QTemporaryDir> m_folder;
    QImage m_canvas;
    // A job into folder at level, for the picture named name.
    static JobRow job(const QString &name, const QString &folder, const QString &level = QStringLiteral("5"))
    {
        JobRow j;
        j.fileName = name;
        j.saveFolder = folder;
        j.compression = level;
        return j;
    }
};

void TestExport::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    makeCanvas(64, 48);
}

void TestExport::makeCanvas(int w, int h)
{
    m_canvas = quadrants(w, h);
}

void TestExport::naming_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("output");
    QTest::newRow("jpg") << "photo.jpg" << "jpg" << "photo_b.jpg";
    QTest::newRow("JPG upper case") << "PHOTO.JPG" << "JPG" << "PHOTO_b.jpg";
    QTest::newRow("mixed case") << "a.JpG" << "JpG" << "a_b.jpg";
    QTest::newRow("two dots") << "holiday.2001.jpg" << "jpg" << "holiday.2001_b.jpg";
    QTest::newRow("bmp") << "photo.bmp" << "bmp" << "photo.jpg";
    QTest::newRow("Bmp") << "photo.Bmp" << "Bmp" << "photo.jpg";
    QTest::newRow("jpeg") << "photo.jpeg" << "jpeg" << "photo_b.jpg";
    QTest::newRow("JPE") << "photo.JPE" << "JPE" << "photo_b.jpg";
    QTest::newRow("jfif") << "photo.jfif" << "jfif" << "photo_b.jpg";
    QTest::newRow("png beside a jpg of the same name") << "photo.png" << "png" << "photo.jpg";
    QTest::newRow("heic") << "IMG_0001.HEIC" << "HEIC" << "IMG_0001.jpg";
    QTest::newRow("no dot") << "photo" << "" << "photojpg";
    QTest::newRow("japanese") << "夏の 海.jpg" << "jpg" << "夏の 海_b.jpg";
}

void TestExport::naming()
{
    QFETCH(QString, name);
    QFETCH(QString, extension);
    QFETCH(QString, output);
    QCOMPARE(GetExtension(name), extension);
    QCOMPARE(outputFileName(name), output);
    QCOMPARE(outputPath(QStringLiteral("/out/"), name), QStringLiteral("/out/") + output);
}

void TestExport::quality_data()
{
    QTest::addColumn<QString>("level");
    QTest::addColumn<int>("quality");
    QTest::newRow("0") << "0" << 100;
    QTest::newRow("1") << "1" << 90;
    QTest::newRow("5") << "5" << 50;
    QTest::newRow("9") << "9" << 10;
    QTest::newRow("10 gives 1, not 0") << "10" << 1;
    QTest::newRow("3.7 rounds to 4") << "3.7" << 60;
    QTest::newRow("2.5 rounds to even 2") << "2.5" << 80;
    QTest::newRow("3.5 rounds to even 4") << "3.5" << 60;
    QTest::newRow("beyond the panel clamps") << "12" << 1;
    QTest::newRow("negative clamps") << "-1" << 100;
}

void TestExport::quality()
{
    QFETCH(QString, level);
    QTEST(jpegQuality(job({}, {}, level).level()), "quality");
}

void TestExport::levelNotANumber()
{
    for (const char *level : {"abc", "", "99999"})
        QVERIFY_THROWS_EXCEPTION(Failure, job({}, {}, QString::fromLatin1(level)).level());
}

// The job's file, named after the source, in a Japanese folder with spaces, and
// nothing else beside it.
void TestExport::exportWritesTheJob()
{
    const QString folder = m_folder->path() + QStringLiteral("/出力 フォルダ/");
    QVERIFY(QDir().mkpath(folder));
    const QString out = exportJob(m_canvas, job(QStringLiteral("夏の 海.jpg"), folder));
    QCOMPARE(out, folder + QStringLiteral("夏の 海_b.jpg"));
    const DecodedPicture p = decodePicture(out);
    QCOMPARE(p.size, QSize(64, 48));
    QVERIFY(near(p.image.pixel(2, 2), kRed, 40));
    QVERIFY(near(p.image.pixel(61, 45), kYellow, 40));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("夏の 海_b.jpg")});
}

void TestExport::exportFailures_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("says");
    QTest::newRow("empty folder text") << "" << "指定されていません";
    // Fails in the conversion, after the temporary bitmap was written.
    QTest::newRow("missing folder") << "/nonexistent/out/" << "見つかりません";
    QTest::newRow("folder is a file") << "FILE/" << "フォルダではない";
}

void TestExport::exportFailures()
{
    QFETCH(QString, folder);
    QFETCH(QString, says);
    if (folder.startsWith(u"FILE")) {
        writeFile(m_folder->filePath(QStringLiteral("plain")), "x");
        folder = m_folder->filePath(QStringLiteral("plain")) + u'/';
    }
    try {
        exportJob(m_canvas, job(QStringLiteral("photo.jpg"), folder));
        QFAIL("exported into an unusable folder");
    } catch (const Failure &f) {
        QVERIFY2(f.message().contains(says), qPrintable(f.message()));
    }
}

void TestExport::chromaFollowsQuality_data()
{
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("subsampling");
    QTest::newRow("100: 4:4:4") << 100 << int(TJSAMP_444);
    QTest::newRow("90: 4:4:4") << 90 << int(TJSAMP_444);
    QTest::newRow("80: 4:2:0") << 80 << int(TJSAMP_420);
    QTest::newRow("1: 4:2:0") << 1 << int(TJSAMP_420);
}

void TestExport::chromaFollowsQuality()
{
    QFETCH(int, quality);
    const QByteArray data = encodeJpeg(quadrants(64, 48), quality);
    tjhandle h = tjInitDecompress();
    int w = 0, hh = 0, sub = -1, cs = -1;
    QCOMPARE(tjDecompressHeader3(h, reinterpret_cast<const unsigned char *>(data.constData()),
                                 static_cast<unsigned long>(data.size()), &w, &hh, &sub, &cs),
             0);
    tjDestroy(h);
    QTEST(sub, "subsampling");
    // Optimised Huffman tables: smaller than the same picture with the standard ones.
    unsetenv("TJ_OPTIMIZE");
    QFETCH(int, subsampling);
    const QByteArray standard = jpeg(quadrants(64, 48), quality, subsampling);
    setenv("TJ_OPTIMIZE", "1", 1);
    QVERIFY2(data.size() < standard.size(), qPrintable(QStringLiteral("%1 vs %2").arg(data.size()).arg(standard.size())));
}

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st{};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}

// A process id that no process has any more.
qint64 deadPid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

} // namespace

void TestExport::staleTemporaryFilesRemoved()
{
    const QString base = m_folder->path();
    const qint64 dead = deadPid();
    const QString deadFolder = QStringLiteral("kestrovia-%1-AbC123").arg(dead);
    const QString deadBitmap = QStringLiteral("kestrovia-%1.bmp").arg(dead);
    const QString liveFolder = QStringLiteral("kestrovia-%1-Xyz789").arg(::getppid());
    QVERIFY(QDir(base).mkpath(deadFolder + QStringLiteral("/sub")));
    writeFile(base + u'/' + deadFolder + QStringLiteral("/canvas-0.bmp"), QByteArray(1000, 'x'));
    writeFile(base + u'/' + deadBitmap, "old");
    QVERIFY(QDir(base).mkdir(liveFolder));
    // A link named like ours, pointing at someone's folder, is neither followed nor removed.
    QVERIFY(QDir(base).mkdir(QStringLiteral("precious")));
    writeFile(base + QStringLiteral("/precious/keep.txt"), "keep");
    const QString link = QStringLiteral("kestrovia-%1-Lnk456").arg(dead);
    QVERIFY(QFile::link(base + QStringLiteral("/precious"), base + u'/' + link));

    QCOMPARE(removeStaleTempFiles(base), 2);
    const QStringList left = QDir(base).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    QCOMPARE(QSet<QString>(left.begin(), left.end()), QSet<QString>({link, liveFolder, QStringLiteral("precious")}));
    QCOMPARE(readFile(base + QStringLiteral("/precious/keep.txt")), QByteArray("keep"));
}

void TestExport::writeReplacing_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("says"); // empty: the write succeeds
    QTest::newRow("new file") << "" << "";
    QTest::newRow("existing file keeps its mode") << "file640" << "";
    QTest::newRow("symbolic link is replaced") << "link" << "";
    QTest::newRow("dangling link is replaced") << "dangling" << "";
    QTest::newRow("folder in the way") << "folder" << "フォルダ";
    QTest::newRow("name too long") << "long" << "長すぎます";
    QTest::newRow("missing folder") << "missing" << "見つかりません";
}

void TestExport::writeReplacing()
{
    QFETCH(QString, setup);
    QFETCH(QString, says);
    const QString dir = m_folder->path();
    const QString victim = dir + QStringLiteral("/victim.jpg");
    writeFile(victim, "victim");
    QString out = dir + QStringLiteral("/out.jpg");
    if (setup == u"file640") {
        writeFile(out, "old");
        QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    } else if (setup == u"link") {
        QVERIFY(QFile::link(victim, out));
    } else if (setup == u"dangling") {
        QVERIFY(QFile::link(dir + QStringLiteral("/nowhere.jpg"), out));
    } else if (setup == u"folder") {
        QVERIFY(QDir(dir).mkdir(QStringLiteral("out.jpg")));
    } else if (setup == u"long") {
        out = dir + u'/' + QString(300, u'あ') + QStringLiteral(".jpg");
    } else if (setup == u"missing") {
        out = dir + QStringLiteral("/gone/out.jpg");
    }
    try {
        writeFileReplacing(out, "new content");
        QVERIFY2(says.isEmpty(), "the write should have failed");
        QCOMPARE(readFile(out), QByteArray("new content"));
        QVERIFY(!QFileInfo(out).isSymLink());
        QCOMPARE(modeOf(out), setup == u"file640" ? mode_t(0640) : mode_t(0666 & ~::umask(022)));
    } catch (const Failure &f) {
        QVERIFY2(!says.isEmpty() && f.message().contains(says), qPrintable(f.message()));
    }
    // Whatever happened: the link's target is untouched, and no temporary file is left.
    QCOMPARE(readFile(victim), QByteArray("victim"));
    const QStringList hidden = QDir(dir).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".kestrovia"));
    QCOMPARE(hidden, QStringList());
}

void TestExport::fullDiskKeepsExistingOutput()
{
    const QString small = m_folder->filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(small));
    if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("cannot mount a small file system here (needs root)");
    const QString out = small + QStringLiteral("/photo_b.jpg");
    writeFile(out, "an earlier output");
    // A noisy picture compresses badly: far more than the 64 KB there are.
    QImage noise(400, 400, QImage::Format_RGB32);
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 400; ++x)
            noise.setPixel(x, y, qRgb((x * 7919 + y * 104729) % 251, (x * y) % 253, (x ^ y) % 255));
    m_canvas = noise;
    QString message;
    try {
        exportJob(m_canvas, job(QStringLiteral("photo.jpg"), small + u'/', QStringLiteral("0")));
    } catch (const Failure &f) {
        message = f.message();
    }
    const QByteArray kept = readFile(out);
    const QStringList left = QDir(small).entryList(QDir::Files | QDir::Hidden);
    ::umount(QFile::encodeName(small).constData());
    QVERIFY2(message.contains(QStringLiteral("空き容量")), qPrintable(message));
    QCOMPARE(kept, QByteArray("an earlier output"));
    QCOMPARE(left, QStringList{QStringLiteral("photo_b.jpg")});
}

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
