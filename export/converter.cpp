#include "export/converter.h"

#include "platform/failure.h"
#include "platform/japanese.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>

namespace kestrovia {

namespace {

struct TjHandle {
    tjhandle h = tjInitCompress();
    ~TjHandle()
    {
        if (h)
            tjDestroy(h);
    }
};

struct TjBuffer {
    unsigned char *data = nullptr;
    unsigned long size = 0;
    ~TjBuffer() { tjFree(data); }
};

// TurboJPEG 2.x turns optimised Huffman tables on only through this variable, which
// it reads on every compression. Set once, before the first encoder runs: threads
// encoding side by side must never see the environment written.
void optimiseTables()
{
    static const bool optimised = [] {
        if (!std::getenv("TJ_OPTIMIZE"))
            setenv("TJ_OPTIMIZE", "1", 1);
        return true;
    }();
    Q_UNUSED(optimised);
}

[[noreturn]] void encoderFailed() { throw Failure(ja("JPEG に変換できません（画像を圧縮できませんでした）")); }

} // namespace

bool fullChroma(int quality) { return quality >= 90; }

QByteArray encodeJpeg(const QImage &input, int quality)
{
    optimiseTables();
    const QImage image = input.format() == QImage::Format_RGB32 ? input : input.convertToFormat(QImage::Format_RGB32);
    TjHandle tj;
    if (!tj.h)
        throw Failure(ja("JPEG エンコーダを初期化できません"));
    // Settings a photographer expects: the chroma of fullChroma; the accurate
    // integer DCT (TurboJPEG takes its fast one below quality 96 unless told: a few
    // tenths of a dB worse, and larger files); optimised tables, a few percent
    // smaller at the same quality.
    quality = std::clamp(quality, 1, 100);
    const int subsamp = fullChroma(quality) ? TJSAMP_444 : TJSAMP_420;
    const int pf = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;
    TjBuffer jpeg;
    if (tjCompress2(tj.h, image.constBits(), image.width(), int(image.bytesPerLine()), image.height(), pf, &jpeg.data,
                    &jpeg.size, subsamp, quality, TJFLAG_ACCURATEDCT)
        != 0)
        encoderFailed();
    return QByteArray(reinterpret_cast<const char *>(jpeg.data), qsizetype(jpeg.size));
}

QByteArray encodeJpeg(const JpegPlanes &planes, int quality)
{
    optimiseTables();
    TjHandle tj;
    if (!tj.h)
        throw Failure(ja("JPEG エンコーダを初期化できません"));
    const bool half = planes.cb.width() < planes.y.width();
    const unsigned char *bits[3] = {planes.y.constBits(), planes.cb.constBits(), planes.cr.constBits()};
    const int strides[3] = {int(planes.y.bytesPerLine()), int(planes.cb.bytesPerLine()), int(planes.cr.bytesPerLine())};
    TjBuffer jpeg;
    if (tjCompressFromYUVPlanes(tj.h, bits, planes.y.width(), strides, planes.y.height(),
                                half ? TJSAMP_420 : TJSAMP_444, &jpeg.data, &jpeg.size, std::clamp(quality, 1, 100),
                                TJFLAG_ACCURATEDCT)
        != 0)
        encoderFailed();
    return QByteArray(reinterpret_cast<const char *>(jpeg.data), qsizetype(jpeg.size));
}

} // namespace kestrovia
