#pragma once
// The largest picture the program takes, source or canvas: a side of 32767 pixels
// and 400 megapixels. Checked on a header before any pixel memory is allocated, on
// a size typed or worked out for a row, and on every canvas.

#include <QtGlobal>

namespace kestrovia {

inline constexpr int kMaxPictureSide = 32767;
inline constexpr qint64 kMaxPicturePixels = 400'000'000;

// Refuses a size beyond the limits above with a Japanese reason (Failure).
void checkPictureSize(qint64 width, qint64 height);

} // namespace kestrovia
