// Export of one job: naming, quality, the converter's safety and the temporary bitmap.

#include "export/converter.h"
#include "export/export.h"
#include "export/outputname.h"
#include "compose/picturedecoder.h"
#include "compose/surface.h"
#include "platform/failure.h"
#include "tests/compose/testpictures.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

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

private:
    void makeCanvas(int w, int h);
    // A fresh folder per test, so each sees only its own files.
    std::unique_ptr<QTemporaryDir> m_folder;
    Surface m_canvas{TwipsPerPixel{15, 15}};
};

void TestExport::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    makeCanvas(64, 48);
}

void TestExport::makeCanvas(int w, int h)
{
    m_canvas.resize(w * 15, h * 15);
    m_canvas.setBackingImage(quadrants(w, h));
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
    QTEST(jpegQuality(compressionLevel(level)), "quality");
}

void TestExport::levelNotANumber()
{
    QVERIFY_THROWS_EXCEPTION(Failure, compressionLevel(u"abc"));
    QVERIFY_THROWS_EXCEPTION(Failure, compressionLevel(u""));
    QVERIFY_THROWS_EXCEPTION(Failure, compressionLevel(u"99999"));
}

void TestExport::exportWritesJpegAndRemovesBitmap()
{
    const QString folder = m_folder->path() + u'/';
    const QString out = exportJob(m_canvas, QStringLiteral("photo.jpg"), folder, u"5");
    QCOMPARE(out, folder + QStringLiteral("photo_b.jpg"));
    const DecodedPicture p = decodePicture(out);
    QCOMPARE(p.size, QSize(64, 48));
    QVERIFY(near(p.image.pixel(2, 2), kRed, 40));
    QVERIFY(near(p.image.pixel(61, 45), kYellow, 40));
    QVERIFY(!QFile::exists(temporaryBitmapPath()));
    QVERIFY(temporaryBitmapPath().contains(QString::number(QCoreApplication::applicationPid())));
    // Nothing but the output is left in the folder.
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), QStringList{QStringLiteral("photo_b.jpg")});
}

void TestExport::exportFailures_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("says");
    QTest::newRow("empty folder text") << "" << "指定されていません";
    QTest::newRow("missing folder") << "/nonexistent/out/" << "ありません";
    QTest::newRow("folder is a file") << "FILE/" << "ありません";
    // Fails in the conversion, after the temporary bitmap was written.
    QTest::newRow("output name taken by a folder") << "TAKEN/" << "フォルダのため";
}

void TestExport::exportFailures()
{
    QFETCH(QString, folder);
    QFETCH(QString, says);
    if (folder.startsWith(u"FILE")) {
        writeFile(m_folder->filePath(QStringLiteral("plain")), "x");
        folder = m_folder->filePath(QStringLiteral("plain")) + u'/';
    } else if (folder.startsWith(u"TAKEN")) {
        QVERIFY(QDir(m_folder->path()).mkdir(QStringLiteral("photo_b.jpg")));
        folder = m_folder->path() + u'/';
    }
    try {
        exportJob(m_canvas, QStringLiteral("photo.jpg"), folder, std::int16_t(5));
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
    const QString out = exportJob(m_canvas, QStringLiteral("夏の 海.bmp"), folder, std::int16_t(0));
    QCOMPARE(out, folder + QStringLiteral("夏の 海.jpg"));
    QVERIFY(QFile::exists(out));
    QCOMPARE(decodePicture(out).size, QSize(64, 48));
}

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
