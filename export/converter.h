#pragma once
// The bitmap-to-JPEG converter, built on libjpeg-turbo (TurboJPEG).

#include <QString>

namespace kestrovia {

// Reads the BMP file bitmapPath and writes it as a JPEG of the given quality
// (1..100) to jpegPath. The JPEG is written to a temporary file in jpegPath's folder
// and renamed over jpegPath only once complete: on any failure an existing file at
// jpegPath is left as it was and no partial file remains. Throws Failure with a
// Japanese reason (unreadable bitmap, missing or read-only folder, full disk ...).
// Settings: 4:4:4 chroma at quality 90 and above, 4:2:0 below, optimised Huffman tables.
void BmpToJpegFromFileName(const QString &bitmapPath, const QString &jpegPath, int quality);

} // namespace kestrovia
