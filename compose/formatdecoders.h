#pragma once
// The decoder for the pictures read whole rather than by rows: GIF, through Qt's
// image reader. The format is told from the content (sniffPictureFormat).

#include "compose/metadatablocks.h"
#include "compose/pictureformat.h"

#include <QByteArray>
#include <QImage>

#include <functional>

namespace kestrovia {

struct FormatPicture {
    // At the picture's full size.
    // Format_RGB32 for an opaque picture, Format_ARGB32 (not premultiplied) when the
    // picture has an alpha channel or transparent colours.
    QImage image;
    // The embedded ICC profile as stored (any colour space); empty when none.
    QByteArray iccProfile;
    MetadataBlocks blocks; // none for a GIF
};

// Decodes the first frame of data, which holds a GIF file. The size is read from the header and checked with
// checkPictureSize before any pixel memory is taken. Throws Failure with a Japanese
// reason for a corrupt, truncated, too large or unsupported picture, or when the
// format's decoder is not installed.
// beforeDecode, when given, is called with the size from the header (after that
// check) before the pixels are decoded.
FormatPicture decodeFormatPicture(const QByteArray &data, PictureFormat format,
                                  const std::function<void(QSize)> &beforeDecode = {});

} // namespace kestrovia
