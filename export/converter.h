#pragma once
// The JPEG converter, built on libjpeg-turbo (TurboJPEG).

#include "compose/picturedecoder.h"

#include <QByteArray>
#include <QImage>

namespace kestrovia {

// Whether a file at this JPEG quality keeps full colour resolution (4:4:4): at 90
// and above, where halved chroma would show on coloured edges; 4:2:0 below, where it
// buys more than the same bytes spent on a higher quality. The one rule for every
// encoder path (libvips' automatic choice draws the line at the same quality).
bool fullChroma(int quality);

// The picture as JPEG bytes at quality 1..100 (values outside are clamped), chroma
// as fullChroma says, optimised Huffman tables. Throws Failure when the encoder
// fails. Safe to call from several threads at once.
QByteArray encodeJpeg(const QImage &image, int quality);

// The same from colour planes (composeJobPlanes, asked for half chroma where
// fullChroma is false): chroma at half the size gives a 4:2:0 file, at full size
// 4:4:4; the planes go to the encoder as they are.
QByteArray encodeJpeg(const JpegPlanes &planes, int quality);

} // namespace kestrovia
