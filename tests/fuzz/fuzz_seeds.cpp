// Writes the seed corpora for the fuzzers, each file prefixed with its harness's
// option byte:
//   <folder>/pictures  every format and flavour the decoder reads (fuzz_decoder,
//                      fuzz_converter)
//   <folder>/metadata  pictures of every container with a camera's metadata, and
//                      raw EXIF, XMP and IPTC blocks (fuzz_metadata)
//   <folder>/icc       RGB, grey and CMYK profiles (fuzz_iccprofile, no prefix)
//   fuzz_seeds <folder>

#include "compose/colorprofile.h"
#include "tests/common/camerametadata.h"
#include "tests/common/formatpictures.h"
#include "tests/common/testpictures.h"
#include "tests/common/tiffpictures.h"

#include <QDir>
#include <QFile>

using namespace testpics;

namespace {

void writeAll(const QDir &dir, const QList<std::pair<const char *, QByteArray>> &seeds, const QList<char> &options)
{
    dir.mkpath(QStringLiteral("."));
    for (const auto &[name, data] : seeds) {
        if (data.isEmpty())
            continue; // e.g. no HEVC encoder here
        for (const char option : options)
            writeFile(dir.filePath(QStringLiteral("%1-%2").arg(QLatin1String(name)).arg(int(option))),
                      options == QList<char>{-1} ? data : QByteArray(1, option) + data);
    }
}

QByteArray blob(const Exiv2::Blob &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), qsizetype(b.size()));
}

} // namespace

