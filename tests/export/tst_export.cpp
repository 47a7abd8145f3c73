// Export of one job: naming, quality, the converter's safety and the temporary bitmap.

#include "export/converter.h"
#include "export/export.h"
#include "export/outputname.h"
#include "export/privatetemp.h"
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
    void exportWritesJpegAndRemovesBitmap();
    void exportFailures_data();
    void exportFailures();
    void failedConversionKeepsExistingOutput();
    void chromaFollowsQuality_data();
    void chromaFollowsQuality();
    void convertsEveryBitmapLayout_data();
    void convertsEveryBitmapLayout();
    void japanesePathWithSpaces();
    void temporaryFilesArePrivate();
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
    QTest::newRow("jpeg is not jpg") << "photo.jpeg" << "jpeg" << "photo.jpg";
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

void TestExport::exportWritesJpegAndRemovesBitmap()
{
    const QString folder = m_folder->path() + u'/';
    const QString out = exportJob(m_canvas, job(QStringLiteral("photo.jpg"), folder));
    QCOMPARE(out, folder + QStringLiteral("photo_b.jpg"));
    const DecodedPicture p = decodePicture(out);
    QCOMPARE(p.size, QSize(64, 48));
    QVERIFY(near(p.image.pixel(2, 2), kRed, 40));
    QVERIFY(near(p.image.pixel(61, 45), kYellow, 40));
    QVERIFY(!QFile::exists(temporaryBitmapPath()));
    // Nothing but the output is left in the folder.
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), QStringList{QStringLiteral("photo_b.jpg")});
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
    QVERIFY(!QFile::exists(temporaryBitmapPath()));
}

void TestExport::failedConversionKeepsExistingOutput()
{
    const QString output = m_folder->filePath(QStringLiteral("photo_b.jpg"));
    const QByteArray before("an earlier output that must survive");
    writeFile(output, before);
    // A bitmap that ends early: the conversion fails after the output was chosen.
    const QString bitmap = m_folder->filePath(QStringLiteral("broken.bmp"));
    const QByteArray full = bmp(quadrants(64, 48), 24);
    writeFile(bitmap, full.left(full.size() / 2));
    QVERIFY_THROWS_EXCEPTION(Failure, BmpToJpegFromFileName(bitmap, output, 80));
    QCOMPARE(readFile(output), before);
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files).size(), 2); // no partial file left

    // A zero-byte bitmap as well.
    writeFile(bitmap, QByteArray());
    QVERIFY_THROWS_EXCEPTION(Failure, BmpToJpegFromFileName(bitmap, output, 80));
    QCOMPARE(readFile(output), before);

    // And the success case replaces it.
    writeFile(bitmap, full);
    BmpToJpegFromFileName(bitmap, output, 80);
    QCOMPARE(decodePicture(output).size, QSize(64, 48));
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
    const QString bitmap = m_folder->filePath(QStringLiteral("canvas.bmp"));
    const QString output = m_folder->filePath(QStringLiteral("out.jpg"));
    writeBitmap(quadrants(64, 48), bitmap);
    BmpToJpegFromFileName(bitmap, output, quality);
    const QByteArray data = readFile(output);
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
    QVERIFY2(data.size() < standard.size(), qPrintable(QStringLiteral("%1 vs %2").arg(data.size()).arg(standard.size())));
}

void TestExport::convertsEveryBitmapLayout_data()
{
    QTest::addColumn<QByteArray>("bitmap");
    const QImage q = quadrants(64, 48);
    QTest::newRow("24 bottom-up") << bmp(q, 24);
    QTest::newRow("24 top-down") << bmp(q, 24, true);
    QTest::newRow("32") << bmp(q, 32);
    QTest::newRow("8 palette") << bmp(q, 8);
    QTest::newRow("24 odd width") << bmp(quadrants(63, 47), 24);
}

void TestExport::convertsEveryBitmapLayout()
{
    QFETCH(QByteArray, bitmap);
    const QString in = m_folder->filePath(QStringLiteral("in.bmp"));
    const QString out = m_folder->filePath(QStringLiteral("out.jpg"));
    writeFile(in, bitmap);
    BmpToJpegFromFileName(in, out, 95);
    const DecodedPicture p = decodePicture(out);
    const QSize s = p.size;
    QVERIFY(near(p.image.pixel(2, 2), kRed, 40));
    QVERIFY(near(p.image.pixel(s.width() - 3, 2), kGreen, 40));
    QVERIFY(near(p.image.pixel(2, s.height() - 3), kBlue, 40));
    QVERIFY(near(p.image.pixel(s.width() - 3, s.height() - 3), kYellow, 40));
}

void TestExport::japanesePathWithSpaces()
{
    const QString folder = m_folder->path() + QStringLiteral("/出力 フォルダ/");
    QVERIFY(QDir().mkpath(folder));
    const QString out = exportJob(m_canvas, job(QStringLiteral("夏の 海.bmp"), folder, QStringLiteral("0")));
    QCOMPARE(out, folder + QStringLiteral("夏の 海.jpg"));
    QVERIFY(QFile::exists(out));
    QCOMPARE(decodePicture(out).size, QSize(64, 48));
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

void TestExport::temporaryFilesArePrivate()
{
    QCOMPARE(modeOf(privateTempFolder()), mode_t(0700));
    QVERIFY(temporaryBitmapPath(0) != temporaryBitmapPath(1));

    // A victim file and links planted at every name an attacker could guess: the
    // first release's bitmap names and our worker names in a shared folder.
    const QString victim = m_folder->filePath(QStringLiteral("victim.txt"));
    writeFile(victim, "private");
    const QString pid = QString::number(::getpid());
    const QStringList planted = {QDir::temp().filePath(QStringLiteral("kestrovia-%1.bmp").arg(pid)),
                                 QCoreApplication::applicationDirPath() + QStringLiteral("/kestrovia-%1.bmp").arg(pid),
                                 QDir::temp().filePath(QStringLiteral("canvas-0.bmp"))};
    for (const QString &link : planted)
        QFile::link(victim, link);
    exportJob(m_canvas, job(QStringLiteral("photo.jpg"), m_folder->path() + u'/'));
    for (const QString &link : planted)
        QFile::remove(link);
    QCOMPARE(readFile(victim), QByteArray("private"));

    // The bitmap itself: owner-only, and never written through a link.
    const QString bitmap = temporaryBitmapPath(3);
    writeBitmap(quadrants(8, 8), bitmap);
    QCOMPARE(modeOf(bitmap), mode_t(0600));
    QFile::remove(bitmap);
    QVERIFY(QFile::link(victim, bitmap));
    QVERIFY_THROWS_EXCEPTION(Failure, writeBitmap(quadrants(8, 8), bitmap));
    QCOMPARE(readFile(victim), QByteArray("private"));
    QFile::remove(bitmap);
}

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
