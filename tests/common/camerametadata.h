#pragma once
// A camera's metadata written into test pictures with exiv2, and read back from the
// outputs. Tests that include this link exiv2 and build with
// -Wno-deprecated-declarations (exiv2 0.27's API is built on std::auto_ptr).

#include "tests/common/testpictures.h"

#include <exiv2/exiv2.hpp>

#include <QProcess>
#include <QSet>
#include <QStandardPaths>

#include <optional>

namespace testpics {

// What a camera writes: date, make and model, position, copyright, a turn of 6, a
// thumbnail, its own pixel size.
inline Exiv2::ExifData cameraExif()
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
    const QByteArray thumb = jpeg(quadrants(16, 12));
    Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(thumb.constData()),
                                            long(thumb.size()));
    return exif;
}

inline Exiv2::XmpData cameraXmp()
{
    Exiv2::XmpData xmp;
    xmp["Xmp.tiff.Orientation"] = "6";
    xmp["Xmp.exif.PixelXDimension"] = "4000";
    xmp["Xmp.dc.creator"] = "Aoi Tanaka";
    return xmp;
}

// The picture (any format exiv2 writes) with these blocks as its metadata.
inline QByteArray withMetadata(const QByteArray &picture, const Exiv2::ExifData &exif, const Exiv2::XmpData &xmp,
                               const Exiv2::IptcData &iptc)
{
    Exiv2::Image::AutoPtr image =
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(picture.constData()), long(picture.size()));
    image->readMetadata();
    image->setExifData(exif);
    image->setXmpData(xmp);
    image->setIptcData(iptc);
    image->writeMetadata();
    Exiv2::BasicIo &io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf out = io.read(io.size());
    return QByteArray(reinterpret_cast<const char *>(out.pData_), out.size_);
}

// The picture with exif and the camera's XMP, and an IPTC copyright on request.
inline QByteArray withCameraMetadata(const QByteArray &picture, bool iptc = true,
                                     const Exiv2::ExifData &exif = cameraExif())
{
    Exiv2::IptcData data;
    if (iptc)
        data["Iptc.Application2.Copyright"] = "(c) Aoi Tanaka";
    return withMetadata(picture, exif, cameraXmp(), data);
}

// A camera's picture that says where it was taken in every block: GPS in the EXIF;
// coordinates and places in the XMP, a drone maker's schema among them, and the
// height, time of the fix and heading, named by no word but "GPS"; city and
// country in the IPTC beside its copyright.
inline QByteArray withPlaces(const QByteArray &picture)
{
    Exiv2::XmpProperties::registerNs("http://www.dji.com/drone-dji/1.0/", "drone-dji");
    Exiv2::XmpData xmp = cameraXmp();
    xmp["Xmp.exif.GPSLatitude"] = "35,41.3717N";
    xmp["Xmp.exif.GPSAltitude"] = "120/1";
    xmp["Xmp.exif.GPSTimeStamp"] = "2024-05-06T07:08:09Z";
    xmp["Xmp.exif.GPSImgDirection"] = "90/1";
    xmp["Xmp.photoshop.City"] = "Kyoto";
    xmp["Xmp.iptc.Location"] = "Gion";
    xmp["Xmp.drone-dji.GpsLongitude"] = "135.77";
    Exiv2::IptcData iptc;
    iptc["Iptc.Application2.Copyright"] = "(c) Aoi Tanaka";
    iptc["Iptc.Application2.City"] = "Kyoto";
    iptc["Iptc.Application2.CountryName"] = "Japan";
    return withMetadata(picture, cameraExif(), xmp, iptc);
}

// An EXIF entry as stored: tag, TIFF type, count and its value's bytes (little-endian).
struct ExifEntry {
    quint16 tag, type;
    quint32 count;
    QByteArray value;
};

