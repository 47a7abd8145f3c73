#include "compose/sizerule.h"

#include "platform/japanese.h"

#include <algorithm>
#include <climits>

namespace kestrovia {

namespace {

// numerator / denominator to the nearest whole number, halves up, at least 1:
// integers throughout, so that 1001 * 50 / 100 is 501 and not a float's 500.4999.
int scaled(qint64 numerator, qint64 denominator)
{
    const qint64 v = (2 * numerator + denominator) / (2 * denominator);
    return int(std::clamp<qint64>(v, 1, INT_MAX));
}

} // namespace

QSize SizeRule::sizeFor(QSize picture, bool stretched) const
{
    if (picture.isEmpty())
        return {};
    const qint64 w = picture.width();
    const qint64 h = picture.height();
    switch (mode) {
    case Original: return picture;
    case Exact: {
        if (exact.isEmpty())
            return {};
        if (!shrinkOnly || (w >= exact.width() && h >= exact.height()))
            return exact;
        if (w <= exact.width() && h <= exact.height() && !stretched)
            return picture;
        if (!stretched)
            return exact; // fitted: the picture is drawn smaller, never larger
        // The asked shape, scaled down until neither side is larger than the
        // picture's: the smaller of the two ratios picture / asked decides.
        const bool byWidth = w * exact.height() <= h * exact.width();
        return byWidth ? QSize(int(w), scaled(w * exact.height(), exact.width()))
                       : QSize(scaled(h * exact.width(), exact.height()), int(h));
    }
    case LongEdge: {
        if (longEdge < 1)
            return {};
        const qint64 longer = std::max(w, h);
        if (shrinkOnly && longer <= longEdge)
            return picture;
        return w >= h ? QSize(longEdge, scaled(h * longEdge, w)) : QSize(scaled(w * longEdge, h), longEdge);
    }
    case Percent:
        if (percent < 1)
            return {};
        if (shrinkOnly && percent >= 100)
            return picture;
        return {scaled(w * percent, 100), scaled(h * percent, 100)};
    }
    return {};
}

bool SizeRule::operator==(const SizeRule &other) const
{
    if (mode != other.mode || shrinkOnly != other.shrinkOnly)
        return false;
    switch (mode) {
    case Original: return true;
    case Exact: return exact == other.exact;
    case LongEdge: return longEdge == other.longEdge;
    case Percent: return percent == other.percent;
    }
    return false;
}

QString SizeRule::words() const
{
    QString w;
    switch (mode) {
    case Original: w = ja("元のサイズ"); break;
    case Exact: w = exact.isEmpty() ? ja("横×縦") : ja("%1 × %2").arg(exact.width()).arg(exact.height()); break;
    case LongEdge: w = ja("長辺 %1 px").arg(longEdge); break;
    case Percent: w = ja("%1 %").arg(percent); break;
    }
    return shrinkOnly && mode != Original ? w + ja("（縮小のみ）") : w;
}

} // namespace kestrovia
