#pragma once
// Colour values as the job table stores them: 32 bits, either an RGB colour laid
// out 0x00BBGGRR or a system colour reference (high bit set, index in the low
// bits).

#include <QColor>
#include <cstdint>

namespace kestrovia {

// The settings panel's initial swatch: the window-background system colour.
inline constexpr std::int32_t kWindowBackgroundRef = static_cast<std::int32_t>(0x80000005u);

inline bool isSystemColorRef(std::int32_t value) { return value < 0; }

// The opaque colour a value stands for. A system colour reference resolves through
// a fixed table of the classic defaults (5 window background #FFFFFF, 8 window
// text #000000, 15 button face #F0F0F0, ...), never through the desktop's theme:
// the same job gives the same pixels on a light and on a dark desktop. Unknown
// indexes give the window background.
QColor resolveColorValue(std::int32_t value);

// 0x00BBGGRR for an RGB colour.
std::int32_t colorValueFromRgb(const QColor &color);

} // namespace kestrovia
