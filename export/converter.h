#pragma once
// The JPEG converter, built on libjpeg-turbo (TurboJPEG).

#include "compose/picturedecoder.h"

#include <QByteArray>
#include <QImage>

namespace kestrovia {

// The picture as JPEG bytes at quality 1..100 (values outside are clamped): 4:4:4
// chroma at quality 90 and above, 4:2:0 below, optimised Huffman tables. Throws
// Failure when the encoder fails. Safe to call from several threads at once.
QByteArray encodeJpeg(const QImage &image, int quality);

// The same from colour planes (composeJobPlanes): chroma at half the size gives a
// 4:2:0 file, at full size 4:4:4; the planes go to the encoder as they are.
QByteArray encodeJpeg(const JpegPlanes &planes, int quality);

} // namespace kestrovia
