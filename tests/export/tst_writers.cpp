// The outputs beside JPEG: each format's file read back by its own library and by
// exiv2, with the metadata choice applied, the mark found again, transparency
// kept, and one level scale that shrinks the file in every format.

#include "compose/memorybudget.h"
#include "compose/pictureformat.h"
#include "export/export.h"
#include "export/outputname.h"
#include "export/programmark.h"
#include "export/writers.h"
#include "tests/common/camerametadata.h"
#include "tests/common/formatpictures.h"
#include "tests/common/formatreaders.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <zlib.h>

using namespace kestrovia;
using namespace testpics;

namespace {

constexpr OutputFormat kFormats[] = {OutputFormat::Jpeg, OutputFormat::WebP, OutputFormat::Avif, OutputFormat::Png};

Job jobFor(OutputFormat format, int level = 5, MetadataChoice choice = MetadataChoice::KeepAll)
{
    Job job;
    job.format = format;
    job.level = std::int16_t(level);
    job.metadata = choice;
    return job;
}

// Half the picture transparent, a quarter half-transparent orange, a quarter opaque blue.
QImage withTransparency(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, x < w / 2 ? 0u : y < h / 2 ? qRgba(255, 128, 0, 128) : qRgba(0, 0, 255, 255));
    return img;
}

// Whether every chunk of a PNG holds the CRC of its type and data: a reader
// drops an ancillary chunk (the XMP) whose CRC is wrong.
bool pngChecksumsRight(const QByteArray &png)
{
    const auto be32 = [&png](qsizetype at) {
        const auto *p = reinterpret_cast<const uchar *>(png.constData()) + at;
        return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
    };
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const qsizetype length = be32(at);
        if (length > png.size() - at - 12)
            return false;
        const uLong crc =
            crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(png.constData()) + at + 4, uInt(length + 4));
        if (crc != be32(at + 8 + length))
            return false;
        at += 12 + length;
    }
    return true;
}

QString describeRgba(QRgb c)
{
    return QStringLiteral("(%1,%2,%3,%4)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c)).arg(qAlpha(c));
}

} // namespace

