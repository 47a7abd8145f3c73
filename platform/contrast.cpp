#include "platform/contrast.h"

#include <algorithm>
#include <cmath>

namespace kestrovia {

namespace {

double luminance(const QColor &c)
{
    const auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableRed(const QColor &background)
{
    // Above this luminance black contrasts more than white does.
    const bool light = luminance(background) >= 0.179;
    // A little over 4.5, so that rounding to 8-bit channels cannot take it under.
    for (int step = 0; step <= 50; ++step) {
        const float lightness = light ? 0.45f - step * 0.009f : 0.55f + step * 0.009f;
        const QColor red = QColor::fromHslF(0.0f, 1.0f, std::clamp(lightness, 0.0f, 1.0f));
        if (contrastRatio(red, background) >= 4.6)
            return red;
    }
    // Only a background near mid-grey gets here; black or white still reach 4.5.
    return light ? QColor(Qt::black) : QColor(Qt::white);
}

} // namespace kestrovia
