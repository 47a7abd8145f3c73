#include "platform/units.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace kestrovia {

TwipsPerPixel screenTwipsPerPixel()
{
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    QScreen *screen = app ? QGuiApplication::primaryScreen() : nullptr;
    if (!screen)
        return {};
    const auto factor = [](double dpi) {
        const int f = dpi > 0 ? static_cast<int>(std::lround(1440.0 / dpi)) : 15;
        return f > 0 ? f : 15;
    };
    return {factor(screen->logicalDotsPerInchX()), factor(screen->logicalDotsPerInchY())};
}

} // namespace kestrovia
