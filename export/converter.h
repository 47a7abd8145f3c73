#pragma once
// The JPEG converter, built on libjpeg-turbo (TurboJPEG).

#include <QByteArray>
#include <QImage>

namespace kestrovia {

// The picture as JPEG bytes at quality 1..100 (values outside are clamped): 4:4:4
// chroma at quality 90 and above, 4:2:0 below, optimised Huffman tables. Throws
// Failure when the encoder fails. Safe to call from several threads at once.
QByteArray encodeJpeg(const QImage &image, int quality);

} // namespace kestrovia
