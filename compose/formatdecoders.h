#pragma once
// The decoder for the pictures read whole rather than by rows: GIF, its first
// frame through Qt's image reader. The format is told from the content
// (sniffPictureFormat).

#include "compose/metadatablocks.h"
#include "compose/sourcefile.h"

#include <QImage>
#include <QRect>

#include <functional>

namespace kestrovia {

class MemoryReservation;

struct FormatPicture {
    // At the picture's full size.
    // Format_RGB32 for an opaque picture, Format_ARGB32 (not premultiplied) when the
    // picture has an alpha channel or transparent colours.
    QImage image;
    // The embedded ICC profile as stored (any colour space); empty when none.
    QByteArray iccProfile;
    MetadataBlocks blocks; // none for a GIF
};

// Where a GIF's first frame lies, from a walk over the file's blocks that reads
// no further than that frame (and its data, when asked).
struct GifLayout {
    QSize screen; // the logical screen
    QRect frame; // the first frame's rectangle on the screen, as declared
    // What is shown: the first frame drawn on the screen, or the part of the
    // frame on the screen alone when the screen is past 16 megapixels and the
    // frame does not cover it (a screen of background is no picture, and filling
    // hundreds of megapixels of it took seconds and gigabytes).
    QRect picture;
    qint64 descriptorAt = 0; // offset of the frame's image descriptor
    qint64 end = 0; // offset just past the frame's data, when walked
    qint64 dataBytes = 0; // the frame's coded bytes, when walked
};

// Throws Failure (Japanese) for a file that ends or breaks before the first frame
// (or its data, with withData), for blocks before the frame or frame data past any
// real file's, and for a picture beyond the size limits.
GifLayout gifLayout(const PictureSource &source, bool withData);

// Decodes the first frame of the GIF in source: only the bytes up to the end of
// its data are read, reserved in memory first. beforeDecode, when given, is
// called with the picture's size (checked against the limits and against what
// the frame's data can cover) before any pixel is allocated. Throws Failure with
// a Japanese reason for a corrupt, truncated, too large or unsupported picture,
// or when Qt's GIF reader is not installed.
FormatPicture decodeGif(const PictureSource &source, MemoryReservation &memory,
                        const std::function<void(QSize)> &beforeDecode = {});

} // namespace kestrovia
