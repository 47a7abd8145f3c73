#pragma once
// A first look at a JPEG while its exact picture is still being made: libjpeg-turbo's
// reduced inverse DCTs give the picture at 1/8, 1/4 or 1/2 of its size for a fraction
// of a full decode's work (the entropy decoding still reads the whole file).

#include "compose/picturedecoder.h"

#include <QByteArray>

#include <optional>

namespace kestrovia {

// Decodes the JPEG in data at the smallest of 1/8, 1/4 and 1/2 that still gives the
// upright picture cover(uprightSize) pixels per axis, the size it will be drawn at
// (asked once the header is read), and its chroma as many (setJpegReduction), and
// only by a factor of minReduction (2, 4 or 8) or more. The result is upright (EXIF
// orientation applied) with extent and size as decodePicture gives them, so
// composeJob draws it where it draws the exact picture. nullopt, with nothing
// decoded, for data that is not a JPEG, a CMYK JPEG or a grey one under a grey
// profile (their colours need the full decode's profile conversion), a cover that no
// allowed reduction reaches, and for a damaged (jpegWarningLosesData) or too large
// file: the full decode reports those. Answers check points between bands of rows
// (Stopped).
std::optional<DecodedPicture> decodeQuickJpeg(const QByteArray &data, const NeedFunction &cover, int minReduction = 2);

} // namespace kestrovia