class TestWriters : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // clang-format off
    void naming_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("output");
        QTest::newRow("jpg to webp") << "photo.jpg" << int(OutputFormat::WebP) << "photo.webp";
        QTest::newRow("webp to webp keeps the source") << "photo.WebP" << int(OutputFormat::WebP) << "photo_b.webp";
        QTest::newRow("png to png keeps the source") << "logo.PNG" << int(OutputFormat::Png) << "logo_b.png";
        QTest::newRow("jpeg to png") << "photo.jpeg" << int(OutputFormat::Png) << "photo.png";
        QTest::newRow("heic to avif") << "IMG_0001.HEIC" << int(OutputFormat::Avif) << "IMG_0001.avif";
        QTest::newRow("avif to avif keeps the source") << "a.avif" << int(OutputFormat::Avif) << "a_b.avif";
        QTest::newRow("png to jpeg as always") << "photo.png" << int(OutputFormat::Jpeg) << "photo.jpg";
        QTest::newRow("jpe to jpeg as always") << "photo.jpe" << int(OutputFormat::Jpeg) << "photo_b.jpg";
    }
    // clang-format on
    void naming()
    {
        QFETCH(QString, name);
        QFETCH(int, format);
        QTEST(outputFileName(name, OutputFormat(format)), "output");
    }

    // Each format with each metadata choice: the file decodes with its own
    // library, at its size and colours; the tags the choice keeps are there and
    // the ones it drops are not; the mark and the profile are always there, and
    // the mark is found in the file itself (no attribute here).
    void formatsCarryTheChoice_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("choice");
        QTest::addColumn<bool>("camera");
        QTest::addColumn<bool>("place");
        for (OutputFormat f : kFormats) {
            const QByteArray name = formatText(f).toLatin1();
            QTest::addRow("%s すべて残す", name.constData()) << int(f) << int(MetadataChoice::KeepAll) << true << true;
            QTest::addRow("%s 位置情報を除く", name.constData())
                << int(f) << int(MetadataChoice::DropLocation) << true << false;
            QTest::addRow("%s すべて除く", name.constData())
                << int(f) << int(MetadataChoice::DropAll) << false << false;
        }
    }
    void formatsCarryTheChoice()
    {
        QFETCH(int, format);
        QFETCH(int, choice);
        QFETCH(bool, camera);
        QFETCH(bool, place);
        const OutputFormat f = OutputFormat(format);
        const QByteArray source = withPlaces(qtEncoded(quadrants(80, 60), "jpeg"));
        const QByteArray profile = adobeLikeProfile();
        const QByteArray file = encodeJob(quadrants(64, 48), jobFor(f, 5, MetadataChoice(choice)),
                                          embeddedMetadata(source, PictureFormat::Jpeg), profile);

        const QImage decoded = decodedByItsLibrary(f, file);
        QCOMPARE(decoded.size(), QSize(64, 48));
        for (const auto &[x, y, want] :
             {std::tuple{16, 12, kRed}, {48, 12, kGreen}, {16, 36, kBlue}, {48, 36, kYellow}})
            QVERIFY2(near(decoded.pixel(x, y), want), qPrintable(describe(decoded.pixel(x, y))));

        const ReadBack r = readBack(file);
        QCOMPARE(!r.exif("Exif.Image.Make").isEmpty(), camera);
        QCOMPARE(!r.exif("Exif.Photo.DateTimeOriginal").isEmpty(), camera);
        QCOMPARE(!r.xmp("Xmp.dc.creator").isEmpty(), camera);
        // The IPTC copyright, in the XMP where the format has no IPTC.
        if (f == OutputFormat::Jpeg)
            QCOMPARE(r.iptcData.findKey(Exiv2::IptcKey("Iptc.Application2.Copyright")) != r.iptcData.end(), camera);
        else
            QCOMPARE(r.xmp("Xmp.dc.rights").contains("Aoi Tanaka"), camera);
        const auto anyOf = [](const auto &data, const char *text) {
            return std::any_of(data.begin(), data.end(),
                               [&](const auto &d) { return d.key().find(text) != std::string::npos; });
        };
        QCOMPARE(anyOf(r.exifData, "GPSInfo"), place);
        for (const char *key : {"GPSLatitude", "City", "Location", "GpsLongitude", "Country"})
            QVERIFY2((anyOf(r.xmpData, key) || anyOf(r.iptcData, key)) == place, key);
        QCOMPARE(r.exif("Exif.Image.Orientation"), camera ? QString("1") : QString());
        QCOMPARE(r.exif("Exif.Photo.PixelXDimension"), "64");
        QCOMPARE(r.exif("Exif.Image.Software"), programMark());
        QCOMPARE(r.xmp("Xmp.xmp.CreatorTool"), programMark());
        QCOMPARE(r.icc, profile);

        const QString path = m_dir.filePath(QStringLiteral("out-%1-%2").arg(format).arg(choice));
        writeFile(path, file);
        QVERIFY(isKestroviaOutput(path));
        if (f == OutputFormat::Png)
            QVERIFY(pngChecksumsRight(file));
        const QString faults = newFaults(source, file);
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
    }

    // The mark is found in whichever block holds it, and only within the bound: a
    // sealed output is ours by its record alone (no attribute here), a byte changed
    // anywhere makes it the user's; another program's file and broken containers
    // are not ours (and cost no crash).
    void markInEachContainer_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<OutputMark>("mark");
        const QImage canvas = quadrants(32, 24);
        const OutputMetadata ours = outputMetadata({}, canvas.size(), {}, MetadataChoice::KeepAll);
        OutputMetadata exifOnly = ours, xmpOnly = ours, other = ours;
        exifOnly.xmp.clear();
        xmpOnly.exif.clear();
        other.exif.clear();
        other.xmp.replace("Kestrovia", "Kestrel Pro").replace("kestrovia", "kestrel");
        OutputMetadata prefixed = exifOnly;
        prefixed.exif.prepend(QByteArray("Exif\0\0", 6));
        const auto sealed = [](QByteArray file) { return sealOutput(file) ? file : QByteArray(); };
        const auto pixelChanged = [](QByteArray file) {
            // A byte of the picture data, near the end, far from the metadata.
            if (file.size() > 20)
                file[file.size() - 20] = char(file[file.size() - 20] ^ 0x10);
            return file;
        };
        using Encode = QByteArray (*)(const QImage &, const OutputMetadata &);
        const std::pair<const char *, Encode> formats[] = {
            {"webp", [](const QImage &c, const OutputMetadata &m) { return encodeWebp(c, {}, m); }},
            {"avif", [](const QImage &c, const OutputMetadata &m) { return encodeAvif(c, {}, m); }},
            {"png", [](const QImage &c, const OutputMetadata &m) { return encodePng(c, {}, m); }},
        };
        for (const auto &[format, encode] : formats) {
            // Marks without a record, and no attribute: a file saved again since
            // (or, where no attribute is kept, one that nothing can check).
            for (const auto &[name, metadata, mark] : {std::tuple{"EXIF only", exifOnly, OutputMark::Changed},
                                                       {"XMP only", xmpOnly, OutputMark::Changed},
                                                       {"another program's XMP", other, OutputMark::None},
                                                       {"no metadata", OutputMetadata{}, OutputMark::None}})
                QTest::addRow("%s, %s", format, name) << encode(canvas, metadata) << mark;
            QTest::addRow("%s, sealed", format) << sealed(encode(canvas, ours)) << OutputMark::Ours;
            QTest::addRow("%s, sealed, a pixel byte changed", format)
                << pixelChanged(sealed(encode(canvas, ours))) << OutputMark::Changed;
        }
        QTest::newRow("webp, EXIF with JPEG's prefix") << encodeWebp(canvas, {}, prefixed) << OutputMark::Changed;
        // Broken containers: lengths and offsets past the end.
        QByteArray png = encodePng(canvas, {}, exifOnly);
        png.replace(png.indexOf("eXIf") - 4, 4, QByteArray("\x7F\xFF\xFF\xFF", 4));
        QTest::newRow("png, chunk longer than the file") << png << OutputMark::None;
        QByteArray webp = encodeWebp(canvas, {}, exifOnly);
        webp.replace(webp.indexOf("EXIF") + 4, 4, QByteArray("\xFF\xFF\xFF\x7F", 4));
        QTest::newRow("webp, chunk longer than the file") << webp << OutputMark::None;
        QByteArray avif = encodeAvif(canvas, {}, exifOnly);
        avif.replace(avif.indexOf("iloc") - 4, 4, QByteArray("\x00\x00\x00\x09", 4));
        QTest::newRow("avif, item locations cut short") << avif << OutputMark::None;
        QTest::newRow("avif cut before its items") << encodeAvif(canvas, {}, exifOnly).left(200) << OutputMark::None;
    }
    void markInEachContainer()
    {
        QFETCH(QByteArray, file);
        QVERIFY(!file.isEmpty());
        const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        writeFile(path, file);
        // Where the file system keeps no attributes, a mark without a record is
        // all that can be told: neither ours nor none.
        const OutputMark got = readOutputMark(path);
        QTEST(got == OutputMark::Unverified ? OutputMark::Changed : got, "mark");
    }

    // Transparency is written where the format stores it and the canvas has some:
    // the transparent half stays clear, the half-transparent quarter keeps its
    // colour and about half its alpha; an opaque canvas gets no alpha channel.
    void transparencyIsWritten_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("level");
        for (OutputFormat f : {OutputFormat::WebP, OutputFormat::Avif, OutputFormat::Png})
            for (int level : {0, 5}) {
                const QByteArray name = formatText(f).toLatin1();
                QTest::addRow("%s level %d", name.constData(), level) << int(f) << level;
            }
    }
    void transparencyIsWritten()
    {
        QFETCH(int, format);
        QFETCH(int, level);
        const OutputFormat f = OutputFormat(format);
        const QImage canvas = withTransparency(64, 48);
        const QByteArray file = encodeJob(canvas, jobFor(f, level));
        QVERIFY(storesAlpha(f, file));
        const QImage decoded = decodedByItsLibrary(f, file);
        QCOMPARE(decoded.size(), canvas.size());
        const QRgb clear = decoded.pixel(8, 12), half = decoded.pixel(48, 12), solid = decoded.pixel(48, 36);
        QVERIFY2(qAlpha(clear) == 0, qPrintable(describeRgba(clear)));
        QVERIFY2(std::abs(qAlpha(half) - 128) <= 8 && near(half, qRgb(255, 128, 0)), qPrintable(describeRgba(half)));
        QVERIFY2(qAlpha(solid) == 255 && near(solid, kBlue), qPrintable(describeRgba(solid)));

        QVERIFY(!storesAlpha(f, encodeJob(canvas.convertToFormat(QImage::Format_RGB32), jobFor(f, level))));
    }

    // An AVIF says what its numbers mean in its nclx box: sRGB's primaries and
    // transfer, the matrix its pixels were converted with, full range; beside a
    // profile too, as readers that go by the nclx alone (browsers) need it.
    void avifSaysSrgb_data()
    {
        QTest::addColumn<bool>("lossless");
        QTest::addColumn<bool>("withProfile");
        QTest::addColumn<int>("matrix");
        QTest::newRow("lossy") << false << false << int(heif_matrix_coefficients_ITU_R_BT_601_6);
        QTest::newRow("lossy, with a profile") << false << true << int(heif_matrix_coefficients_ITU_R_BT_601_6);
        QTest::newRow("lossless") << true << false << int(heif_matrix_coefficients_RGB_GBR);
    }
    void avifSaysSrgb()
    {
        QFETCH(bool, lossless);
        QFETCH(bool, withProfile);
        AvifSettings settings = avifSettings(5);
        settings.lossless = lossless;
        OutputMetadata metadata;
        if (withProfile)
            metadata.icc = adobeLikeProfile();
        const QByteArray file = encodeAvif(quadrants(32, 24), settings, metadata);

        heif_context *context = heif_context_alloc();
        heif_image_handle *handle = nullptr;
        heif_color_profile_nclx *nclx = nullptr;
        const auto release = qScopeGuard([&] {
            heif_nclx_color_profile_free(nclx);
            heif_image_handle_release(handle);
            heif_context_free(context);
        });
        QCOMPARE(heif_context_read_from_memory_without_copy(context, file.constData(), size_t(file.size()), nullptr).code,
                 heif_error_Ok);
        QCOMPARE(heif_context_get_primary_image_handle(context, &handle).code, heif_error_Ok);
        QCOMPARE(heif_image_handle_get_nclx_color_profile(handle, &nclx).code, heif_error_Ok);
        QCOMPARE(int(nclx->color_primaries), int(heif_color_primaries_ITU_R_BT_709_5));
        QCOMPARE(int(nclx->transfer_characteristics), int(heif_transfer_characteristic_IEC_61966_2_1));
        QTEST(int(nclx->matrix_coefficients), "matrix");
        QCOMPARE(nclx->full_range_flag, uint8_t(1));
        if (withProfile) {
            QByteArray icc(qsizetype(heif_image_handle_get_raw_color_profile_size(handle)), Qt::Uninitialized);
            QCOMPARE(heif_image_handle_get_raw_color_profile(handle, icc.data()).code, heif_error_Ok);
            QCOMPARE(icc, metadata.icc);
        }
        // The colours decoded by the box's matrix are the canvas's.
        const QImage decoded = decodedByItsLibrary(OutputFormat::Avif, file);
        for (const auto &[x, y, want] : {std::tuple{8, 6, kRed}, {24, 6, kGreen}, {8, 18, kBlue}, {24, 18, kYellow}})
            QVERIFY2(near(decoded.pixel(x, y), want), qPrintable(describe(decoded.pixel(x, y))));
    }

    // Odd and tiny canvases (a one-pixel sliver, odd sides under 4:2:0) are written
    // at their size in every format; a side beyond what WebP holds is refused with
    // its reason.
    void everySizeItsFormatHolds_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QSize>("size");
        for (OutputFormat f : kFormats)
            for (const QSize size : {QSize(1, 1), QSize(3, 5), QSize(17, 1), QSize(1, 9)})
                QTest::addRow("%s %dx%d", formatText(f).toLatin1().constData(), size.width(), size.height())
                    << int(f) << size;
    }
    void everySizeItsFormatHolds()
    {
        QFETCH(int, format);
        QFETCH(QSize, size);
        QImage canvas(size, QImage::Format_RGB32);
        canvas.fill(kBlue);
        const QImage decoded =
            decodedByItsLibrary(OutputFormat(format), encodeJob(canvas, jobFor(OutputFormat(format))));
        QCOMPARE(decoded.size(), size);
        QVERIFY2(near(decoded.pixel(0, 0), kBlue), qPrintable(describe(decoded.pixel(0, 0))));
    }
    void webpSidesAreBounded()
    {
        const QString why =
            failureOf([] { encodeJob(QImage(16384, 2, QImage::Format_RGB32), jobFor(OutputFormat::WebP)); });
        QVERIFY2(why.contains(QStringLiteral("16383")), qPrintable(why));
    }

    // An encoder's memory comes from the process's budget: a canvas it cannot hold
    // is refused with a reason, not left to end the process.
    void encodersReserveTheirMemory_data()
    {
        QTest::addColumn<int>("format");
        for (OutputFormat f : {OutputFormat::WebP, OutputFormat::Avif, OutputFormat::Png})
            QTest::newRow(formatText(f).toLatin1().constData()) << int(f);
    }
    void encodersReserveTheirMemory()
    {
        QFETCH(int, format);
        const QImage canvas = quadrants(1000, 1000);
        memorybudget::setLimits(4 << 20, 0);
        const QString why = failureOf([&] { encodeJob(canvas, jobFor(OutputFormat(format))); });
        memorybudget::setLimits(0, 0);
        QVERIFY2(why.contains(QStringLiteral("メモリ")), qPrintable(why));
        QCOMPARE(memorybudget::inUse(), 0);
    }

    // One scale for every format: each level's file is smaller than the level
    // before's on a photo (PNG: never larger, its level is effort only); level 0
    // of WebP and PNG is lossless.
    void levelsShrinkInEveryFormat_data()
    {
        QTest::addColumn<int>("format");
        for (OutputFormat f : kFormats)
            QTest::newRow(formatText(f).toLatin1().constData()) << int(f);
    }
    void levelsShrinkInEveryFormat()
    {
        QFETCH(int, format);
        const OutputFormat f = OutputFormat(format);
        const QImage photo = photoLike(320, 240);
        qsizetype before = 0;
        for (int level = 0; level <= 10; ++level) {
            const QByteArray file = encodeJob(photo, jobFor(f, level, MetadataChoice::DropAll));
            const bool shrinks = f == OutputFormat::Png ? file.size() <= before : file.size() < before;
            QVERIFY2(level == 0 || shrinks, qPrintable(QStringLiteral("level %1: %2 bytes, level %3: %4")
                                                           .arg(level)
                                                           .arg(file.size())
                                                           .arg(level - 1)
                                                           .arg(before)));
            before = file.size();
            if (level == 0 && (f == OutputFormat::WebP || f == OutputFormat::Png))
                QCOMPARE(decodedByItsLibrary(f, file), photo.convertToFormat(QImage::Format_ARGB32));
        }
    }
};

QTEST_GUILESS_MAIN(TestWriters)
#include "tst_writers.moc"
