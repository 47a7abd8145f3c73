#include "compose/colorprofile.h"

#include <QFile>

#include <lcms2.h>

#include <cstdint>
#include <memory>

namespace kestrovia {

namespace {

struct ProfileCloser {
    void operator()(void *p) const { cmsCloseProfile(p); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
    void operator()(void *t) const { cmsDeleteTransform(t); }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

Profile openProfile(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return nullptr;
    return Profile(cmsOpenProfileFromMem(bytes.constData(), cmsUInt32Number(bytes.size())));
}

// Format_RGB32 is 0xAARRGGBB in native order: B, G, R, A bytes on little-endian.
constexpr cmsUInt32Number kOutputType = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TYPE_BGRA_8 : TYPE_ARGB_8;

// No per-transform cache, so one transform may run on several threads at once.
Transform cmykTransform(const Profile &cmyk)
{
    if (!cmyk || cmsGetColorSpace(cmyk.get()) != cmsSigCmykData)
        return nullptr;
    const Profile srgb(cmsCreate_sRGBProfile());
    // _REV: the inverted CMYK of Adobe JPEGs (0 = full ink).
    return Transform(cmsCreateTransform(cmyk.get(), TYPE_CMYK_8_REV, srgb.get(), kOutputType,
                                        INTENT_RELATIVE_COLORIMETRIC,
                                        cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOCACHE));
}

// Built once: the profile is large and its transform takes milliseconds to set up.
void *standardTransform()
{
    static const Transform transform = [] {
        QFile file(standardCmykProfilePath());
        return file.open(QIODevice::ReadOnly) ? cmykTransform(openProfile(file.readAll())) : nullptr;
    }();
    return transform.get();
}

} // namespace

IccSpace iccColourSpace(const QByteArray &bytes)
{
    const Profile profile = openProfile(bytes);
    if (!profile)
        return IccSpace::Invalid;
    switch (cmsGetColorSpace(profile.get())) {
    case cmsSigRgbData: return IccSpace::Rgb;
    case cmsSigGrayData: return IccSpace::Gray;
    case cmsSigCmykData: return IccSpace::Cmyk;
    default: return IccSpace::Other;
    }
}

QString standardCmykProfilePath() { return QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc"); }

CmykConverter::CmykConverter(const QByteArray &profile)
{
    if (Transform own = cmykTransform(openProfile(profile))) {
        m_own = m_transform = own.release();
        m_route = CmykRoute::EmbeddedProfile;
    } else if ((m_transform = standardTransform())) {
        m_route = CmykRoute::StandardProfile;
    }
}

CmykConverter::~CmykConverter()
{
    if (m_own)
        cmsDeleteTransform(m_own);
}

void CmykConverter::convert(const unsigned char *cmyk, std::uint32_t *d, int w) const
{
    if (m_transform) {
        cmsDoTransform(m_transform, cmyk, d, cmsUInt32Number(w));
        // lcms2 leaves the unused fourth byte alone; Qt expects 0xFF there.
        for (int x = 0; x < w; ++x)
            d[x] |= 0xFF000000u;
        return;
    }
    // Inverted CMYK: each stored value is 1 - ink, so R = (1 - C)(1 - K) is a product.
    for (int x = 0; x < w; ++x, cmyk += 4) {
        const unsigned k = cmyk[3];
        d[x] = 0xFF000000u | (((cmyk[0] * k + 127) / 255) << 16) | (((cmyk[1] * k + 127) / 255) << 8)
               | ((cmyk[2] * k + 127) / 255);
    }
}

CmykRoute convertCmykToSrgb(const unsigned char *cmyk, qsizetype stride, QImage &out, const QByteArray &profile)
{
    Q_ASSERT(out.format() == QImage::Format_RGB32);
    const CmykConverter converter(profile);
    for (int y = 0; y < out.height(); ++y)
        converter.convert(cmyk + y * stride, reinterpret_cast<std::uint32_t *>(out.scanLine(y)), out.width());
    return converter.route();
}

std::optional<std::array<std::uint32_t, 256>> greyToSrgb(const QByteArray &bytes)
{
    const Profile grey = openProfile(bytes);
    if (!grey || cmsGetColorSpace(grey.get()) != cmsSigGrayData)
        return std::nullopt;
    const Profile srgb(cmsCreate_sRGBProfile());
    const Transform transform(cmsCreateTransform(grey.get(), TYPE_GRAY_8, srgb.get(), kOutputType,
                                                 INTENT_RELATIVE_COLORIMETRIC,
                                                 cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOCACHE));
    if (!transform)
        return std::nullopt;
    std::array<std::uint8_t, 256> levels;
    for (int i = 0; i < 256; ++i)
        levels[size_t(i)] = std::uint8_t(i);
    std::array<std::uint32_t, 256> table{};
    cmsDoTransform(transform.get(), levels.data(), table.data(), 256);
    for (std::uint32_t &c : table)
        c |= 0xFF000000u;
    return table;
}

} // namespace kestrovia
