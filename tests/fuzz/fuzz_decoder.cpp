// libFuzzer harness: any bytes through the picture decoder, in full and reduced.
// The first byte picks the size the caller says it needs, so the shrink-on-load
// paths (JPEG scaling, bitmap block averaging) are reached too.

#include "compose/picturedecoder.h"
#include "platform/failure.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int need = data[0];
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    try {
        const kestrovia::DecodedPicture p = kestrovia::decodePictureData(bytes, need ? QSize(need, need) : QSize());
        // Every pixel of the result is readable.
        volatile unsigned sum = 0;
        for (int y = 0; y < p.image.height(); ++y)
            sum = sum + p.image.constScanLine(y)[p.image.bytesPerLine() - 1];
    } catch (const kestrovia::Failure &) {
    }
    return 0;
}
