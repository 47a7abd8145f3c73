#include "platform/syscolor.h"

namespace kestrovia {

namespace {

// Windows system colour index -> the palette role that plays the same part here.
QColor systemColor(unsigned index, const QPalette &p)
{
    switch (index) {
    case 0: return p.color(QPalette::Window);            // scroll bar
    case 1: return p.color(QPalette::Window);            // desktop
    case 2: return p.color(QPalette::Highlight);         // active caption
    case 3: return p.color(QPalette::Inactive, QPalette::Highlight); // inactive caption
    case 4: return p.color(QPalette::Window);            // menu
    case 5: return p.color(QPalette::Base);              // window background
    case 6: return p.color(QPalette::Dark);              // window frame
    case 7: return p.color(QPalette::WindowText);        // menu text
    case 8: return p.color(QPalette::Text);              // window text
    case 9: return p.color(QPalette::HighlightedText);   // caption text
    case 10: return p.color(QPalette::Mid);              // active border
    case 11: return p.color(QPalette::Mid);              // inactive border
    case 12: return p.color(QPalette::Dark);             // application workspace
    case 13: return p.color(QPalette::Highlight);        // highlight
    case 14: return p.color(QPalette::HighlightedText);  // highlight text
    case 15: return p.color(QPalette::Button);           // button face
    case 16: return p.color(QPalette::Dark);             // button shadow
    case 17: return p.color(QPalette::Disabled, QPalette::Text); // grey text
    case 18: return p.color(QPalette::ButtonText);       // button text
    case 19: return p.color(QPalette::Inactive, QPalette::WindowText); // inactive caption text
    case 20: return p.color(QPalette::Light);            // button highlight
    case 21: return p.color(QPalette::Shadow);           // 3-D dark shadow
    case 22: return p.color(QPalette::Midlight);         // 3-D light
    case 23: return p.color(QPalette::ToolTipText);      // tooltip text
    case 24: return p.color(QPalette::ToolTipBase);      // tooltip background
    default: return p.color(QPalette::Base);
    }
}

} // namespace

QColor resolveColorValue(std::int32_t value, const QPalette &palette)
{
    const auto v = static_cast<std::uint32_t>(value);
    QColor c = isSystemColorRef(value) ? systemColor(v & 0xFFu, palette)
                                       : QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
    c.setAlpha(255);
    return c;
}

std::int32_t colorValueFromRgb(const QColor &color)
{
    const QColor c = color.toRgb();
    return static_cast<std::int32_t>(std::uint32_t(c.red()) | (std::uint32_t(c.green()) << 8)
                                     | (std::uint32_t(c.blue()) << 16));
}

} // namespace kestrovia
