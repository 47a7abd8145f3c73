#pragma once
// Decoding of the pictures a job can name, told apart by their content: JPEG
// (baseline, progressive, greyscale, CMYK) through libjpeg-turbo, BMP (1, 4, 8 bit
// palette, RLE4 and RLE8; 16, 24, 32 bit, bit fields; Windows, V4, V5 and OS/2
// headers; bottom-up and top-down), and PNG, TIFF, WebP, GIF and HEIC/HEIF
// (formatdecoders). An EXIF orientation is applied, so the picture comes out upright
// as a photo viewer shows it.

#include "compose/metadatablocks.h"
#include "compose/picturelimits.h"
#include "compose/sourcefile.h"

#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

namespace kestrovia {

class PictureSource;

struct DecodedPicture {
    // Upright; smaller than size after a reduced decode. Format_RGB32, or
    // Format_ARGB32 (straight alpha) for a picture with transparency.
    QImage image;
    QSize size; // the picture's real upright size in pixels
    // The rectangle of image, in its pixels, that stands for the whole picture:
    // image's own rectangle after a full decode. After a reduction by d it is
    // size / d: a last block that holds only w mod d source pixels reaches past
    // it, on whichever side the EXIF turn put that block. Draw from this
    // rectangle, not from image.rect(), or the content shifts by up to a pixel.
    QRectF extent;
    // The ICC profile of image's colours when it is an RGB profile the output should
    // carry; empty for sRGB-like pictures without one and for CMYK pictures, which
    // come out converted to sRGB.
    QByteArray iccProfile;
    // The metadata blocks the decoder passed on its way (EXIF, XMP, IPTC, the ICC
    // profile as stored), for the export.
    MetadataBlocks blocks;
};

// Decodes the file whole. The header is read first: the format, the size limits
// and what the data can hold are checked, and the memory is reserved from the
// process's budget (memorybudget.h), before the rest of the file is read. reduceTo,
// when valid, is the size (in upright pixels) the picture will be drawn at: a JPEG
// may then be decoded at 1/2, 1/4 or 1/8 scale, a BMP averaged over 2x2 or 4x4
// blocks, a WebP scaled by its decoder, as long as the result keeps a margin of
// pixels above that size for the final filter. Throws Failure with a Japanese
// message for a missing, empty, truncated, corrupt, unsupported or too large file,
// and Stopped when the current stop scope's flag is raised.
DecodedPicture decodePicture(const QString &path, QSize reduceTo = QSize());
DecodedPicture decodePictureData(const QByteArray &data, QSize reduceTo = QSize());

// The same, with the needed size worked out from the picture's real upright size
// once the header has been read (e.g. the size a keep-aspect fit will draw it at).
// An invalid result means "decode in full".
using NeedFunction = std::function<QSize(QSize uprightSize)>;
DecodedPicture decodePicture(const QString &path, const NeedFunction &need);
DecodedPicture decodePictureData(const QByteArray &data, const NeedFunction &need);
// The same for a source open already; its reasons do not name the file.
DecodedPicture decodePictureSource(const PictureSource &source, const NeedFunction &need);

// A JPEG's colour planes as its data holds them, for a job that only scales a
// photo: no conversion to RGB and back, and the chroma planes filtered at their own,
// smaller size.
struct JpegPlanes {
    QImage y, cb, cr; // Format_Grayscale8; cb and cr subsampled as stored
    QSize size; // the picture's real size in pixels
    QRectF lumaExtent; // the part of y standing for the whole picture
    QRectF chromaExtent; // the same in cb and cr
    QByteArray iccProfile; // as DecodedPicture::iccProfile
    MetadataBlocks blocks; // as DecodedPicture::blocks
};

// The size of a plain colour JPEG (YCbCr sampled 4:4:4, 4:2:2, 4:2:0 or 4:4:0,
// stored upright) from its header; nullopt for any other data.
// Only the header is read.
std::optional<QSize> plainJpegSize(const PictureSource &source);

// The planes of a plain colour JPEG (as plainJpegSize says), reduced on load like
// decodePicture; nullopt for any other picture, which takes the RGB route. Throws
// Failure for a damaged or too large JPEG, as decodePicture.
std::optional<JpegPlanes> decodeJpegPlanes(const QByteArray &data, const NeedFunction &need);

// The picture JPEG planes make, as a JPEG decoder shows them: chroma at half the
// luma's size both ways (a 4:2:0 file) is brought up by libjpeg's "fancy" filter
// (3/4 of the nearer sample and 1/4 of the next, each way, the edges repeated),
// then JFIF's full-range YCbCr is converted with libjpeg's fixed-point constants,
// so that the result is the file's own decode, pixel for pixel. y's whole size is
// the picture; cb and cr are at y's size, or else taken as halved both ways: they
// hold at least half of it rounded up (the rest is not looked at). Throws Failure
// for smaller ones.
QImage rgbOfJpegPlanes(const QImage &y, const QImage &cb, const QImage &cr);

// An image turned upright under EXIF orientation (1..8), and where a rectangle of
// the stored image's pixels lands then.
QImage orientImage(const QImage &image, int orientation);
QRectF orientRect(const QRectF &rect, QSize storedSize, int orientation);

} // namespace kestrovia
