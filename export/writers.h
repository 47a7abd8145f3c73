#pragma once
// The writers of the formats beside JPEG: WebP (libwebp, its chunks through
// libwebpmux), AVIF (libheif over libaom) and PNG (libpng). Each takes a canvas as
// the composition makes it, Format_RGB32 or Format_ARGB32 with straight alpha (any
// other format is converted), and returns the whole file in memory with the
// output's metadata: EXIF, XMP and the RGB profile in the places the format keeps
// them. Transparency is written only where the canvas has some. Nothing is
// written to disk; several pictures may be encoded at once on different threads.
// Each throws Failure with a Japanese reason when its encoder fails.

#include "export/levels.h"
#include "export/metadata.h"

#include <QByteArray>
#include <QImage>

namespace kestrovia {

// A RIFF WebP: VP8 (lossy, 4:2:0) or VP8L (lossless), with VP8X and the ICCP,
// EXIF and XMP chunks when there is metadata.
QByteArray encodeWebp(const QImage &canvas, const WebpSettings &settings, const OutputMetadata &metadata = {});

// An AVIF still picture (8 bits): the colour's nclx (sRGB, BT.601 matrix, full
// range, as JPEG's YCbCr), the ICC profile beside it when there is one, the Exif
// and XMP items, and an alpha plane when there is transparency.
QByteArray encodeAvif(const QImage &canvas, const AvifSettings &settings, const OutputMetadata &metadata = {});

// A PNG of 8-bit RGB or RGBA, iCCP, eXIf and the XMP as an iTXt chunk
// "XML:com.adobe.xmp", all before the pixels.
QByteArray encodePng(const QImage &canvas, const PngSettings &settings, const OutputMetadata &metadata = {});

// Whether any pixel of the canvas is less than opaque.
bool hasTransparency(const QImage &canvas);

} // namespace kestrovia
