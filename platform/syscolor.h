#pragma once
// Colour values as the job table stores them: 32 bits, either an RGB colour laid
// out 0x00BBGGRR or a system colour reference (high bit set, index in the low
// bits) that is resolved against the current palette whenever a surface is filled.

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace kestrovia {

// The settings panel's initial swatch: the window-background system colour.
inline constexpr std::int32_t kWindowBackgroundRef = static_cast<std::int32_t>(0x80000005u);

inline bool isSystemColorRef(std::int32_t value) { return value < 0; }

// Resolves a colour value to an opaque QColor. Unknown system indexes resolve to
// the palette's Base colour so that a fill never fails.
QColor resolveColorValue(std::int32_t value, const QPalette &palette);

// 0x00BBGGRR for an RGB colour.
std::int32_t colorValueFromRgb(const QColor &color);

} // namespace kestrovia
