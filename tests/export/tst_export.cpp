// Export of one job: naming, quality, the encoder's settings, the source's metadata
// made right for the new picture (what cannot go is left out, never fatal), safe
// writing and the stale temporary files.

#include "compose/picturedecoder.h"
#include "compose/pictureformat.h"
#include "export/converter.h"
#include "export/export.h"
#include "export/metadata.h"
#include "export/outputname.h"
#include "export/programmark.h"
#include "export/safewrite.h"
#include "export/staletemp.h"
#include "tests/common/camerametadata.h"
#include "tests/common/formatpictures.h"
#include "tests/common/retouch.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <tiffio.h>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using namespace kestrovia;
using namespace testpics;

namespace {

// A job into folder at level, for the picture named name.
JobRow job(const QString &name, const QString &folder, const QString &level = QStringLiteral("5"))
{
    JobRow j;
    j.fileName = name;
    j.saveFolder = folder;
    j.compression = level;
    j.backColor = QStringLiteral("16777215");
    return j;
}

// A picture in a format exiv2 writes metadata into.
QByteArray picture(const char *format) { return qtEncoded(quadrants(80, 60), format); }

// The metadata of a source file's bytes, as the decoder hands it on.
SourceMetadata metadataOf(const QByteArray &source)
{
    return readSourceMetadata(embeddedMetadata(source, sniffPictureFormat(source)));
}

// The same, as the decoder finds it reading the file in bands (the batch's route).
SourceMetadata metadataOfFile(const QByteArray &source)
{
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("source")));
    if (!f.open(QIODevice::WriteOnly) || f.write(source) != source.size())
        return {};
    f.close();
    return readSourceMetadata(decodePicture(f.fileName()).blocks);
}

