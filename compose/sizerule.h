#pragma once
// How the settings panel works a row's output size out of the row's own picture:
// an exact size, a long edge, or a percentage, each optionally never enlarging.
// Rows still hold an exact W*H; the rule only decides which.

#include <QSize>

namespace kestrovia {

struct SizeRule {
    enum Mode { Exact, LongEdge, Percent };
    Mode mode = Exact;
    QSize exact; // Exact: the size, in pixels
    int longEdge = 1600; // LongEdge: the longer side, in pixels
    int percent = 50; // Percent: of each side
    bool shrinkOnly = false; // never larger than the picture itself

    // The output size for a picture of upright size picture (pixels). The long edge
    // and the percentage keep the picture's own shape, the other side rounded to the
    // nearest pixel (ties to even) and at least 1. With shrinkOnly a picture that is
    // no larger than asked keeps its own size (for Exact: when it fits the size
    // asked in both directions). An invalid picture or rule gives an invalid size.
    QSize sizeFor(QSize picture) const;

    bool operator==(const SizeRule &) const = default;
};

} // namespace kestrovia
