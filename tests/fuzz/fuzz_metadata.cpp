// libFuzzer harness: any bytes through the metadata path of an export. The first
// byte picks what the bytes are (a picture of one format, whose blocks
// embeddedMetadata finds, or a raw EXIF, XMP or IPTC block as a decoder hands it
// on) and the metadata choice; the blocks are parsed by exiv2 and written into a
// small JPEG, whose segments are then walked again as a source's would be.

#include "compose/pictureformat.h"
#include "export/converter.h"
#include "export/metadata.h"

#include <QImage>

#include <cstddef>
#include <cstdint>

namespace {

const QByteArray &smallJpeg()
{
    static const QByteArray jpeg = [] {
        // A complete JPEG as the encoder writes it (SOI, APP0, tables, frame, scan).
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::gray);
        return kestrovia::encodeJpeg(image, 90);
    }();
    return jpeg;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace kestrovia;
    if (size < 2)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    static const PictureFormat formats[] = {PictureFormat::Jpeg, PictureFormat::Png, PictureFormat::Tiff,
                                            PictureFormat::WebP, PictureFormat::Heif};
    MetadataBlocks blocks;
    switch (const int kind = data[0] & 7) {
    case 5: blocks.exif = bytes; break;
    case 6: blocks.xmp = bytes; break;
    case 7: blocks.iptc = bytes; break;
    default: blocks = embeddedMetadata(bytes, formats[kind]); break;
    }
    const auto choice = MetadataChoice((data[0] >> 3) % 3);
    const JpegWithMetadata out =
        addSourceMetadata(smallJpeg(), readSourceMetadata(blocks), QSize(8, 8), blocks.icc, choice);
    // What we wrote must read back as blocks again.
    const MetadataBlocks again = embeddedMetadata(out.jpeg, PictureFormat::Jpeg);
    if (again.exif.isEmpty() || again.xmp.isEmpty())
        __builtin_trap();
    readSourceMetadata(again);
    return 0;
}
