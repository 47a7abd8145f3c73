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

void run(void *transform, const unsigned char *cmyk, qsizetype stride, QImage &out)
{
    const int w = out.width();
    for (int y = 0; y < out.height(); ++y) {
        auto *d = reinterpret_cast<std::uint32_t *>(out.scanLine(y));
        cmsDoTransform(transform, cmyk + y * stride, d, cmsUInt32Number(w));
        // lcms2 leaves the unused fourth byte alone; Qt expects 0xFF there.
        for (int x = 0; x < w; ++x)
            d[x] |= 0xFF000000u;
    }
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

CmykRoute convertCmykToSrgb(const unsigned char *cmyk, qsizetype stride, QImage &out, const QByteArray &profile)
{
    Q_ASSERT(out.format() == QImage::Format_RGB32);
    if (const Transform own = cmykTransform(openProfile(profile))) {
        run(own.get(), cmyk, stride, out);
        return CmykRoute::EmbeddedProfile;
    }
    if (void *standard = standardTransform()) {
        run(standard, cmyk, stride, out);
        return CmykRoute::StandardProfile;
    }
    // Inverted CMYK: each stored value is 1 - ink, so R = (1 - C)(1 - K) is a product.
    for (int y = 0; y < out.height(); ++y) {
        const unsigned char *s = cmyk + y * stride;
        auto *d = reinterpret_cast<std::uint32_t *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x, s += 4) {
            const unsigned k = s[3];
            d[x] = 0xFF000000u | (((s[0] * k + 127) / 255) << 16) | (((s[1] * k + 127) / 255) << 8)
                   | ((s[2] * k + 127) / 255);
        }
    }
    return CmykRoute::Formula;
}

} // namespace kestrovia
