// Hostile files made here, each written to a file (sparse where it is large) and
// run through the header probe, the batch's route from the file and the whole
// decode, with the memory budget's observer recording the most held at once and
// the bytes read counted: each is refused with its reason, or converted at the
// picture size it shows, within its bounds.

#include "compose/jobcompose.h"
#include "compose/memorybudget.h"
#include "compose/picturedecoder.h"
#include "compose/pictureprobe.h"
#include "compose/sourcefile.h"
#include "platform/stop.h"
#include "tests/common/hostilestreams.h"
#include "tests/common/testpictures.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>

using namespace kestrovia;
using namespace testpics;
using namespace testpics::hostile;

namespace {

constexpr qint64 kKB = 1024, kMB = 1024 * 1024;

} // namespace

class TestHostileFiles : public QObject {
    Q_OBJECT

private slots:
    // clang-format off
    void refusedOrConvertedWithinBounds_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<qint64>("fileSize"); // made sparse up to this size
        QTest::addColumn<QSize>("picture"); // converted at this size; invalid: refused
        QTest::addColumn<QString>("says"); // the refusal's reason, in part
        QTest::addColumn<bool>("probeSees"); // the header probe refuses it too
        QTest::addColumn<qint64>("maxReserved"); // at once, by any attempt
        QTest::addColumn<qint64>("maxRead"); // by any one attempt

        // GIF: the first frame is what is shown; a vast screen it leaves empty costs
        // nothing, and nothing after the frame is read.
        QTest::newRow("gif 1x1 frame on a 11333x21804 screen")
            << gifFrame(11333, 21804, 0, 0, 1, 1, 1) << qint64(0) << QSize(1, 1) << QString() << false
            << kMB << 128 * kKB;
        QTest::newRow("gif 16383x16383 frame on a 16x16 screen")
            << gifFrame(16, 16, 0, 0, 16383, 16383, 170) << qint64(0) << QSize(16, 16) << QString() << false
            << kMB << 128 * kKB;
        QTest::newRow("gif 16x16 padded to 1.9 GB")
            << gifFrame(16, 16, 0, 0, 16, 16, 256) << (qint64(1900) << 20) << QSize(16, 16) << QString() << false
            << kMB << 128 * kKB;
        QTest::newRow("gif 33633x70 frame across a 18051x14136 screen (fuzzer)")
            << QByteArray::fromBase64("R0lGODdhg0Y4N2FGRyxGOC03YYNGAAAAAOIABNM=") << qint64(0) << QSize(3645, 11)
            << QString() << false << kMB << 128 * kKB;
        QTest::newRow("gif 5000x5000 frame of a few bytes")
            << gifFrame(5000, 5000, 0, 0, 5000, 5000, 10) << qint64(0) << QSize() << "データが少なすぎます" << false
            << qint64(0) << 128 * kKB;
        QTest::newRow("gif frame beside a 5000x5000 screen")
            << gifFrame(5000, 5000, 6000, 0, 16, 16, 256) << qint64(0) << QSize() << "GIF ファイルが壊れている"
            << true << qint64(0) << 128 * kKB;

        // PNG: a chunk's claimed length is never allocated, wherever the chunk lies.
        QTest::newRow("png text chunk claiming 2 GB after the pixels")
            << pngTextAfterPixels(2000000000u) << qint64(0) << QSize() << "PNG ファイルが途中で切れている" << false
            << 16 * kMB << 64 * kKB;

        // WebP: chunks are walked from their headers, a bounded number of them, and
        // libwebp is given the picture's own chunks.
        QTest::newRow("webp followed by a million empty chunks")
            << webpWithEmptyChunks(1'000'000) << qint64(0) << QSize(16, 16) << QString() << false << 16 * kMB
            << 64 * kKB;

        // HEIF: the probe reads the boxes libheif asks for, and a grid is held to
        // what its data can be.
        QTest::newRow("heif ftyp and 1.9 GB of zeros")
            << heifFtyp() << (qint64(1900) << 20) << QSize() << "HEIF ファイルが壊れている" << true << qint64(0)
            << 64 * kKB;
        const QByteArray grid = heifGrid(512, 20, 20, 10000, 10000);
        if (!grid.isEmpty())
            QTest::newRow("heif grid declaring 100 MP in 17 KB")
                << grid << qint64(0) << QSize() << "データが少なすぎます" << true << qint64(0) << 256 * kKB;