// x265 keeps a few allocations of its own after its encoder is freed (the HEIC seed).
extern "C" const char *__lsan_default_suppressions() { return "leak:libx265.so\n"; }

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const QImage q = quadrants(37, 23);
    QImage alpha = q.convertToFormat(QImage::Format_ARGB32);
    alpha.setPixel(0, 0, qRgba(0, 0, 0, 0));

    writeAll(QDir(root.filePath(QStringLiteral("pictures"))),
             {
                 {"baseline", jpeg(q, 90, TJSAMP_420)},
                 {"progressive", jpeg(q, 90, TJSAMP_444, TJFLAG_PROGRESSIVE)},
                 {"grey", jpeg(q, 90, TJSAMP_GRAY)},
                 {"cmyk", cmykJpeg(q)},
                 {"exif6", withExifOrientation(jpeg(q), 6)},
                 {"bmp8", bmp(q, 8)},
                 {"bmp24", bmp(q, 24)},
                 {"bmp32topdown", bmp(q, 32, true)},
                 {"png", qtEncoded(q, "png")},
                 {"png-alpha", qtEncoded(alpha, "png")},
                 {"png-grey", qtEncoded(q.convertToFormat(QImage::Format_Grayscale8), "png")},
                 {"png-16bit", qtEncoded(q.convertToFormat(QImage::Format_RGBA64), "png")},
                 {"tiff", qtEncoded(q, "tiff")},
                 {"tiff-alpha", qtEncoded(alpha, "tiff")},
                 {"webp-lossy", qtEncoded(q, "webp", 80)},
                 {"webp-lossless", qtEncoded(alpha, "webp", 100)},
                 {"gif", gif(37, 23, {q.convertToFormat(QImage::Format_Indexed8)})},
                 {"heic", heic(q)},
             },
             {char(0), char(9)});
    // TIFF in the layouts each of its routes reads (any samples will do).
    const auto tiff = [](TiffLayout l) {
        l.width = 37;
        l.height = 23;
        const int bytes = (l.width * l.samples * l.bits + 7) / 8;
        return tiffPicture(l, [bytes](int y, std::uint8_t *row) {
            for (int i = 0; i < bytes; ++i)
                row[i] = std::uint8_t(i * 7 + y * 13);
        });
    };
    const int black = PHOTOMETRIC_MINISBLACK, white = PHOTOMETRIC_MINISWHITE;
    writeAll(
        QDir(root.filePath(QStringLiteral("pictures"))),
        {
            {"tiff-lzw-predictor",
             tiff({.compression = COMPRESSION_LZW, .predictor = PREDICTOR_HORIZONTAL, .rowsPerStrip = 7})},
            {"tiff-deflate-planes-16", tiff({.bits = 16, .compression = COMPRESSION_DEFLATE, .planes = true})},
            {"tiff-packbits-grey-4",
             tiff({.photometric = white, .samples = 1, .bits = 4, .compression = COMPRESSION_PACKBITS})},
            {"tiff-float-predictor", tiff({.photometric = black,
                                           .samples = 1,
                                           .bits = 32,
                                           .sampleFormat = SAMPLEFORMAT_IEEEFP,
                                           .compression = COMPRESSION_DEFLATE,
                                           .predictor = PREDICTOR_FLOATINGPOINT})},
            {"tiff-cmyk", tiff({.photometric = PHOTOMETRIC_SEPARATED, .samples = 4, .compression = COMPRESSION_LZW})},
            {"tiff-palette", tiff({.photometric = PHOTOMETRIC_PALETTE,
                                   .samples = 1,
                                   .bits = 4,
                                   .colormap = QList<quint16>(48, 0x8080)})},
            {"tiff-g4", tiff({.photometric = white, .samples = 1, .bits = 1, .compression = COMPRESSION_CCITTFAX4})},
            {"tiff-tiles-jpeg",
             tiff({.photometric = PHOTOMETRIC_YCBCR, .compression = COMPRESSION_JPEG, .tileSide = 16})},
            {"tiff-grey-profile", tiff({.photometric = black, .samples = 1, .icc = greyProfile(1.0)})},
        },
        {char(0), char(9)});

    const Exiv2::ExifData exif = cameraExif();
    Exiv2::Blob exifLe, exifBe;
    Exiv2::ExifParser::encode(exifLe, Exiv2::littleEndian, exif);
    Exiv2::ExifData canon = exif;
    canon["Exif.Image.Make"] = "Canon";
    canon["Exif.Canon.FirmwareVersion"] = "Firmware Version 1.0.3";
    Exiv2::ExifParser::encode(exifBe, Exiv2::bigEndian, canon);
    std::string xmp;
    Exiv2::XmpParser::encode(xmp, cameraXmp());
    Exiv2::IptcData iptc;
    iptc["Iptc.Application2.Copyright"] = "(c) Aoi Tanaka";
    iptc["Iptc.Application2.City"] = "Kyoto";
    const Exiv2::DataBuf iptcRecords = Exiv2::IptcParser::encode(iptc);
    const QList<std::pair<QByteArray, char>> metadata = {
        {withCameraMetadata(jpeg(q)), 0},
        {withCameraMetadata(qtEncoded(q, "png")), 1},
        {withCameraMetadata(qtEncoded(q, "tiff")), 2},
        {withCameraMetadata(qtEncoded(q, "webp"), false), 3},
        {heic(q, heif_orientation_normal, adobeLikeProfile(), blob(exifLe), QByteArray::fromStdString(xmp)), 4},
        {blob(exifLe), 5},
        {blob(exifBe), 5},
        {QByteArray::fromStdString(xmp), 6},
        {QByteArray(reinterpret_cast<const char *>(iptcRecords.pData_), iptcRecords.size_), 7},
    };
    const QDir metadataDir(root.filePath(QStringLiteral("metadata")));
    metadataDir.mkpath(QStringLiteral("."));
    int n = 0;
    for (const auto &[data, kind] : metadata) {
        if (data.isEmpty())
            continue;
        for (const char choice : {0, 1, 2})
            writeFile(metadataDir.filePath(QStringLiteral("m%1-%2").arg(n).arg(int(choice))),
                      QByteArray(1, char(kind | choice << 3)) + data);
        ++n;
    }

    cmsToneCurve *gamma = cmsBuildGamma(nullptr, 2.2);
    QFile standard(kestrovia::standardCmykProfilePath());
    writeAll(QDir(root.filePath(QStringLiteral("icc"))),
             {
                 {"adobe-rgb", adobeLikeProfile()},
                 {"srgb", savedProfile(cmsCreate_sRGBProfile())},
                 {"grey", savedProfile(cmsCreateGrayProfile(cmsD50_xyY(), gamma))},
                 {"cmyk", standard.open(QIODevice::ReadOnly) ? standard.readAll() : QByteArray()},
             },
             {char(-1)});
    cmsFreeToneCurve(gamma);
    return 0;
}
