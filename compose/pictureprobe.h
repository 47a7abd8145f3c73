#pragma once
// What a picture file is and how large, from its header alone: for the size a row
// shows before it is first drawn, the size modes that work a row's size out from
// its own picture, and the preview's first showing.

#include "compose/pictureformat.h"

#include <QDateTime>
#include <QSize>
#include <QString>

namespace kestrovia {

struct PictureInfo {
    PictureFormat format = PictureFormat::Unknown;
    QSize size; // upright (EXIF / HEIF turn applied), in pixels
};

// The format and upright size of the picture at path. Throws Failure with the
// reason a decode would give (missing, not a picture, damaged header, too large).
PictureInfo probePicture(const QString &path);

// When the picture at path was taken (exifDateTaken of its EXIF), read from the
// start of the file where the metadata of JPEG, PNG and WebP stands (TIFF by its
// directories, HEIF whole, as probePicture reads it); invalid when the picture does
// not say or cannot be read.
QDateTime pictureDateTaken(const QString &path);

} // namespace kestrovia
