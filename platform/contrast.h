#pragma once
// Contrast of text colours as WCAG 2 measures it, for texts whose colour the
// program picks itself rather than taking it from the palette.

#include <QColor>

namespace kestrovia {

// (lighter + 0.05) / (darker + 0.05) of the two colours' relative luminances:
// 1 for equal colours up to 21 for black on white.
double contrastRatio(const QColor &a, const QColor &b);

// A red that reads on background at 4.5:1 or more (WCAG AA for text): darker on
// a light background, lighter on a dark one, as saturated as that allows.
QColor readableRed(const QColor &background);

} // namespace kestrovia
