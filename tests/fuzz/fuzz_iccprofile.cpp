// libFuzzer harness: any bytes as an embedded ICC profile, through everything that
// reads one: its colour space (lcms2), the CMYK conversion that opens it as the
// picture's own profile, and the export that embeds an RGB one in APP2 chunks.

#include "compose/colorprofile.h"
#include "compose/pictureformat.h"
#include "export/converter.h"
#include "export/metadata.h"

#include <QImage>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace kestrovia;
    const QByteArray profile(reinterpret_cast<const char *>(data), qsizetype(size));
    iccColourSpace(profile);

    unsigned char cmyk[4 * 4 * 4];
    for (std::size_t i = 0; i < sizeof cmyk; ++i)
        cmyk[i] = std::uint8_t(i * 37);
    QImage rgb(4, 4, QImage::Format_RGB32);
    convertCmykToSrgb(cmyk, 16, rgb, profile);

    static const QByteArray jpeg = encodeJpeg(rgb, 90);
    const JpegWithMetadata out =
        addSourceMetadata(jpeg, readSourceMetadata({}), QSize(4, 4), profile, MetadataChoice::KeepAll);
    // An embedded profile reads back whole.
    const QByteArray back = embeddedIccProfile(out.jpeg, PictureFormat::Jpeg);
    if (!back.isEmpty() && back != profile)
        __builtin_trap();
    return 0;
}
