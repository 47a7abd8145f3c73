#include "compose/pictureprobe.h"

#include "compose/formatdecoders.h"
#include "compose/picturedecoder.h"
#include "compose/rowreaders.h"
#include "compose/sourcefile.h"
#include "platform/failure.h"
#include "platform/japanese.h"

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
            // Band formats read their header alone; HEIF is read whole (phones'
            // pictures are a few megabytes), up to its header.
            if (info.format == PictureFormat::Unknown)
                decodePictureData(source.head(), stopAtHeader); // refused from its first bytes
            else if (info.format != PictureFormat::Heif)
                openRowReader(source, info.format, stopAtHeader);
            else
                decodePictureData(source.bytes(0, source.size()), stopAtHeader);
        } catch (const HeaderRead &h) {
            info.size = h.size;
        }
        return info;
    } catch (const Failure &f) {
        throw unreadablePicture(path, f);
    }
}

} // namespace kestrovia
