#pragma once
// Colour conversion with lcms2: CMYK and grey pictures to sRGB, and what an ICC
// profile describes.

#include <QByteArray>
#include <QImage>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace kestrovia {

// The colour space an ICC profile's pixels are in; Invalid when lcms2 cannot open it.
enum class IccSpace { Invalid, Rgb, Gray, Cmyk, Other };
IccSpace iccColourSpace(const QByteArray &profile);

// How a CMYK picture was turned into sRGB.
enum class CmykRoute {
    EmbeddedProfile, // through the picture's own CMYK profile
    StandardProfile, // no usable profile of its own: through the standard press profile
    Formula, // neither available: R = (1 - C)(1 - K) and so on
};

// Path of the standard CMYK profile used for pictures without one: Ghostscript's
// SWOP-based press profile from Debian's libgs-common (AGPL, shipped as data). The
// conversion falls back to the formula when the file is not installed.
QString standardCmykProfilePath();

// Converts out.width() x out.height() CMYK pixels at cmyk (4 bytes each, rows
// `stride` bytes apart) into out, which must be a Format_RGB32 image of that size,
// as sRGB (relative colorimetric with black point compensation, as photo editors
// convert). The CMYK is inverted, 255 = no ink, as Adobe programs store it in
// JPEGs and as TurboJPEG returns it. A profile that is not a valid CMYK profile is
// ignored as if absent. Thread-safe.
// The same conversion row by row, for a picture decoded in bands: the transform is
// set up once.
class CmykConverter {
public:
    explicit CmykConverter(const QByteArray &profile);
    ~CmykConverter();
    CmykConverter(const CmykConverter &) = delete;
    CmykConverter &operator=(const CmykConverter &) = delete;
    // width inverted-CMYK pixels into Format_RGB32 pixels.
    void convert(const unsigned char *cmyk, std::uint32_t *out, int width) const;
    CmykRoute route() const { return m_route; }

private:
    void *m_own = nullptr; // a transform of the picture's own profile
    void *m_transform = nullptr; // the one in use: own, standard, or none (formula)
    CmykRoute m_route = CmykRoute::Formula;
};

CmykRoute convertCmykToSrgb(const unsigned char *cmyk, qsizetype stride, QImage &out, const QByteArray &profile);

// The sRGB colour (Format_RGB32, alpha 0xFF) of each of the 256 grey levels a grey
// profile describes, converted as CMYK is (relative colorimetric with black point
// compensation): a grey stored under a gamma 1.0 or a press's dot gain profile means
// another grey in sRGB. nullopt for anything but a valid grey profile. Thread-safe.
std::optional<std::array<std::uint32_t, 256>> greyToSrgb(const QByteArray &profile);

} // namespace kestrovia
