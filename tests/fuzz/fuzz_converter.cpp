// libFuzzer harness: any bytes as the converter's bitmap, to JPEG at a quality taken
// from the first byte.

#include "export/converter.h"
#include "platform/failure.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bitmap(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    try {
        kestrovia::convertBitmapData(bitmap, 1 + data[0] % 100);
    } catch (const kestrovia::Failure &) {
    }
    return 0;
}
