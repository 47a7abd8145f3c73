#pragma once
// How a row's output size is worked out of its own picture: the picture's own size,
// an exact size, a long edge or a percentage, each optionally never enlarging. A
// row keeps its rule, so that its exact W*H follows its turn and its picture; what
// the batch and the preview read is that W*H.

#include <QSize>
#include <QString>

namespace kestrovia {

struct SizeRule {
    enum Mode { Original, Exact, LongEdge, Percent };
    Mode mode = Original;
    QSize exact; // Exact: the size asked, in pixels
    int longEdge = 1600; // LongEdge: the longer side, in pixels
    int percent = 50; // Percent: of each side
    bool shrinkOnly = false; // never enlarges a side of the picture

    // The output size for a picture of size picture (pixels), picture being the
    // picture as it will be written: upright and with the row's own turn. A long
    // edge and a percentage keep its shape, the other side rounded to the nearest
    // pixel with halves up (1001 at 50 % gives 501) and at least 1. With shrinkOnly
    // no side of the picture grows: a long edge or percentage that would enlarge
    // gives the picture's own size; an exact size the picture fits in gives its own
    // size, and one it fits in one way only gives, stretched, the largest size of
    // the asked shape within both the asked size and the picture (640*480 on 600 x
    // 500 gives 600*450), and, kept in proportion, the asked size (the picture is
    // then fitted smaller). The size is not checked against the limits: the row
    // says why it cannot be written (canvasPixelSize). Invalid for an empty picture
    // or a rule without a size.
    QSize sizeFor(QSize picture, bool stretched) const;

    // How the list and the messages name the rule: 元のサイズ, 640 × 480, 長辺 1600 px,
    // 50 %, followed by （縮小のみ）.
    QString words() const;

    // Two rules are equal when they ask the same: the values of the other modes
    // (which the panel keeps for when they are picked again) do not count.
    bool operator==(const SizeRule &other) const;
};

} // namespace kestrovia
