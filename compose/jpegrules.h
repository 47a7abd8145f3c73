#pragma once
// The rules every libjpeg decoder of the program follows alike (the band and plane
// readers, the whole decode, the preview's first look): which of libjpeg's warnings
// refuse a picture, and how far a picture may be reduced on load.

#include <QByteArray>
#include <QSize>
#include <QSizeF>

#include <cstdio> // jpeglib.h needs FILE
#include <functional>

#include <jpeglib.h>

namespace kestrovia {

// Whether the warning libjpeg just gave (c->err->msg_code) means picture data was
// lost or invented, so that the picture must be refused as damaged: a bad code, data
// cut short or running into a marker, a lost restart marker, an inconsistent
// progression. Stray bytes before a marker leave every pixel as encoded when they
// stand between header segments (cameras pad there) or are zeros after a scan (fill
// up to a block size); any other bytes left after a scan's data mean its decoding
// stopped short of them, out of step. Warnings about the header alone (an unknown
// JFIF revision or Adobe transform, a broken ICC chunk) are harmless.
// skippedBefore(n): the n bytes of the file just before libjpeg's next input byte.
bool jpegWarningLosesData(j_common_ptr c, const std::function<QByteArray(qint64 n)> &skippedBefore);
// The same for a warning known only by its text, as libtiff passes on its JPEG
// codec's. Stray bytes count as data there: a strip holds its stream alone.
bool jpegWarningTextLosesData(const QByteArray &text);

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
