#include "compose/sizerule.h"

#include "compose/picturelimits.h"
#include "platform/numbers.h"

#include <algorithm>

namespace kestrovia {

QSize SizeRule::sizeFor(QSize picture) const
{
    if (picture.isEmpty())
        return {};
    const auto side = [](double v) { return std::max(1, roundToInt32(v).value_or(kMaxPictureSide)); };
    QSize out;
    switch (mode) {
    case Exact:
        if (exact.isEmpty())
            return {};
        if (shrinkOnly && picture.width() <= exact.width() && picture.height() <= exact.height())
            return picture;
        return exact;
    case LongEdge: {
        if (longEdge < 1)
            return {};
        const int longer = std::max(picture.width(), picture.height());
        if (shrinkOnly && longer <= longEdge)
            return picture;
        const double scale = double(longEdge) / longer;
        out = picture.width() >= picture.height() ? QSize(longEdge, side(picture.height() * scale))
                                                  : QSize(side(picture.width() * scale), longEdge);
        break;
    }
    case Percent:
        if (percent < 1)
            return {};
        if (shrinkOnly && percent >= 100)
            return picture;
        out = QSize(side(picture.width() * percent / 100.0), side(picture.height() * percent / 100.0));
        break;
    }
    if (out.width() > kMaxPictureSide || out.height() > kMaxPictureSide
        || qint64(out.width()) * out.height() > kMaxPicturePixels)
        return {};
    return out;
}

} // namespace kestrovia