// A big-endian TIFF written by libtiff, the camera's tags in its first directory and
// the Exif and GPS directories after the picture's, as raw converters write them.
QByteArray libtiffCameraPicture(const QImage &image)
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("camera.tif")));
    TIFF *t = TIFFOpen(path.constData(), "wb");
    if (!t)
        return {};
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, image.width());
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, image.height());
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 16);
    TIFFSetField(t, TIFFTAG_MAKE, "Kestrel Optics");
    TIFFSetField(t, TIFFTAG_MODEL, "KX-1");
    TIFFSetField(t, TIFFTAG_COPYRIGHT, "(c) Aoi Tanaka");
    TIFFSetField(t, TIFFTAG_DATETIME, "2024:05:06 07:08:09");
    // Placeholders; the offsets are known once the directories are written.
    TIFFSetField(t, TIFFTAG_EXIFIFD, toff_t(0));
    TIFFSetField(t, TIFFTAG_GPSIFD, toff_t(0));
    std::vector<std::uint8_t> row(size_t(image.width()) * 3);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            row[size_t(x) * 3] = std::uint8_t(qRed(c));
            row[size_t(x) * 3 + 1] = std::uint8_t(qGreen(c));
            row[size_t(x) * 3 + 2] = std::uint8_t(qBlue(c));
        }
        TIFFWriteScanline(t, row.data(), std::uint32_t(y), 0);
    }
    TIFFWriteDirectory(t);
    toff_t exifAt = 0, gpsAt = 0;
    TIFFCreateEXIFDirectory(t);
    TIFFSetField(t, EXIFTAG_DATETIMEORIGINAL, "2024:05:06 07:08:09");
    TIFFSetField(t, EXIFTAG_FNUMBER, 2.8);
    TIFFWriteCustomDirectory(t, &exifAt);
    TIFFCreateGPSDirectory(t);
    const std::uint8_t version[4] = {2, 3, 0, 0};
    const double latitude[3] = {35, 41, 22.5};
    TIFFSetField(t, GPSTAG_VERSIONID, version);
    TIFFSetField(t, GPSTAG_LATITUDEREF, "N");
    TIFFSetField(t, GPSTAG_LATITUDE, latitude);
    TIFFWriteCustomDirectory(t, &gpsAt);
    TIFFSetDirectory(t, 0);
    TIFFSetField(t, TIFFTAG_EXIFIFD, exifAt);
    TIFFSetField(t, TIFFTAG_GPSIFD, gpsAt);
    TIFFClose(t);
    QFile f(QFile::decodeName(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The output for a 64 x 48 picture from source.
JpegWithMetadata output(const SourceMetadata &source, const QByteArray &profile = {},
                        MetadataChoice choice = MetadataChoice::KeepAll)
{
    return addSourceMetadata(jpeg(quadrants(64, 48)), source, QSize(64, 48), profile, choice);
}

// A camera's EXIF with a maker note of the given make, as exiv2 writes one: values
// longer than four bytes lie elsewhere, at offsets the note's reader must follow.
Exiv2::ExifData withMakerNote(const char *make)
{
    Exiv2::ExifData exif = cameraExif();
    exif["Exif.Image.Make"] = make;
    if (QByteArray(make) == "Canon") {
        exif["Exif.Canon.FirmwareVersion"] = "Firmware Version 1.0.3";
        exif["Exif.Canon.OwnerName"] = "Aoi Tanaka of Kestrel Optics";
        Exiv2::UShortValue settings;
        settings.read("68 0 2 0 0 0 0 1 0 0 65535 1 0 0 0 0 0 3 1 0 0 0");
        exif["Exif.Canon.CameraSettings"] = settings;
    } else {
        Exiv2::DataValue version(Exiv2::undefined);
        version.read(reinterpret_cast<const Exiv2::byte *>("0210"), 4);
        exif["Exif.Nikon3.Version"] = version;
        exif["Exif.Nikon3.Quality"] = "FINE   ";
        exif["Exif.Nikon3.WhiteBalance"] = "AUTO1       ";
        exif["Exif.Nikon3.Focus"] = "AF-S  ";
    }
    return exif;
}

// The entries of every quantisation table (8-bit) in a JPEG's DQT segments.
QList<int> quantisersOf(const QByteArray &jpeg)
{
    QList<int> entries;
    for (qsizetype at = jpeg.indexOf(QByteArray("\xFF\xDB", 2)); at >= 0;
         at = jpeg.indexOf(QByteArray("\xFF\xDB", 2), at + 2)) {
        const qsizetype end = at + 2 + (uchar(jpeg.at(at + 2)) << 8 | uchar(jpeg.at(at + 3)));
        for (qsizetype t = at + 4; t + 65 <= end; t += 65)
            for (int i = 1; i <= 64; ++i)
                entries.append(uchar(jpeg.at(t + i)));
    }
    return entries;
}

} // namespace

// x265 keeps a few allocations of its own after an encoder is freed; they are not
// ours to free (the program itself only decodes).
// libtiff 4.5 keeps a few field descriptions of the Exif and GPS directories the
// tests write (TIFFCreateEXIFDirectory) past TIFFClose; the program only reads TIFFs.
extern "C" const char *__lsan_default_suppressions() { return "leak:libx265.so\nleak:libtiff.so\n"; }

class TestExport : public QObject {
    Q_OBJECT

    // A fresh folder per test, so each sees only its own files.
    std::unique_ptr<QTemporaryDir> m_folder;

private slots:
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
    }

    // clang-format off
    void naming_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("output");
        QTest::newRow("JPG upper case") << "PHOTO.JPG" << "PHOTO_b.jpg";
        QTest::newRow("two dots") << "holiday.2001.jpg" << "holiday.2001_b.jpg";
        QTest::newRow("Bmp") << "photo.Bmp" << "photo.jpg";
        QTest::newRow("png beside a jpg of the same name") << "photo.png" << "photo.jpg";
        QTest::newRow("heic") << "IMG_0001.HEIC" << "IMG_0001.jpg";
        // Not a name the drop takes; its output is still a file of its kind.
        QTest::newRow("no dot") << "photo" << "photo.jpg";
    }
    // clang-format on
    void naming()
    {
        QFETCH(QString, name);
        QTEST(outputFileName(name), "output");
    }

    // A level text counts as the whole level it rounds to (ties to even), and a
    // level beyond the panel's 0..10 as the nearest end.
    void quality_data()
    {
        QTest::addColumn<QString>("level");
        QTest::addColumn<int>("asLevel"); // -1: the level is no number
        QTest::newRow("3.7 rounds to 4") << "3.7" << 4;
        QTest::newRow("2.5 rounds to even 2") << "2.5" << 2;
        QTest::newRow("beyond the panel: 10") << "12" << 10;
        QTest::newRow("negative: 0") << "-1" << 0;
        for (const char *level : {"abc", "", "99999"})
            QTest::addRow("not a level: \"%s\"", level) << level << -1;
    }
    void quality()
    {
        QFETCH(QString, level);
        QFETCH(int, asLevel);
        int got = 0;
        const QString why = failureOf([&] { got = jpegQuality(job({}, {}, level).level()); });
        QCOMPARE(got, asLevel < 0 ? 0 : jpegQuality(std::int16_t(asLevel)));
        QCOMPARE(why.contains(QStringLiteral("圧縮レベル")), asLevel < 0);
    }

    // On a photo every level writes a smaller file than the level before, and
    // level 0 is the best JPEG there is: every quantiser 1 (quality 100) and full
    // chroma.
    void levelsShrinkTheFile()
    {
        const QImage photo = photoLike(320, 240);
        qsizetype before = 0;
        for (int level = 0; level <= 10; ++level) {
            const QByteArray data = encodeJob(photo, readJob(job({}, {}, QString::number(level))));
            QVERIFY2(level == 0 || data.size() < before, qPrintable(QStringLiteral("level %1: %2 bytes, level %3: %4")
                                                                        .arg(level)
                                                                        .arg(data.size())
                                                                        .arg(level - 1)
                                                                        .arg(before)));
            before = data.size();
            if (level == 0) {
                const qsizetype sof = data.indexOf(QByteArray("\xFF\xC0", 2));
                QVERIFY(sof > 0);
                QCOMPARE(int(data.at(sof + 11)), 0x11); // luma sampled 1x1: 4:4:4
                const QList<int> quantisers = quantisersOf(data);
                QCOMPARE(quantisers.size(), 2 * 64);
                QCOMPARE(quantisers.count(1), quantisers.size());
            }
        }
    }

    // Full colour resolution at 90 and above, 4:2:0 below; optimised Huffman tables:
    // smaller than the same picture with the standard ones.
    void chromaFollowsQuality_data()
    {
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("subsampling");
        QTest::newRow("90: 4:4:4") << 90 << int(TJSAMP_444);
        QTest::newRow("80: 4:2:0") << 80 << int(TJSAMP_420);
    }
    void chromaFollowsQuality()
    {
        QFETCH(int, quality);
        QFETCH(int, subsampling);
        const QByteArray data = encodeJpeg(quadrants(64, 48), quality);
        // The luma's sampling factors in the frame header: 1x1 with full chroma, 2x2 with 4:2:0.
        const qsizetype sof = data.indexOf(QByteArray("\xFF\xC0", 2));
        QCOMPARE(int(data.at(sof + 11)), subsampling == TJSAMP_444 ? 0x11 : 0x22);
        unsetenv("TJ_OPTIMIZE");
        const QByteArray standard = jpeg(quadrants(64, 48), quality, subsampling);
        setenv("TJ_OPTIMIZE", "1", 1);
        QVERIFY2(data.size() < standard.size(),
                 qPrintable(QStringLiteral("%1 vs %2").arg(data.size()).arg(standard.size())));
    }

    // Both encoders take the accurate DCT at every quality: the same pixels as
    // TurboJPEG's accurate encoder gives, not its fast one (its choice below 96).
    void accurateDct_data()
    {
        QTest::addColumn<bool>("planes");
        QTest::addColumn<int>("quality");
        QTest::newRow("rgb, 82") << false << 82;
        QTest::newRow("rgb, 40") << false << 40;
        QTest::newRow("planes, 82") << true << 82;
    }
    void accurateDct()
    {
        QFETCH(bool, planes);
        QFETCH(int, quality);
        const QImage photo = photoLike(64, 48);
        JpegPlanes p;
        QImage *plane[3] = {&p.y, &p.cb, &p.cr};
        for (int c = 0; c < 3; ++c) {
            *plane[c] = QImage(c ? QSize(32, 24) : QSize(64, 48), QImage::Format_Grayscale8);
            for (int y = 0; y < plane[c]->height(); ++y)
                for (int x = 0; x < plane[c]->width(); ++x)
                    plane[c]->setPixel(x, y, qGray(photo.pixel(x, y)) * (c + 1) / 3);
        }
        const auto turbo = [&](int flags) {
            tjhandle tj = tjInitCompress();
            unsigned char *buf = nullptr;
            unsigned long size = 0;
            const unsigned char *bits[3] = {p.y.constBits(), p.cb.constBits(), p.cr.constBits()};
            const int strides[3] = {int(p.y.bytesPerLine()), int(p.cb.bytesPerLine()), int(p.cr.bytesPerLine())};
            if (planes)
                tjCompressFromYUVPlanes(tj, bits, 64, strides, 48, TJSAMP_420, &buf, &size, quality, flags);
            const QByteArray out = planes ? QByteArray(reinterpret_cast<const char *>(buf), qsizetype(size))
                                          : jpeg(photo, quality, TJSAMP_420, flags);
            tjFree(buf);
            tjDestroy(tj);
            return QImage::fromData(out);
        };
        const QImage ours = QImage::fromData(planes ? encodeJpeg(p, quality) : encodeJpeg(photo, quality));
        QVERIFY(ours == turbo(TJFLAG_ACCURATEDCT));
        QVERIFY(ours != turbo(TJFLAG_FASTDCT));
    }

    // The camera's tags of a TIFF written by libtiff come through in both routes, its
    // own layout left behind.
    void tiffCameraTagsConvert()
    {
        const QByteArray source = libtiffCameraPicture(quadrants(64, 48));
        QVERIFY(!source.isEmpty());
        for (const SourceMetadata &meta : {metadataOf(source), metadataOfFile(source)}) {
            QVERIFY2(meta.problem().isEmpty(), qPrintable(meta.problem()));
            const JpegWithMetadata out = output(meta);
            QVERIFY2(out.problem.isEmpty(), qPrintable(out.problem));
            const QString faults = newFaults(source, out.jpeg);
            QVERIFY2(faults.isEmpty(), qPrintable(faults));
            const ReadBack r = readBack(out.jpeg);
            QCOMPARE(r.exif("Exif.Image.Make"), "Kestrel Optics");
            QCOMPARE(r.exif("Exif.Image.Model"), "KX-1");
            QCOMPARE(r.exif("Exif.Image.Copyright"), "(c) Aoi Tanaka");
            QCOMPARE(r.exif("Exif.Image.DateTime"), "2024:05:06 07:08:09");
            QCOMPARE(r.exif("Exif.Photo.DateTimeOriginal"), "2024:05:06 07:08:09");
            QCOMPARE(r.exif("Exif.GPSInfo.GPSLatitudeRef"), "N");
            // libtiff stores rationals with denominators of its own choosing.
            const auto number = [&](const char *key, long i) {
                const auto it = r.exifData.findKey(Exiv2::ExifKey(key));
                return it == r.exifData.end() || it->count() <= i ? -1.0f : it->toFloat(i);
            };
            QCOMPARE(qRound(number("Exif.Photo.FNumber", 0) * 10), 28);
            QCOMPARE(number("Exif.GPSInfo.GPSLatitude", 0), 35.0f);
            QCOMPARE(number("Exif.GPSInfo.GPSLatitude", 2), 22.5f);
            for (const auto &datum : r.exifData)
                QVERIFY2(datum.key() != "Exif.Image.StripOffsets" && datum.key() != "Exif.Image.RowsPerStrip",
                         datum.key().c_str());
        }
    }

    void carriesCameraMetadata_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<bool>("iptc");
        QTest::newRow("jpeg") << withCameraMetadata(picture("jpeg")) << true;
        QTest::newRow("png") << withCameraMetadata(picture("png")) << true;
        QTest::newRow("tiff") << withCameraMetadata(picture("tiff")) << true;
        QTest::newRow("webp") << withCameraMetadata(picture("webp"), false) << false;
        // A TIFF whose EXIF is its own first directory, as scanners and raw converters write it.
        Exiv2::ExifData tiffExif = cameraExif();
        tiffExif["Exif.Image.Software"] = "ScanTool 2";
        QTest::newRow("tiff, no required tags") << withCameraMetadata(picture("tiff"), true, tiffExif) << true;
        // A HEIC with the camera's EXIF and XMP as libheif stores them.
        Exiv2::Blob exif;
        Exiv2::ExifParser::encode(exif, Exiv2::littleEndian, cameraExif());
        std::string xmp;
        Exiv2::XmpParser::encode(xmp, cameraXmp());
        QTest::newRow("heic") << heic(quadrants(64, 48), heif_orientation_normal, {},
                                      QByteArray(reinterpret_cast<const char *>(exif.data()), qsizetype(exif.size())),
                                      QByteArray::fromStdString(xmp))
                              << false;
    }
    void carriesCameraMetadata()
    {
        QFETCH(QByteArray, source);
        QFETCH(bool, iptc);
        if (source.isEmpty())
            QSKIP("libheif has no HEVC encoder here (Debian's libheif1 builds it in with libx265)");
        // The blocks found in the whole data and by the band decoder reading the file.
        for (const SourceMetadata &meta : {metadataOf(source), metadataOfFile(source)}) {
            QVERIFY2(meta.problem().isEmpty(), qPrintable(meta.problem()));
            const JpegWithMetadata out = output(meta);
            QVERIFY2(out.problem.isEmpty(), qPrintable(out.problem));
            QCOMPARE(decodePictureData(out.jpeg).size, QSize(64, 48));
            // Nothing a validator finds in the output that the source did not have: the
            // tags a JPEG's EXIF requires are there also when the source is no JPEG.
            const QString faults = newFaults(source, out.jpeg);
            QVERIFY2(faults.isEmpty(), qPrintable(faults));

            const ReadBack r = readBack(out.jpeg);
            QCOMPARE(r.exif("Exif.Photo.DateTimeOriginal"), "2024:05:06 07:08:09");
            QCOMPARE(r.exif("Exif.Image.Make"), "Kestrel Optics");
            QCOMPARE(r.exif("Exif.Image.Model"), "KX-1");
            QCOMPARE(r.exif("Exif.Image.Copyright"), "(c) Aoi Tanaka");
            QCOMPARE(r.exif("Exif.GPSInfo.GPSLatitude"), "35/1 41/1 2230/100");
            // The turn is in the pixels; the thumbnail and the pixel size were the old picture's.
            QCOMPARE(r.exif("Exif.Image.Orientation"), "1");
            QCOMPARE(r.xmp("Xmp.tiff.Orientation"), "1");
            QCOMPARE(r.exif("Exif.Photo.PixelXDimension"), "64");
            QCOMPARE(r.exif("Exif.Photo.PixelYDimension"), "48");
            QCOMPARE(r.xmp("Xmp.exif.PixelXDimension"), "64");
            QCOMPARE(r.xmp("Xmp.dc.creator"), "Aoi Tanaka");
            for (const auto &datum : r.exifData) {
                QVERIFY2(datum.groupName() != "Thumbnail", datum.key().c_str());
                // A TIFF source's strips must not be described in a JPEG.
                QVERIFY2(datum.key() != "Exif.Image.StripOffsets" && datum.key() != "Exif.Image.ImageWidth",
                         datum.key().c_str());
            }
            if (iptc) {
                QCOMPARE(r.iptcData.count(), 1L);
                QCOMPARE(QString::fromStdString(r.iptcData.begin()->toString()), "(c) Aoi Tanaka");
            }
        }
    }

    void carriesRgbProfilesOnly_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<bool>("embedded");
        QTest::newRow("adobe rgb") << adobeLikeProfile() << true;
        QTest::newRow("rgb over 64 KB") << adobeLikeProfile(150000) << true;
        QTest::newRow("cmyk") << savedProfile(cmsCreateInkLimitingDeviceLink(cmsSigCmykData, 300)) << false;
        cmsToneCurve *gamma = cmsBuildGamma(nullptr, 2.2);
        QTest::newRow("grey") << savedProfile(cmsCreateGrayProfile(cmsD50_xyY(), gamma)) << false;
        cmsFreeToneCurve(gamma);
        QTest::newRow("damaged") << adobeLikeProfile().left(300) << false;
    }
    void carriesRgbProfilesOnly()
    {
        QFETCH(QByteArray, profile);
        QFETCH(bool, embedded);
        // A source with EXIF too, so that profile and EXIF segments must both be right.
        const JpegWithMetadata out = output(metadataOf(withCameraMetadata(picture("jpeg"))), profile);
        QCOMPARE(decodePictureData(out.jpeg).size, QSize(64, 48));
        QCOMPARE(embeddedIccProfile(out.jpeg, PictureFormat::Jpeg), embedded ? profile : QByteArray());
        QCOMPARE(embeddedMetadata(out.jpeg, PictureFormat::Jpeg).icc, embedded ? profile : QByteArray());
        QCOMPARE(readBack(out.jpeg).exif("Exif.Image.Make"), "Kestrel Optics");
    }

    // clang-format off
    // An EXIF entry that no reader can take (a type that does not exist) is left
    // out: written first in the output's directory, it made exiftool give up on
    // the whole directory and find the resolution a JPEG needs missing.
    void invalidEntriesLeftOut_data()
    {
        QTest::addColumn<QList<ExifEntry>>("first");
        QTest::addColumn<QList<ExifEntry>>("exifExtra");
        const QByteArray four(4, '\0');
        QTest::newRow("type 0 first") << QList<ExifEntry>{{0x000B, 0, 1, four}} << QList<ExifEntry>{};
        QTest::newRow("type 99 first") << QList<ExifEntry>{{0x000B, 99, 1, four}} << QList<ExifEntry>{};
        QTest::newRow("type 0 in the Exif directory")
            << QList<ExifEntry>{} << QList<ExifEntry>{{0xA420, 0, 4, four}};
        QTest::newRow("BigTIFF's 8-byte type") << QList<ExifEntry>{{0x000B, 16, 1, QByteArray(8, '\0')}}
                                               << QList<ExifEntry>{};
    }
    void invalidEntriesLeftOut()
    {
        QFETCH(QList<ExifEntry>, first);
        QFETCH(QList<ExifEntry>, exifExtra);
        if (!haveExiftool())
            QSKIP("exiftool is not installed");
        const QByteArray plain = jpeg(quadrants(64, 48));
        const QByteArray source = withExifSegment(plain, exifBlockWith(first, exifExtra));
        const QByteArray valid = withExifSegment(plain, exifBlockWith({}));
        const JpegWithMetadata out = output(metadataOf(source));
        const QString faults = newFaults(valid, out.jpeg);
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
        QCOMPARE(readBack(out.jpeg).exif("Exif.Image.Make"), "Kestrel Optics");
    }

    void leavesOutWhatCannotGo_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<bool>("xmp");
        QTest::addColumn<QString>("problem");
        // More than the 64 KB one JPEG segment holds, in tags too small for exiv2 to drop.
        Exiv2::ExifData huge = cameraExif();
        const std::vector<Exiv2::byte> bytes(4000, 0x2A);
        for (int i = 0; i < 20; ++i) {
            Exiv2::DataValue blob(Exiv2::undefined);
            blob.read(bytes.data(), long(bytes.size()));
            huge.add(Exiv2::ExifKey(0xc800 + i, "Image"), &blob);
        }
        QTest::newRow("exif over 64 KB") << withCameraMetadata(picture("tiff"), false, huge) << true
                                         << "EXIF を出力に書き込めない";
        // An EXIF segment whose first directory lies outside it.
        const QByteArray plain = jpeg(quadrants(32, 24));
        const QByteArray broken = plain.left(2) + QByteArray("\xFF\xE1\x00\x10" "Exif\0\0" "II*\0\xFF\xFF\xFF\x0F", 18)
                                  + plain.mid(2);
        QTest::newRow("exif damaged") << broken << false << "EXIF を読み取れない";
        QTest::newRow("no metadata") << plain << false << "";
    }
    // clang-format on
    void leavesOutWhatCannotGo()
    {
        QFETCH(QByteArray, source);
        QFETCH(bool, xmp);
        QFETCH(QString, problem);
        const SourceMetadata meta = metadataOf(source);
        const JpegWithMetadata out = output(meta);
        QCOMPARE(decodePictureData(out.jpeg).size, QSize(64, 48));
        const QString reported = meta.problem() + out.problem;
        QVERIFY2(problem.isEmpty() ? reported.isEmpty() : reported.startsWith(problem), qPrintable(reported));
        const ReadBack r = readBack(out.jpeg);
        QVERIFY(r.exif("Exif.Image.Make").isEmpty());
        QCOMPARE(r.xmp("Xmp.dc.creator").isEmpty(), !xmp);
        // The mark goes in whatever else cannot.
        QCOMPARE(r.exif("Exif.Image.Software"), programMark());
        QCOMPARE(r.xmp("Xmp.xmp.CreatorTool"), programMark());
        const QString faults = newFaults(source, out.jpeg);
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
    }

    void staleTemporaryFilesRemoved()
    {
        const QString base = m_folder->path();
        // A process id that no process has any more.
        const pid_t dead = ::fork();
        if (dead == 0)
            ::_exit(0);
        ::waitpid(dead, nullptr, 0);
        const QString deadFolder = QStringLiteral("kestrovia-%1-AbC123").arg(dead);
        const QString liveFolder = QStringLiteral("kestrovia-%1-Xyz789").arg(::getppid());
        QVERIFY(QDir(base).mkpath(deadFolder + QStringLiteral("/sub")));
        writeFile(base + u'/' + deadFolder + QStringLiteral("/canvas-0.bmp"), QByteArray(1000, 'x'));
        writeFile(base + QStringLiteral("/kestrovia-%1.bmp").arg(dead), "old");
        QVERIFY(QDir(base).mkdir(liveFolder));
        // A link named like ours, pointing at someone's folder, is neither followed nor removed.
        QVERIFY(QDir(base).mkdir(QStringLiteral("precious")));
        writeFile(base + QStringLiteral("/precious/keep.txt"), "keep");
        const QString link = QStringLiteral("kestrovia-%1-Lnk456").arg(dead);
        QVERIFY(QFile::link(base + QStringLiteral("/precious"), base + u'/' + link));

        QCOMPARE(removeStaleTempFiles(base), 2);
        const QStringList left = QDir(base).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        QCOMPARE(QSet<QString>(left.begin(), left.end()), QSet<QString>({link, liveFolder, "precious"}));
        QCOMPARE(readFile(base + QStringLiteral("/precious/keep.txt")), QByteArray("keep"));
    }

    // clang-format off
    void writeOutput_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("replace");
        QTest::addColumn<QString>("says"); // empty: the write succeeds
        QTest::addColumn<bool>("noLinks"); // a file system that can neither link nor rename without replacing
        QTest::newRow("new file") << "" << false << "" << false;
        QTest::newRow("a file took the name") << "file640" << false << "確認の後" << false;
        QTest::newRow("a link took the name") << "link" << false << "確認の後" << false;
        QTest::newRow("new file, no links") << "" << false << "" << true;
        QTest::newRow("a file took the name, no links") << "file640" << false << "確認の後" << true;
        QTest::newRow("a link took the name, no links") << "link" << false << "確認の後" << true;
        QTest::newRow("replaced file, no links") << "file640" << true << "" << true;
        QTest::newRow("replaced file keeps its mode") << "file640" << true << "" << false;
        QTest::newRow("symbolic link is replaced") << "link" << true << "" << false;
        QTest::newRow("dangling link is replaced") << "dangling" << true << "" << false;
        QTest::newRow("folder in the way") << "folder" << true << "フォルダ" << false;
        QTest::newRow("name too long") << "long" << false << "長すぎます" << false;
        QTest::newRow("missing folder") << "missing" << false << "見つかりません" << false;
        QTest::newRow("a file where the folder is") << "file as folder" << false << "フォルダではない" << false;
    }
    // clang-format on
    void writeOutput()
    {
        QFETCH(QString, setup);
        QFETCH(bool, replace);
        QFETCH(QString, says);
        QFETCH(bool, noLinks);
        useCheckedRenames(noLinks);
        const auto restore = qScopeGuard([] { useCheckedRenames(false); });
        // Japanese and blanks in the folder's name and the file's, as users name them.
        const QString dir = m_folder->path() + QStringLiteral("/出力 フォルダ"),
                      victim = dir + QStringLiteral("/victim.jpg");
        QVERIFY(QDir().mkpath(dir));
        writeFile(victim, "victim");
        QString out = dir + QStringLiteral("/夏の 海.jpg");
        if (setup == "file640") {
            writeFile(out, "old");
            QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
        } else if (setup == "link" || setup == "dangling") {
            QVERIFY(QFile::link(setup == "link" ? victim : dir + QStringLiteral("/nowhere.jpg"), out));
        } else if (setup == "folder") {
            QVERIFY(QDir().mkpath(out));
        } else if (setup == "long") {
            out = dir + u'/' + QString(300, u'あ') + QStringLiteral(".jpg");
        } else if (setup == "missing") {
            out = dir + QStringLiteral("/gone/out.jpg");
        } else if (setup == "file as folder") {
            out = victim + QStringLiteral("/out.jpg");
        }
        const QByteArray before = readFile(out);
        const QString why =
            failureOf([&] { writeOutputFile(out, "new content", replace ? WriteMode::Replace : WriteMode::New); });
        QVERIFY2(says.isEmpty() ? why.isEmpty() : why.contains(says), qPrintable(why));
        if (says.isEmpty()) {
            QCOMPARE(readFile(out), QByteArray("new content"));
            QVERIFY(!QFileInfo(out).isSymLink());
            struct stat st { };
            QCOMPARE(::lstat(QFile::encodeName(out).constData(), &st), 0);
            QCOMPARE(st.st_mode & 07777, setup == "file640" ? mode_t(0640) : mode_t(0666 & ~::umask(022)));
        } else {
            QCOMPARE(readFile(out), before);
        }
        // Whatever happened: the link's target is untouched, and no temporary file is left.
        QCOMPARE(readFile(victim), QByteArray("victim"));
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".kestrovia")), QStringList());
    }

    // Where the file system cannot rename without replacing, the named temporary is
    // linked in instead, which never replaces either: a file that took the output's
    // name keeps its bytes, and nothing is left behind.
    void renameFallbackNeverReplaces()
    {
        const QString taken = m_folder->filePath(QStringLiteral("taken.jpg")),
                      free = m_folder->filePath(QStringLiteral("free.jpg"));
        writeFile(taken, "someone's");
        useNamedTemporaries(true);
        useRenameFallback(true);
        const QString why = failureOf([&] { writeOutputFile(taken, "ours", WriteMode::New); });
        const QString freeWhy = failureOf([&] { writeOutputFile(free, "ours", WriteMode::New); });
        useRenameFallback(false);
        useNamedTemporaries(false);
        QVERIFY2(why.contains("確認の後"), qPrintable(why));
        QCOMPARE(readFile(taken), QByteArray("someone's"));
        QVERIFY2(freeWhy.isEmpty(), qPrintable(freeWhy));
        QCOMPARE(readFile(free), QByteArray("ours"));
        QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".kestrovia")),
                 QStringList());
    }

    // The mark tells an earlier output, as it was written, from anything else at an
    // output path: a user's original, or an output the user changed since. Only
    // the file's bytes count: a touch or a copy that lost the attribute stays ours;
    // a release that recorded nothing is trusted only as far as can be checked.
    void marksOutputs_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("where"); // "" or a file system without user attributes
        QTest::addColumn<OutputMark>("mark");
        const QString plain, bare = QStringLiteral("ramfs");
        QTest::newRow("an output") << "output" << plain << OutputMark::Ours;
        QTest::newRow("an output copied without its attribute") << "no attribute" << plain << OutputMark::Ours;
        QTest::newRow("an output only touched") << "touched" << plain << OutputMark::Ours;
        // Its source an output of ours: the source's record does not come along.
        QTest::newRow("an output of an output, copied")
            << "output of output, no attribute" << plain << OutputMark::Ours;
        QTest::newRow("an output where no attribute is kept") << "output" << bare << OutputMark::Ours;
        QTest::newRow("an output with a byte of its EXIF changed") << "exif byte" << plain << OutputMark::Changed;
        QTest::newRow("the same, copied without its attribute")
            << "exif byte, no attribute" << plain << OutputMark::Changed;
        QTest::newRow("the same, where no attribute is kept") << "exif byte" << bare << OutputMark::Changed;
        QTest::newRow("an output whose metadata another tool rewrote") << "rewritten" << plain << OutputMark::Changed;
        QTest::newRow("an output saved again by an image library") << "saved again" << plain << OutputMark::Changed;
        QTest::newRow("an output edited by exiftool") << "exiftool" << plain << OutputMark::Changed;
        QTest::newRow("an earlier release's output") << "release" << plain << OutputMark::Ours;
        QTest::newRow("an earlier release's output, copied") << "release, no attribute" << plain << OutputMark::Changed;
        QTest::newRow("an earlier release's output, where no attribute is kept")
            << "release" << bare << OutputMark::Unverified;
        QTest::newRow("a camera's photo") << "camera" << plain << OutputMark::None;
        QTest::newRow("a photo that names the program elsewhere") << "impostor" << plain << OutputMark::None;
        QTest::newRow("a link to an output") << "link" << plain << OutputMark::None;
        QTest::newRow("a FIFO") << "fifo" << plain << OutputMark::None;
        QTest::newRow("an empty file") << "empty" << plain << OutputMark::None;
    }
    void marksOutputs()
    {
        QFETCH(QString, kind);
        QFETCH(QString, where);
        QString dir = m_folder->path();
        const QByteArray mountPoint = QFile::encodeName(dir + QStringLiteral("/bare"));
        if (!where.isEmpty()) {
            dir += QStringLiteral("/bare");
            QVERIFY(QDir().mkpath(dir));
            if (::mount("ramfs", mountPoint.constData(), "ramfs", 0, nullptr) != 0)
                QSKIP("cannot mount a file system without user attributes here (needs root)");
        }
        const auto unmount = qScopeGuard([&] { ::umount(mountPoint.constData()); });
        const QString path = dir + QStringLiteral("/out.jpg"), other = dir + QStringLiteral("/other.jpg");
        const QByteArray source = withCameraMetadata(picture("jpeg"));
        const auto encode = [](const QByteArray &from) {
            return encodeJob(quadrants(64, 48), readJob(job("p.jpg", {})), embeddedMetadata(from, PictureFormat::Jpeg));
        };
        const QByteArray outputBytes = kind.startsWith("output of output") ? encode(encode(source)) : encode(source);
        const QByteArray file = QFile::encodeName(path);
        const auto dropAttribute = [&] {
            if (kind.endsWith("no attribute"))
                ::removexattr(file.constData(), kOutputAttribute);
        };
        if (kind == "output" || kind == "no attribute" || kind.startsWith("output of output") || kind == "link"
            || kind == "touched") {
            writeOutputFile(kind == "link" ? other : path, outputBytes, WriteMode::New);
            if (kind == "link")
                QVERIFY(QFile::link(other, path));
            if (kind == "touched")
                QCOMPARE(::utimensat(AT_FDCWD, file.constData(), nullptr, 0), 0);
            dropAttribute();
        } else if (kind.startsWith("exif byte")) {
            writeOutputFile(path, outputBytes, WriteMode::New);
            QTRY_VERIFY(clockPassed(path));
            QVERIFY(outputBytes.indexOf("KX-1") < outputBytes.indexOf("http://ns.adobe.com/xap/1.0/"));
            QVERIFY(changeInPlace(path, "KX-1", "KX-2")); // the camera's model
            dropAttribute();
        } else if (kind == "rewritten") {
            writeOutputFile(path, outputBytes, WriteMode::New);
            Exiv2::ExifData exif = cameraExif();
            exif["Exif.Image.Software"] = "PhotoTool 5";
            Exiv2::XmpData xmp = cameraXmp();
            xmp["Xmp.xmp.CreatorTool"] = programMark().toStdString();
            Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(file.toStdString());
            image->readMetadata();
            image->setExifData(exif);
            image->setXmpData(xmp);
            image->writeMetadata();
        } else if (kind == "saved again") {
            writeOutputFile(path, outputBytes, WriteMode::New);
            QTRY_VERIFY(clockPassed(path));
            QVERIFY(saveAgain(path));
        } else if (kind == "exiftool") {
            if (!haveExiftool())
                QSKIP("exiftool is not installed");
            writeOutputFile(path, outputBytes, WriteMode::New);
            QCOMPARE(QProcess::execute(QStringLiteral("exiftool"),
                                       {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                                        QStringLiteral("-Artist=Aoi Tanaka"), path}),
                     0);
        } else if (kind.startsWith("release")) {
            // What a release before the record wrote: the marks, no digest.
            Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(
                reinterpret_cast<const Exiv2::byte *>(outputBytes.constData()), long(outputBytes.size()));
            image->readMetadata();
            Exiv2::XmpData xmp = image->xmpData();
            xmp.erase(xmp.findKey(Exiv2::XmpKey(std::string("Xmp.") + kRecordPrefix + '.' + kRecordProperty)));
            image->setXmpData(xmp);
            image->writeMetadata();
            Exiv2::BasicIo &io = image->io();
            io.seek(0, Exiv2::BasicIo::beg);
            const Exiv2::DataBuf bytes = io.read(io.size());
            writeFile(path, QByteArray(reinterpret_cast<const char *>(bytes.pData_), bytes.size_));
            QCOMPARE(readBack(readFile(path)).xmp("Xmp.xmp.CreatorTool"), programMark());
            const QByteArray mark = programMark().toUtf8();
            if (where.isEmpty())
                QCOMPARE(::setxattr(file.constData(), kOutputAttribute, mark.constData(), size_t(mark.size()), 0), 0);
            dropAttribute();
        } else if (kind == "camera") {
            writeFile(path, source);
        } else if (kind == "impostor") {
            Exiv2::ExifData exif = cameraExif();
            exif["Exif.Image.Software"] = "Kestrovia2000 Pro";
            exif["Exif.Image.ImageDescription"] = "Kestrovia 1.0";
            writeFile(path, withCameraMetadata(picture("jpeg"), false, exif));
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(file.constData(), 0600), 0);
        } else {
            writeFile(path, {});
        }
        QTEST(readOutputMark(path), "mark");
        QFETCH(OutputMark, mark);
        QCOMPARE(isKestroviaOutput(path), mark == OutputMark::Ours);
    }

    // A process killed while it writes an output leaves nothing: an unnamed file
    // vanishes with it; a named temporary (file systems without unnamed files) is
    // the next clean-up's, once the process is gone.
    void killedWriteLeavesNothing_data()
    {
        QTest::addColumn<bool>("named");
        QTest::newRow("unnamed file") << false;
        QTest::newRow("named temporary") << true;
    }
    void killedWriteLeavesNothing()
    {
        QFETCH(bool, named);
        const QString dir = m_folder->path();
        writeFile(dir + QStringLiteral("/photo_b.jpg"), "an earlier output");
        const pid_t child = ::fork();
        if (child == 0) {
            // The file size limit kills the process in the middle of its write
            // (SIGXFSZ), as surely as a kill -9 at that moment.
            const rlimit none{0, 0}, small{4096, 4096};
            ::setrlimit(RLIMIT_CORE, &none);
            ::setrlimit(RLIMIT_FSIZE, &small);
            useNamedTemporaries(named);
            writeOutputFile(dir + QStringLiteral("/photo_b.jpg"), QByteArray(1 << 20, 'x'), WriteMode::Replace);
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGXFSZ);
        const auto entries = [&] { return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System); };
        QCOMPARE(entries().size(), named ? 2 : 1);
        QCOMPARE(removeStaleOutputTemps(dir), named ? 1 : 0);
        QCOMPARE(entries(), QStringList{QStringLiteral("photo_b.jpg")});
        QCOMPARE(readFile(dir + QStringLiteral("/photo_b.jpg")), QByteArray("an earlier output"));
    }

    // The clean-up of an output folder takes only leftovers: not a write in
    // progress (its process runs), not someone else's file, not a link.
    void outputFolderCleanUp()
    {
        const QString dir = m_folder->path();
        const pid_t dead = ::fork();
        if (dead == 0)
            ::_exit(0);
        ::waitpid(dead, nullptr, 0);
        const QStringList left = {QStringLiteral(".kestrovia-%1-AbC123").arg(::getpid()),
                                  QStringLiteral(".kestrovia-%1-AbC123").arg(::getppid()), ".kestrovia-NoPid1",
                                  ".kestrovia-notes.txt", "photo.jpg"};
        for (const QString &name : left)
            writeFile(dir + u'/' + name, "keep");
        writeFile(dir + QStringLiteral("/.kestrovia-%1-Dead01").arg(dead), "partial");
        writeFile(dir + QStringLiteral("/.kestrovia-OldRel"), "partial");
        // A release before the process id was in the name: only once no one writes it.
        const QByteArray old = QFile::encodeName(dir + QStringLiteral("/.kestrovia-OldRel"));
        const timespec longAgo[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 3600, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, old.constData(), longAgo, 0), 0);
        QVERIFY(
            QFile::link(dir + QStringLiteral("/photo.jpg"), dir + QStringLiteral("/.kestrovia-%1-Link01").arg(dead)));

        QCOMPARE(removeStaleOutputTemps(dir), 2);
        QStringList expected = left;
        expected << QStringLiteral(".kestrovia-%1-Link01").arg(dead);
        QStringList got = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
        expected.sort();
        got.sort();
        QCOMPARE(got, expected);
    }

    // Each choice, read back from the output: what stays, what goes, and the mark
    // and the RGB profile in every case.
    void metadataChoice_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<bool>("camera");
        QTest::addColumn<bool>("place");
        QTest::newRow("すべて残す") << int(MetadataChoice::KeepAll) << true << true;
        QTest::newRow("位置情報を除く") << int(MetadataChoice::DropLocation) << true << false;
        QTest::newRow("すべて除く") << int(MetadataChoice::DropAll) << false << false;
    }
    void metadataChoice()
    {
        QFETCH(int, choice);
        QFETCH(bool, camera);
        QFETCH(bool, place);
        QCOMPARE(RowSettings().metadata, MetadataChoice::DropLocation); // new rows
        const QByteArray source = withPlaces(picture("jpeg"));
        const QByteArray profile = adobeLikeProfile();
        const JpegWithMetadata out = output(metadataOf(source), profile, MetadataChoice(choice));
        QVERIFY2(out.problem.isEmpty(), qPrintable(out.problem));
        const ReadBack r = readBack(out.jpeg);
        QCOMPARE(!r.exif("Exif.Image.Make").isEmpty(), camera);
        QCOMPARE(!r.exif("Exif.Photo.DateTimeOriginal").isEmpty(), camera);
        QCOMPARE(!r.xmp("Xmp.dc.creator").isEmpty(), camera);
        QCOMPARE(r.iptcData.findKey(Exiv2::IptcKey("Iptc.Application2.Copyright")) != r.iptcData.end(), camera);
        const auto anyOf = [](const auto &data, const char *text) {
            return std::any_of(data.begin(), data.end(),
                               [&](const auto &d) { return d.key().find(text) != std::string::npos; });
        };
        QCOMPARE(anyOf(r.exifData, "GPSInfo"), place);
        for (const char *key :
             {"GPSLatitude", "GPSAltitude", "GPSTimeStamp", "GPSImgDirection", "City", "Location", "GpsLongitude"})
            QVERIFY2(anyOf(r.xmpData, key) == place, key);
        for (const char *key : {"City", "CountryName"})
            QVERIFY2(anyOf(r.iptcData, key) == place, key);
        QCOMPARE(r.exif("Exif.Image.Software"), programMark());
        QCOMPARE(r.xmp("Xmp.xmp.CreatorTool"), programMark());
        QCOMPARE(embeddedIccProfile(out.jpeg, PictureFormat::Jpeg), profile);
        const QString faults = newFaults(source, out.jpeg);
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
    }

    // A maker note keeps its offset from the TIFF header, so its values are read
    // back as the camera wrote them, whichever way its maker counts offsets.
    void makerNotesStayReadable_data()
    {
        QTest::addColumn<QByteArray>("make");
        QTest::newRow("Canon: offsets from the TIFF header") << QByteArray("Canon");
        QTest::newRow("Nikon: a TIFF header of its own") << QByteArray("NIKON CORPORATION");
    }
    void makerNotesStayReadable()
    {
        QFETCH(QByteArray, make);
        const Exiv2::ExifData exif = withMakerNote(make.constData());
        const QByteArray source = withCameraMetadata(picture("jpeg"), false, exif);
        const JpegWithMetadata out = output(metadataOf(source));
        const ReadBack in = readBack(source), r = readBack(out.jpeg);
        int compared = 0;
        for (const Exiv2::Exifdatum &d : in.exifData) {
            if (!Exiv2::ExifTags::isMakerGroup(d.groupName()))
                continue;
            QCOMPARE(r.exif(d.key().c_str()), QString::fromStdString(d.toString()));
            ++compared;
        }
        QVERIFY(compared >= 3);
        const QString faults = newFaults(source, out.jpeg);
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
    }

    void fullDiskKeepsExistingOutput()
    {
        const QString small = m_folder->filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(small));
        if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a small file system here (needs root)");
        const QString out = small + QStringLiteral("/photo_b.jpg");
        writeFile(out, "an earlier output");
        // Noise compresses badly: far more than the 64 KB there are.
        const QString why = failureOf(
            [&] { writeJobOutput(out, encodeJob(noise(400, 400), readJob(job("photo.jpg", small + u'/', "0")))); });
        const QByteArray kept = readFile(out);
        const QStringList left = QDir(small).entryList(QDir::Files | QDir::Hidden);
        ::umount(QFile::encodeName(small).constData());
        QVERIFY2(why.contains(QStringLiteral("空き容量")), qPrintable(why));
        QCOMPARE(kept, QByteArray("an earlier output"));
        QCOMPARE(left, QStringList{QStringLiteral("photo_b.jpg")});
    }
};

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