        // JPEG: scans are counted and compared from their headers, before the
        // coefficients of the picture are reserved.
        QTest::newRow("jpeg 20000x20000 repeating one scan 2,000 times")
            << repeatedScanJpeg(20000, 20000, 2000) << qint64(0) << QSize() << "同じスキャンが繰り返されています"
            << false << qint64(0) << 3 * kMB;
        QTest::newRow("jpeg of 101 scans") << manyScansJpeg(512, 512, 100) << qint64(0) << QSize()
                                           << "スキャンが多すぎる" << false << qint64(0) << 64 * kKB;
        QTest::newRow("jpeg of 100 scans") << manyScansJpeg(512, 512, 99) << qint64(0) << QSize(512, 512)
                                           << QString() << false << 16 * kMB << 64 * kKB;
        QTest::newRow("jpeg start and 600 MB without a frame")
            << frameless() << (qint64(600) << 20) << QSize() << "先頭 16 MB に画像の始まりがありません" << true
            << qint64(0) << 16 * kMB + 128 * kKB;
    }
    // clang-format on
    void refusedOrConvertedWithinBounds()
    {
        QFETCH(QByteArray, data);
        QFETCH(qint64, fileSize);
        QFETCH(QSize, picture);
        QFETCH(QString, says);
        QFETCH(bool, probeSees);
        QFETCH(qint64, maxReserved);
        QFETCH(qint64, maxRead);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("hostile"));
        writeFile(path, data);
        if (fileSize)
            QVERIFY(QFile::resize(path, fileSize));
        qint64 peak = 0;
        memorybudget::setObserver([&](qint64 bytes) { peak = std::max(peak, memorybudget::inUse() + bytes); });
        const auto unobserved = qScopeGuard([] { memorybudget::setObserver({}); });
        qint64 read = 0;
        const auto attempt = [&](const std::function<void()> &f) {
            const qint64 before = sourceBytesRead();
            const QString why = failureOf(f);
            read = sourceBytesRead() - before;
            return why;
        };

        PictureInfo info;
        const QString probed = attempt([&] { info = probePicture(path); });
        QVERIFY2(read <= maxRead, qPrintable(QStringLiteral("the probe read %1 bytes").arg(read)));
        if (probeSees)
            QVERIFY2(probed.contains(says), qPrintable(probed));
        else
            QVERIFY2(probed.isEmpty(), qPrintable(probed));
        if (picture.isValid())
            QCOMPARE(info.size, picture);

        ComposedJob composed;
        const QString batch =
            attempt([&] { composed = composeJobFile(readJob(fittedRow(path, QStringLiteral("1600*1200")))); });
        QVERIFY2(read <= maxRead, qPrintable(QStringLiteral("the batch read %1 bytes").arg(read)));
        DecodedPicture decoded;
        const QString whole = attempt([&] { decoded = decodePicture(path, QSize(1600, 1200)); });
        QVERIFY2(read <= maxRead, qPrintable(QStringLiteral("the decode read %1 bytes").arg(read)));
        if (picture.isValid()) {
            QVERIFY2(batch.isEmpty() && whole.isEmpty(), qPrintable(batch + whole));
            QCOMPARE(composed.pictureSize, picture);
            QCOMPARE(composed.canvas.size(), QSize(1600, 1200));
            QCOMPARE(decoded.size, picture);
        } else {
            QVERIFY2(batch.contains(says), qPrintable(batch));
            QVERIFY2(whole.contains(says), qPrintable(whole));
        }
        QVERIFY2(peak <= maxReserved, qPrintable(QString::number(peak)));
    }

    // Another program shortens the file once its header has been read: each format
    // either has its picture already or is refused with a reason, and none brings
    // the program down (libheif asserts that its reads succeed).
    void fileShortenedAfterItsHeader_data()
    {
        QTest::addColumn<QByteArray>("data");
        const QImage picture = quadrants(600, 400);
        QTest::newRow("jpeg") << jpeg(picture, 90, TJSAMP_420);
        QTest::newRow("progressive jpeg") << jpeg(picture, 90, TJSAMP_420, TJFLAG_PROGRESSIVE);
        QTest::newRow("png") << qtEncoded(picture, "png");
        QTest::newRow("webp") << qtEncoded(picture, "webp", 90);
        QTest::newRow("tiff") << qtEncoded(picture, "tiff");
        QTest::newRow("bmp") << bmp(picture, 24);
        QTest::newRow("gif") << gifFrame(600, 400, 0, 0, 600, 400, 240000);
        QTest::newRow("heic") << heic(picture);
        QTest::newRow("heic grid") << heifGrid(256, 4, 4, 1000, 1000);
    }
    void fileShortenedAfterItsHeader()
    {
        QFETCH(QByteArray, data);
        if (data.isEmpty())
            QSKIP("libheif has no HEVC encoder here");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("shortened"));
        writeFile(path, data);
        QSize header;
        DecodedPicture decoded;
        const QString why = failureOf([&] {
            decoded = decodePicture(path, [&](QSize size) {
                header = size;
                QFile::resize(path, data.size() / 4);
                return QSize();
            });
        });
        QVERIFY(header.isValid());
        if (why.isEmpty())
            QCOMPARE(decoded.size, header);
        else
            QVERIFY2(why.contains(QString::fromUtf8("読み込めません")), qPrintable(why));
    }

    // libheif decodes a picture in one call, but reads a grid's tiles one after
    // another: a stop request raised while the first ones are read ends the decode
    // before the rest are read.
    void heifGridStopsBetweenTiles()
    {
        const QByteArray grid = heifGrid(256, 8, 8, 2048, 2048);
        if (grid.isEmpty())
            QSKIP("libheif has no HEVC encoder here");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("grid.heic"));
        writeFile(path, grid);
        const PictureSource source = PictureSource::open(path);
        // The bytes a whole decode reads.
        qint64 before = sourceBytesRead();
        QCOMPARE(decodePictureSource(source, {}).size, QSize(2048, 2048));
        const qint64 whole = sourceBytesRead() - before;

        const StopFlag flag;
        const qint64 tile = boxNamed(grid, "mdat").size() - 10;
        qint64 decoding = -1;
        before = sourceBytesRead();
        setSourceReadObserver([&](qint64 total) {
            // Past the header: the tiles' data, each read as its tile is decoded.
            if (decoding < 0 && total - before > whole - 64 * tile)
                decoding = total, flag.requestStop();
        });
        {
            const StopScope scope(flag);
            QVERIFY_THROWS_EXCEPTION(Stopped, decodePictureSource(source, {}));
        }
        setSourceReadObserver({});
        QVERIFY(decoding >= 0);
        QVERIFY2(sourceBytesRead() - decoding < 8 * tile, qPrintable(QString::number(sourceBytesRead() - decoding)));
        QCOMPARE(memorybudget::inUse(), 0);
    }
};

QTEST_GUILESS_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
