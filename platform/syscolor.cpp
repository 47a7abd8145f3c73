#include "platform/syscolor.h"

#include <array>

namespace kestrovia {

namespace {

// The classic system colours by index, as RGB.
constexpr std::array<QRgb, 31> kClassic = {
    0xC8C8C8, // 0 scroll bar
    0x000000, // 1 desktop
    0x99B4D1, // 2 active caption
    0xBFCDDB, // 3 inactive caption
    0xF0F0F0, // 4 menu
    0xFFFFFF, // 5 window background
    0x646464, // 6 window frame
    0x000000, // 7 menu text
    0x000000, // 8 window text
    0x000000, // 9 caption text
    0xB4B4B4, // 10 active border
    0xF4F7FC, // 11 inactive border
    0xABABAB, // 12 application workspace
    0x3399FF, // 13 highlight
    0xFFFFFF, // 14 highlight text
    0xF0F0F0, // 15 button face
    0xA0A0A0, // 16 button shadow
    0x6D6D6D, // 17 grey text
    0x000000, // 18 button text
    0x000000, // 19 inactive caption text
    0xFFFFFF, // 20 button highlight
    0x696969, // 21 3-D dark shadow
    0xE3E3E3, // 22 3-D light
    0x000000, // 23 tooltip text
    0xFFFFE1, // 24 tooltip background
    0xFFFFFF, // 25 (unused)
    0x0066CC, // 26 hot-tracked item
    0xB9D1EA, // 27 active caption gradient
    0xD7E4F2, // 28 inactive caption gradient
    0x3399FF, // 29 menu highlight
    0xF0F0F0, // 30 menu bar
};

} // namespace

QColor resolveColorValue(std::int32_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    if (isSystemColorRef(value)) {
        const std::uint32_t index = v & 0xFFu;
        return QColor(index < kClassic.size() ? kClassic[index] : kClassic[5]);
    }
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

std::int32_t colorValueFromRgb(const QColor &color)
{
    const QColor c = color.toRgb();
    return static_cast<std::int32_t>(std::uint32_t(c.red()) | (std::uint32_t(c.green()) << 8)
                                     | (std::uint32_t(c.blue()) << 16));
}

} // namespace kestrovia
