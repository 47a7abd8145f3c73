#include "platform/numbers.h"

#include <QLocale>
#include <cfenv>
#include <cmath>
#include <limits>

namespace kestrovia {

std::optional<double> parseDecimal(QStringView text)
{
    const QStringView t = text.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < t.size() && t[i] >= u'0' && t[i] <= u'9') {
        ++i;
        ++digits;
    }
    if (i < t.size() && t[i] == u'.') {
        ++i;
        while (i < t.size() && t[i] >= u'0' && t[i] <= u'9') {
            ++i;
            ++digits;
        }
    }
    if (digits == 0 || i != t.size())
        return std::nullopt;
    // The C locale reads "." as the decimal mark whatever the user's locale says.
    bool ok = false;
    const double v = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

template <typename T> static std::optional<T> roundTo(double v)
{
    if (!std::isfinite(v))
        return std::nullopt;
    // nearbyint honours the current rounding mode, which is to-nearest-even by default.
    const double r = std::nearbyint(v);
    if (r < static_cast<double>(std::numeric_limits<T>::min())
        || r > static_cast<double>(std::numeric_limits<T>::max()))
        return std::nullopt;
    return static_cast<T>(r);
}

std::optional<std::int32_t> roundToInt32(double v) { return roundTo<std::int32_t>(v); }
std::optional<std::int16_t> roundToInt16(double v) { return roundTo<std::int16_t>(v); }

std::optional<std::int32_t> textToInt32(QStringView text)
{
    const auto v = parseDecimal(text);
    return v ? roundToInt32(*v) : std::nullopt;
}

std::optional<std::int16_t> textToInt16(QStringView text)
{
    const auto v = parseDecimal(text);
    return v ? roundToInt16(*v) : std::nullopt;
}

QString shortestDecimal(double v)
{
    // 'g' with the shortest round-trip precision never writes trailing zeros.
    QString s = QString::number(v, 'g', QLocale::FloatingPointShortest);
    if (s == u"-0")
        s = QStringLiteral("0");
    return s;
}

} // namespace kestrovia
