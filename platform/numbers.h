#pragma once
// Number conversions for cell texts. Every text that holds a number goes through
// parseDecimal, and every fractional value that becomes a whole number goes through
// roundHalfEven, so the whole program rounds one way: to nearest, ties to even.

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace kestrovia {

// Strict decimal text: optional blanks around, optional sign, digits, optional
// "." and fraction digits (at least one digit overall). Anything else, the empty
// text included, is not a number and gives nullopt.
std::optional<double> parseDecimal(QStringView text);

// Nearest whole number, ties to the even neighbour (12.5 -> 12, 13.5 -> 14).
// nullopt when v is not finite or lies outside the range of T.
std::optional<std::int32_t> roundToInt32(double v);
std::optional<std::int16_t> roundToInt16(double v);

// parseDecimal followed by the rounding above; nullopt for "not a number" and overflow.
std::optional<std::int32_t> textToInt32(QStringView text);
std::optional<std::int16_t> textToInt16(QStringView text);

// Shortest decimal form with "." as the mark and no trailing zeros: 3.7, 10, 0.
QString shortestDecimal(double v);

} // namespace kestrovia
