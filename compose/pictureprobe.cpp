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

} // namespace kestrovia
