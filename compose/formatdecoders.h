#pragma once
// Decoders for the pictures read whole rather than by rows: GIF through Qt's image
// reader, HEIC / HEIF through libheif. The format is told from the content
// (sniffPictureFormat).

#include "compose/metadatablocks.h"
#include "compose/pictureformat.h"

#include <QByteArray>
#include <QImage>

#include <functional>

namespace kestrovia {

struct FormatPicture {
    // Upright (EXIF / HEIF orientation applied) at the picture's full size.
    // Format_RGB32 for an opaque picture, Format_ARGB32 (not premultiplied) when the
    // picture has an alpha channel or transparent colours.
    QImage image;
    // The embedded ICC profile as stored (any colour space); empty when none.
    QByteArray iccProfile;
    MetadataBlocks blocks; // EXIF and XMP as libheif finds them; the profile
};

// Decodes the first picture (first frame of a GIF) of data, which holds a GIF or
// HEIF file. The size is read from the header and checked with
// checkPictureSize before any pixel memory is taken. Throws Failure with a Japanese
// reason for a corrupt, truncated, too large or unsupported picture, or when the
// format's decoder is not installed.
// beforeDecode, when given, is called with the size from the header (after that
// check) before the pixels are decoded.
FormatPicture decodeFormatPicture(const QByteArray &data, PictureFormat format,
                                  const std::function<void(QSize)> &beforeDecode = {});

} // namespace kestrovia
