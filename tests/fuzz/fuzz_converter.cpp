// libFuzzer harness: any bytes as a picture through the whole export of a job, the
// first bytes choosing its size, fit, turn and level: decode, compose, encode.

#include "compose/jobcompose.h"
#include "export/export.h"
#include "platform/failure.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4)
        return 0;
    kestrovia::JobRow job;
    job.newSize = QStringLiteral("%1*%2").arg(1 + data[0] % 64).arg(1 + data[1] % 64);
    job.fit = data[2] & 1 ? QStringLiteral("OFF") : QStringLiteral("ON");
    job.position = data[2] & 2 ? QStringLiteral("Center") : QStringLiteral("Top");
    const char16_t *turns[] = {u"", u"+90°", u"-90°", u"+180°"};
    job.rotation = QString::fromUtf16(turns[(data[2] >> 2) & 3]);
    job.backColor = QStringLiteral("-2147483643");
    job.compression = QString::number(data[3] % 11);
    const QByteArray picture(reinterpret_cast<const char *>(data + 4), qsizetype(size - 4));
    try {
        kestrovia::DecodedPicture decoded = kestrovia::decodePictureData(picture, QSize(64, 64));
        const kestrovia::Job read = kestrovia::readJob(job);
        kestrovia::encodeJob(kestrovia::composeJob(read, decoded), read);
    } catch (const kestrovia::Failure &) {
    }
    return 0;
}