// A little-endian EXIF block (a TIFF structure) whose first directory holds a
// camera's Make, the resolution a JPEG's EXIF needs and, after it, an Exif directory
// with its required tags; `first` and `exifExtra` join the two directories (sorted
// in as given: `first` at their start).
inline QByteArray exifBlockWith(const QList<ExifEntry> &first, const QList<ExifEntry> &exifExtra = {})
{
    const auto le16 = [](quint32 v) { return QByteArray() + char(v) + char(v >> 8); };
    const auto le32 = [&](quint32 v) { return le16(v & 0xFFFF) + le16(v >> 16); };
    const auto rational = [&](quint32 n, quint32 d) { return le32(n) + le32(d); };
    const auto directory = [&](const QList<ExifEntry> &entries, quint32 at) {
        QByteArray table = le16(quint32(entries.size())), data;
        const quint32 dataAt = at + 2 + 12 * quint32(entries.size()) + 4;
        for (const ExifEntry &e : entries) {
            table += le16(e.tag) + le16(e.type) + le32(e.count);
            if (e.value.size() <= 4) {
                table += e.value + QByteArray(4 - e.value.size(), '\0');
            } else {
                table += le32(dataAt + quint32(data.size()));
                data += e.value + QByteArray(e.value.size() % 2, '\0');
            }
        }
        return table + le32(0) + data;
    };
    QList<ExifEntry> image = first;
    image += {{0x010F, 2, 14, QByteArray("Kestrel Optics", 14)},
              {0x011A, 5, 1, rational(72, 1)},
              {0x011B, 5, 1, rational(72, 1)},
              {0x0128, 3, 1, le16(2)},
              {0x0213, 3, 1, le16(1)},
              {0x8769, 4, 1, le32(0)}};
    const quint32 exifAt = 8 + quint32(directory(image, 8).size());
    image.last().value = le32(exifAt);
    const QList<ExifEntry> exif = QList<ExifEntry>{{0x9000, 7, 4, "0232"},   {0x9101, 7, 4, QByteArray("\1\2\3\0", 4)},
                                                   {0xA000, 7, 4, "0100"},   {0xA001, 3, 1, le16(1)},
                                                   {0xA002, 4, 1, le32(64)}, {0xA003, 4, 1, le32(48)}}
                                  + exifExtra;
    return QByteArray("II*\0", 4) + le32(8) + directory(image, 8) + directory(exif, exifAt);
}

// A JPEG with an EXIF segment (APP1) of block after its start.
inline QByteArray withExifSegment(const QByteArray &jpegData, const QByteArray &block)
{
    const QByteArray payload = QByteArray("Exif\0\0", 6) + block;
    const int length = int(payload.size()) + 2;
    return jpegData.left(2) + "\xFF\xE1" + char(length >> 8) + char(length) + payload + jpegData.mid(2);
}

// A file's metadata as exiv2 reads it.
struct ReadBack {
    Exiv2::ExifData exifData;
    Exiv2::XmpData xmpData;
    Exiv2::IptcData iptcData;
    QByteArray icc; // the ICC profile

    // The value of a key; empty when absent.
    template <typename Data, typename Key> static QString value(const Data &data, const char *key)
    {
        const auto it = data.findKey(Key(key));
        return it == data.end() ? QString() : QString::fromStdString(it->toString());
    }
    QString exif(const char *key) const { return value<Exiv2::ExifData, Exiv2::ExifKey>(exifData, key); }
    QString xmp(const char *key) const { return value<Exiv2::XmpData, Exiv2::XmpKey>(xmpData, key); }
};

inline ReadBack readBack(const QByteArray &file)
{
    // AVIF is an ISO base media file, which exiv2 reads only when asked to.
    Exiv2::enableBMFF(true);
    Exiv2::Image::AutoPtr image =
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(file.constData()), long(file.size()));
    image->readMetadata();
    ReadBack r{image->exifData(), image->xmpData(), image->iptcData(), {}};
    if (image->iccProfileDefined())
        r.icc = QByteArray(reinterpret_cast<const char *>(image->iccProfile()->pData_), image->iccProfile()->size_);
    return r;
}

// What `exiftool -validate -warning` finds wrong with a file (one text each); nullopt
// when exiftool is not installed.
inline std::optional<QSet<QString>> exiftoolFaults(const QByteArray &file)
{
    if (QStandardPaths::findExecutable(QStringLiteral("exiftool")).isEmpty())
        return std::nullopt;
    QProcess p;
    p.start(QStringLiteral("exiftool"), QStringList{QStringLiteral("-validate"), QStringLiteral("-warning"),
                                                    QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-")});
    p.write(file);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    QSet<QString> faults;
    // "Warning : text" lines; the Validate tag's summary ("OK", "2 Warnings") is no fault.
    for (const QString &line : QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(QStringLiteral("Warning")))
            faults.insert(line.mid(line.indexOf(u':') + 1).trimmed());
    }
    return faults;
}

// The faults exiftool finds in output that it does not find in source: a text
// listing them, empty when there are none (or when exiftool is missing: the
// caller skips then).
inline QString newFaults(const QByteArray &source, const QByteArray &output)
{
    const auto before = exiftoolFaults(source), after = exiftoolFaults(output);
    if (!before || !after)
        return {};
    const QSet<QString> added = *after - *before;
    return QStringList(added.begin(), added.end()).join(QStringLiteral("; "));
}

inline bool haveExiftool() { return !QStandardPaths::findExecutable(QStringLiteral("exiftool")).isEmpty(); }

} // namespace testpics

Q_DECLARE_METATYPE(testpics::ExifEntry)
