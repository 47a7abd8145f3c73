// The source's EXIF, IPTC, XMP and ICC profile carried into the output JPEG, made
// right for the new picture; damaged or oversized blocks are left out, never fatal.

#include "compose/pictureformat.h"
#include "export/metadata.h"
#include "tests/common/formatpictures.h"

#include <QtTest>

#include <exiv2/exiv2.hpp>
#include <turbojpeg.h>

using namespace kestrovia;
using testpics::adobeLikeProfile;
using testpics::savedProfile;

namespace {

QByteArray plainJpeg(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(qRgb(90, 140, 200));
    tjhandle tj = tjInitCompress();
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, img.constBits(), w, int(img.bytesPerLine()), h, TJPF_BGRX, &buf, &size, TJSAMP_444, 90, 0);
    const QByteArray out(reinterpret_cast<const char *>(buf), qsizetype(size));
    tjFree(buf);
    tjDestroy(tj);
    return out;
}

bool decodes(const QByteArray &jpeg)
{
    tjhandle tj = tjInitDecompress();
    QImage img(64, 48, QImage::Format_RGB32);
    const bool ok = tjDecompress2(tj, reinterpret_cast<const unsigned char *>(jpeg.constData()),
                                  static_cast<unsigned long>(jpeg.size()), img.bits(), 64, 0, 48, TJPF_BGRX, 0)
                    == 0;
    tjDestroy(tj);
    return ok;
}

QByteArray qtEncoded(const char *format)
{
    QImage img(80, 60, QImage::Format_RGB32);
    img.fill(Qt::darkCyan);
    return testpics::qtEncoded(img, format);
}

// What a camera writes: date, make and model, position, copyright, a turn of 6, a
// thumbnail, its own pixel size.
Exiv2::ExifData cameraExif()
{
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Kestrel Optics";
    exif["Exif.Image.Model"] = "KX-1";
    exif["Exif.Image.Orientation"] = std::uint16_t(6);
    exif["Exif.Image.Copyright"] = "(c) Aoi Tanaka";
    exif["Exif.Photo.DateTimeOriginal"] = "2024:05:06 07:08:09";
    exif["Exif.Photo.PixelXDimension"] = std::uint32_t(4000);
    exif["Exif.Photo.PixelYDimension"] = std::uint32_t(3000);
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    Exiv2::URationalValue latitude;
    latitude.read("35/1 41/1 2230/100");
    exif["Exif.GPSInfo.GPSLatitude"] = latitude;
    const QByteArray thumb = plainJpeg(16, 12);
    Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(thumb.constData()),
                                            long(thumb.size()));
    return exif;
}

Exiv2::XmpData cameraXmp()
{
    Exiv2::XmpData xmp;
    xmp["Xmp.tiff.Orientation"] = "6";
    xmp["Xmp.exif.PixelXDimension"] = "4000";
    xmp["Xmp.dc.creator"] = "Aoi Tanaka";
    return xmp;
}

// The picture with camera metadata written into it by exiv2.
QByteArray withCameraMetadata(const QByteArray &picture, bool iptc = true,
                              const Exiv2::ExifData &exif = cameraExif())
{
    Exiv2::Image::AutoPtr image =
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(picture.constData()), long(picture.size()));
    image->readMetadata();
    image->setExifData(exif);
    image->setXmpData(cameraXmp());
    if (iptc) {
        Exiv2::IptcData data;
        data["Iptc.Application2.Copyright"] = "(c) Aoi Tanaka";
        image->setIptcData(data);
    }
    image->writeMetadata();
    Exiv2::BasicIo &io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf out = io.read(io.size());
    return QByteArray(reinterpret_cast<const char *>(out.pData_), out.size_);
}

// A HEIC with the camera EXIF and XMP as libheif stores them; empty without an encoder.
QByteArray cameraHeic()
{
    Exiv2::Blob exif;
    Exiv2::ExifParser::encode(exif, Exiv2::littleEndian, cameraExif());
    std::string xmp;
    Exiv2::XmpParser::encode(xmp, cameraXmp());
    QImage img(64, 48, QImage::Format_RGB32);
    img.fill(Qt::gray);
    return testpics::heic(img, heif_orientation_normal, {},
                          QByteArray(reinterpret_cast<const char *>(exif.data()), qsizetype(exif.size())),
                          QByteArray::fromStdString(xmp));
}

struct Read {
    Exiv2::ExifData exif;
    Exiv2::XmpData xmp;
    Exiv2::IptcData iptc;
};

Read readBack(const QByteArray &jpeg)
{
    Exiv2::Image::AutoPtr image =
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(jpeg.constData()), long(jpeg.size()));
    image->readMetadata();
    return {image->exifData(), image->xmpData(), image->iptcData()};
}

QString value(const Exiv2::ExifData &exif, const char *key)
{
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    return it == exif.end() ? QString() : QString::fromStdString(it->toString());
}

QString value(const Exiv2::XmpData &xmp, const char *key)
{
    const auto it = xmp.findKey(Exiv2::XmpKey(key));
    return it == xmp.end() ? QString() : QString::fromStdString(it->toString());
}

} // namespace

// x265 keeps a few allocations of its own after an encoder is freed; they are not
// ours to free (the program itself only decodes).
extern "C" const char *__lsan_default_suppressions() { return "leak:libx265.so\n"; }

class TestMetadata : public QObject {
    Q_OBJECT

private slots:
    void carriesCameraMetadata_data();
    void carriesCameraMetadata();
    void carriesRgbProfilesOnly_data();
    void carriesRgbProfilesOnly();
    void leavesOutWhatCannotGo_data();
    void leavesOutWhatCannotGo();
};

