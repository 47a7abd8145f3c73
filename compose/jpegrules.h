#pragma once
// The rules every libjpeg decoder of the program follows alike (the band and plane
// readers, the whole decode, the preview's first look): how far a picture may be
// reduced on load.

#include <QSize>
#include <QSizeF>

#include <cstdio> // jpeglib.h needs FILE

#include <jpeglib.h>

namespace kestrovia {

// Reduction on load for a need in stored pixels: the largest factor of 8, 4, 2,
// down to `smallest`, at which the luma keeps lumaPerDrawn decoded samples for each
// pixel drawn and every other component, at the scale libjpeg decodes it (it may
// decode chroma at a larger scale than luma), chromaPerDrawn. 1 when none does. The
// header must have been read; the decoder is left set to the factor taken, its
// output dimensions calculated.
int setJpegReduction(j_decompress_ptr c, QSize need, double lumaPerDrawn, double chromaPerDrawn, int smallest);

// The samples across and down that component ci's decoded data holds for the
// whole picture at the scale set (libjpeg writes whole blocks past it).
QSizeF jpegComponentExtent(j_decompress_ptr c, int ci);

} // namespace kestrovia
