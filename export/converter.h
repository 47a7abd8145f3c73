#pragma once
// The bitmap-to-JPEG converter, built on libjpeg-turbo (TurboJPEG).

#include <QByteArray>
#include <QImage>
#include <QString>

namespace kestrovia {

// The picture as JPEG bytes at quality 1..100 (values outside are clamped): 4:4:4
// chroma at quality 90 and above, 4:2:0 below, optimised Huffman tables. Throws
// Failure when the encoder fails.
QByteArray encodeJpeg(const QImage &image, int quality);

// The converter's work on bytes: a BMP file's content to JPEG bytes with
// encodeJpeg's settings. Throws Failure for a bitmap that cannot be read.
QByteArray convertBitmapData(const QByteArray &bitmap, int quality);

// Reads the BMP file bitmapPath and writes it as a JPEG of the given quality to
// jpegPath with encodeJpeg's settings. The file is replaced only once the new one
// is complete (writeFileReplacing): on any failure an existing file at jpegPath is
// left as it was and no partial file remains. Throws Failure with a Japanese reason
// (unreadable bitmap, missing folder, a folder at jpegPath, full disk ...).
void BmpToJpegFromFileName(const QString &bitmapPath, const QString &jpegPath, int quality);

} // namespace kestrovia
