// What copying a camera's metadata costs per row, against encoding the row's JPEG
// in the same run:
//
//   metadata_bench [runs]   (default 40)
//
// prints one line: metadata_ms=… encode_ms=… metadata_vs_encode=… metadata_kb=…
// Times are medians. The source is a 4000x3000 camera JPEG with a maker note, a
// thumbnail, GPS, XMP, IPTC and an Adobe RGB profile; the output a 1600x1200 JPEG
// at quality 80, as a batch row writes it. metadata_ms covers reading the source's
// metadata and writing it into the output.

#include "compose/pictureformat.h"
#include "export/metadata.h"

// exiv2 0.27's API is built on std::auto_ptr.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include <QColorSpace>
#include <QImage>

#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace kestrovia;

namespace {

QImage texture(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<quint32 *>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const quint32 n = (quint32(x) * 374761393u + quint32(y) * 668265263u) >> 24;
            row[x] = qRgb(int(60 + x * 120 / w + n / 8), int(90 + y * 100 / h + n / 8), int(150 + n / 8));
        }
    }
    return img;
}

QByteArray encode(const QImage &img, int quality)
{
    tjhandle tj = tjInitCompress();
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, img.constBits(), img.width(), int(img.bytesPerLine()), img.height(), TJPF_BGRX, &buf, &size,
                TJSAMP_420, quality, 0);
    const QByteArray out(reinterpret_cast<const char *>(buf), qsizetype(size));
    tjFree(buf);
    tjDestroy(tj);
    return out;
}

QByteArray cameraSource()
{
    const QByteArray plain = encode(texture(4000, 3000), 92);
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Kestrel Optics";
    exif["Exif.Image.Model"] = "KX-1";
    exif["Exif.Image.Orientation"] = std::uint16_t(6);
    exif["Exif.Image.Software"] = "KX-1 Firmware 1.02";
    exif["Exif.Image.Artist"] = "Aoi Tanaka";
    exif["Exif.Image.Copyright"] = "(c) Aoi Tanaka";
    exif["Exif.Image.DateTime"] = "2024:05:06 07:08:09";
    exif["Exif.Photo.DateTimeOriginal"] = "2024:05:06 07:08:09";
    exif["Exif.Photo.DateTimeDigitized"] = "2024:05:06 07:08:09";
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(56, 10);
    exif["Exif.Photo.ISOSpeedRatings"] = std::uint16_t(200);
    exif["Exif.Photo.FocalLength"] = Exiv2::URational(350, 10);
    exif["Exif.Photo.LensModel"] = "Kestrel 18-55mm";
    exif["Exif.Photo.PixelXDimension"] = std::uint32_t(4000);
    exif["Exif.Photo.PixelYDimension"] = std::uint32_t(3000);
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    exif["Exif.GPSInfo.GPSLongitudeRef"] = "E";
    Exiv2::URationalValue lat, lon;
    lat.read("35/1 41/1 2230/100");
    lon.read("139/1 41/1 3060/100");
    exif["Exif.GPSInfo.GPSLatitude"] = lat;
    exif["Exif.GPSInfo.GPSLongitude"] = lon;
    // A maker note of the size cameras write.
    std::vector<Exiv2::byte> note(24000);
    for (size_t i = 0; i < note.size(); ++i)
        note[i] = Exiv2::byte(i * 31);
    Exiv2::DataValue noteValue(Exiv2::undefined);
    noteValue.read(note.data(), long(note.size()));
    exif["Exif.Photo.MakerNote"] = noteValue;
    const QByteArray thumb = encode(texture(160, 120), 80);
    Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(thumb.constData()),
                                            long(thumb.size()));
    Exiv2::XmpData xmp;
    xmp["Xmp.tiff.Orientation"] = "6";
    xmp["Xmp.dc.creator"] = "Aoi Tanaka";
    xmp["Xmp.xmp.CreatorTool"] = "KX-1 Firmware 1.02";
    xmp["Xmp.photoshop.DateCreated"] = "2024-05-06T07:08:09";
    Exiv2::IptcData iptc;
    iptc["Iptc.Application2.Copyright"] = "(c) Aoi Tanaka";
    iptc["Iptc.Application2.Byline"] = "Aoi Tanaka";

    Exiv2::Image::AutoPtr image =
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(plain.constData()), long(plain.size()));
    image->setExifData(exif);
    image->setXmpData(xmp);
    image->setIptcData(iptc);
    const QByteArray icc = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    Exiv2::DataBuf profile(reinterpret_cast<const Exiv2::byte *>(icc.constData()), long(icc.size()));
    image->setIccProfile(profile);
    image->writeMetadata();
    Exiv2::BasicIo &io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf out = io.read(io.size());
    return QByteArray(reinterpret_cast<const char *>(out.pData_), out.size_);
}

template <typename F> double medianMs(int runs, F work)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(ms.begin(), ms.begin() + runs / 2, ms.end());
    return ms[size_t(runs / 2)];
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = std::max(5, argc > 1 ? std::atoi(argv[1]) : 40);
    const QByteArray source = cameraSource();
    const QImage output = texture(1600, 1200);
    const QByteArray jpeg = encode(output, 80);
    readSourceMetadata(embeddedMetadata(source, PictureFormat::Jpeg)); // one-time set-up of exiv2 out of the timing

    std::size_t sink = 0;
    qsizetype added = 0;
    const double metadata = medianMs(runs, [&] {
        const MetadataBlocks blocks = embeddedMetadata(source, PictureFormat::Jpeg);
        const SourceMetadata meta = readSourceMetadata(blocks);
        const JpegWithMetadata out = addSourceMetadata(jpeg, meta, output.size(), blocks.icc, MetadataChoice::KeepAll);
        if (!out.problem.isEmpty() || !meta.hasExif())
            std::fprintf(stderr, "metadata not copied: %s\n", qPrintable(out.problem + meta.problem()));
        added = out.jpeg.size() - jpeg.size();
    });
    const double encoding = medianMs(runs, [&] { sink += std::size_t(encode(output, 80).size()); });
    std::printf("metadata_ms=%.2f encode_ms=%.2f metadata_vs_encode=%.3f metadata_kb=%lld\n", metadata, encoding,
                metadata / encoding, static_cast<long long>(added / 1024));
    return sink == 0;
}
