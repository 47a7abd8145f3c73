#include "compose/pictureprobe.h"

#include "compose/formatdecoders.h"
#include "compose/picturedecoder.h"
#include "compose/rowreaders.h"
#include "compose/sourcefile.h"
#include "compose/tiffmetadata.h"
#include "platform/failure.h"
#include "platform/japanese.h"

#include <algorithm>

namespace kestrovia {

namespace {
// Ends a decode as soon as its header has been read.
struct HeaderRead {
    QSize size;
};
} // namespace

PictureInfo probePicture(const QString &path)
{
    try {
        const PictureSource source = PictureSource::open(path);
        PictureInfo info;
        info.format = sniffPictureFormat(source.head());
        const auto stopAtHeader = [](QSize upright) -> QSize { throw HeaderRead{upright}; };
        try {
            if (info.format == PictureFormat::Gif)
                return {info.format, gifLayout(source, false).picture.size()};
            // Each reader reads its header alone (HEIF: the boxes libheif asks for,
            // not the coded picture), and stops there.
            if (info.format == PictureFormat::Unknown)
                decodePictureData(source.head(), stopAtHeader); // refused from its first bytes
            else
                openRowReader(source, info.format, stopAtHeader);
        } catch (const HeaderRead &h) {
            info.size = h.size;
        }
        return info;
    } catch (const Failure &f) {
        throw unreadablePicture(path, f);
    }
}

QDateTime pictureDateTaken(const QString &path)
{
    // A camera's EXIF sits in the first 64 KB (one JPEG segment at most, before
    // the pixels in PNG and WebP); a little more covers the segments before it.
    constexpr qint64 kMetadataAtStart = 256 << 10;
    try {
        const PictureSource source = PictureSource::open(path);
        const PictureFormat format = sniffPictureFormat(source.head());
        MetadataBlocks blocks;
        if (format == PictureFormat::Tiff)
            blocks = tiffMetadataBlocks(source);
        else if (format == PictureFormat::Heif)
            blocks = embeddedMetadata(source.bytes(0, source.size()), format);
        else
            blocks = embeddedMetadata(source.bytes(0, std::min(source.size(), kMetadataAtStart)), format);
        return exifDateTaken(blocks.exif);
    } catch (const Failure &) {
        // The row itself says why when it is read; the name takes another date.
        return {};
    }
}

} // namespace kestrovia