void TestMetadata::carriesCameraMetadata_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<bool>("iptc");
    QTest::newRow("jpeg") << withCameraMetadata(plainJpeg(32, 24)) << true;
    QTest::newRow("png") << withCameraMetadata(qtEncoded("png")) << true;
    QTest::newRow("tiff") << withCameraMetadata(qtEncoded("tiff")) << true;
    QTest::newRow("webp") << withCameraMetadata(qtEncoded("webp"), false) << false;
    QTest::newRow("heic") << cameraHeic() << false;
}

void TestMetadata::carriesCameraMetadata()
{
    QFETCH(QByteArray, source);
    QFETCH(bool, iptc);
    if (source.isEmpty())
        QSKIP("libheif has no HEVC encoder here (Debian's libheif1 builds it in with libx265)");

    const SourceMetadata meta = readSourceMetadata(source);
    QVERIFY2(meta.problem().isEmpty(), qPrintable(meta.problem()));
    const JpegWithMetadata out = addSourceMetadata(plainJpeg(64, 48), meta, QSize(64, 48), {});
    QVERIFY2(out.problem.isEmpty(), qPrintable(out.problem));
    QVERIFY(decodes(out.jpeg));

    const Read r = readBack(out.jpeg);
    QCOMPARE(value(r.exif, "Exif.Photo.DateTimeOriginal"), "2024:05:06 07:08:09");
    QCOMPARE(value(r.exif, "Exif.Image.Make"), "Kestrel Optics");
    QCOMPARE(value(r.exif, "Exif.Image.Model"), "KX-1");
    QCOMPARE(value(r.exif, "Exif.Image.Copyright"), "(c) Aoi Tanaka");
    QCOMPARE(value(r.exif, "Exif.GPSInfo.GPSLatitude"), "35/1 41/1 2230/100");
    // The turn is in the pixels; the thumbnail and the pixel size were the old picture's.
    QCOMPARE(value(r.exif, "Exif.Image.Orientation"), "1");
    QCOMPARE(value(r.xmp, "Xmp.tiff.Orientation"), "1");
    QCOMPARE(value(r.exif, "Exif.Photo.PixelXDimension"), "64");
    QCOMPARE(value(r.exif, "Exif.Photo.PixelYDimension"), "48");
    QCOMPARE(value(r.xmp, "Xmp.exif.PixelXDimension"), "64");
    QCOMPARE(value(r.xmp, "Xmp.dc.creator"), "Aoi Tanaka");
    for (const auto &datum : r.exif) {
        QVERIFY2(datum.groupName() != "Thumbnail", datum.key().c_str());
        // A TIFF source's strips must not be described in a JPEG.
        QVERIFY2(datum.key() != "Exif.Image.StripOffsets" && datum.key() != "Exif.Image.ImageWidth",
                 datum.key().c_str());
    }
    if (iptc) {
        QCOMPARE(r.iptc.count(), 1L);
        QCOMPARE(QString::fromStdString(r.iptc.begin()->toString()), "(c) Aoi Tanaka");
    }
}

void TestMetadata::carriesRgbProfilesOnly_data()
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

void TestMetadata::carriesRgbProfilesOnly()
{
    QFETCH(QByteArray, profile);
    QFETCH(bool, embedded);
    // A source with EXIF too, so that profile and EXIF segments must both be right.
    const SourceMetadata meta = readSourceMetadata(withCameraMetadata(plainJpeg(32, 24)));
    const JpegWithMetadata out = addSourceMetadata(plainJpeg(64, 48), meta, QSize(64, 48), profile);
    QVERIFY(decodes(out.jpeg));
    QCOMPARE(embeddedIccProfile(out.jpeg, PictureFormat::Jpeg), embedded ? profile : QByteArray());
    QCOMPARE(readSourceMetadata(out.jpeg).iccProfile(), embedded ? profile : QByteArray());
    QCOMPARE(value(readBack(out.jpeg).exif, "Exif.Image.Make"), "Kestrel Optics");
}

void TestMetadata::leavesOutWhatCannotGo_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<bool>("exif");
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
    QTest::newRow("exif over 64 KB") << withCameraMetadata(qtEncoded("tiff"), false, huge) << false << true
                                     << "EXIF を出力に書き込めない";

    // An EXIF segment whose first directory lies outside it.
    const QByteArray plain = plainJpeg(32, 24);
    const QByteArray broken = plain.left(2) + QByteArray("\xFF\xE1\x00\x10" "Exif\0\0" "II*\0\xFF\xFF\xFF\x0F", 18)
                              + plain.mid(2);
    QTest::newRow("exif damaged") << broken << false << false << "画像のメタデータを読み取れない";
    QTest::newRow("not a picture") << QByteArray("hello") << false << false << "画像のメタデータを読み取れない";
}

void TestMetadata::leavesOutWhatCannotGo()
{
    QFETCH(QByteArray, source);
    QFETCH(bool, exif);
    QFETCH(bool, xmp);
    QFETCH(QString, problem);

    const SourceMetadata meta = readSourceMetadata(source);
    const JpegWithMetadata out = addSourceMetadata(plainJpeg(64, 48), meta, QSize(64, 48), {});
    QVERIFY(decodes(out.jpeg));
    const QString reported = meta.problem() + out.problem;
    QVERIFY2(problem.isEmpty() ? reported.isEmpty() : reported.startsWith(problem), qPrintable(reported));
    const Read r = readBack(out.jpeg);
    QCOMPARE(value(r.exif, "Exif.Image.Make").isEmpty(), !exif);
    QCOMPARE(value(r.xmp, "Xmp.dc.creator").isEmpty(), !xmp);
}

QTEST_GUILESS_MAIN(TestMetadata)
#include "tst_metadata.moc"
