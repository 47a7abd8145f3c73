#include "export/converter.h"

#include "compose/picturedecoder.h"
#include "compose/sourcefile.h"
#include "export/safewrite.h"
#include "platform/failure.h"


#include <turbojpeg.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace kestrovia {

namespace {

QString tr(const char *text) { return QString::fromUtf8(text); }

struct TjHandle {
    tjhandle h = tjInitCompress();
    ~TjHandle() { if (h) tjDestroy(h); }
};

struct TjBuffer {
    unsigned char *data = nullptr;
    unsigned long size = 0;
    ~TjBuffer() { tjFree(data); }
};

// A plain 24-bit uncompressed BMP is handed to the encoder straight from the
// file's bytes: no conversion and no second copy of the picture.
struct PlainBmp {
    const unsigned char *pixels = nullptr;
    int width = 0, height = 0, stride = 0;
    bool bottomUp = true;
};

bool plainBmp(const uchar *p, qint64 size, PlainBmp &out)
{
    const auto le32 = [p](int at) {
        return std::uint32_t(p[at]) | (std::uint32_t(p[at + 1]) << 8) | (std::uint32_t(p[at + 2]) << 16)
               | (std::uint32_t(p[at + 3]) << 24);
    };
    if (size < 54 || p[0] != 'B' || p[1] != 'M' || le32(14) < 40)
        return false;
    const qint64 offset = le32(10);
    const qint64 w = static_cast<std::int32_t>(le32(18));
    const qint64 h = static_cast<std::int32_t>(le32(22));
    const int bpp = p[28] | (p[29] << 8);
    if (bpp != 24 || le32(30) != 0 || w <= 0 || h == 0 || w > kMaxPictureSide || std::abs(h) > kMaxPictureSide)
        return false;
    const qint64 stride = (w * 3 + 3) & ~qint64(3);
    if (offset < 54 || offset > size || stride * std::abs(h) > size - offset)
        return false;
    out.pixels = p + offset;
    out.width = int(w);
    out.height = int(std::abs(h));
    out.stride = int(stride);
    out.bottomUp = h > 0;
    return true;
}

// Settings a photographer expects: full colour resolution (4:4:4) at the high
// qualities where chroma blur would show, 4:2:0 below; the accurate integer DCT
// (TurboJPEG's default); optimised Huffman tables, which make the file a few percent
// smaller at the same quality.
QByteArray encode(const unsigned char *pixels, int width, int stride, int height, int pixelFormat, int flags,
                  int quality)
{
    quality = std::clamp(quality, 1, 100);
    TjHandle tj;
    if (!tj.h)
        throw Failure(tr("JPEG エンコーダを初期化できません"));
    // TurboJPEG 2.x turns optimised tables on only through this variable, which it
    // reads on every compression. Set only when missing, so that threads encoding
    // side by side never write the environment while another reads it.
    if (!std::getenv("TJ_OPTIMIZE"))
        setenv("TJ_OPTIMIZE", "1", 1);
    const int subsamp = quality >= 90 ? TJSAMP_444 : TJSAMP_420;
    TjBuffer jpeg;
    if (tjCompress2(tj.h, pixels, width, stride, height, pixelFormat, &jpeg.data, &jpeg.size, subsamp, quality,
                    flags)
        != 0)
        throw Failure(tr("JPEG に変換できません（画像を圧縮できませんでした）"));
    return QByteArray(reinterpret_cast<const char *>(jpeg.data), qsizetype(jpeg.size));
}

} // namespace

QByteArray encodeJpeg(const QImage &input, int quality)
{
    const QImage image = input.format() == QImage::Format_RGB32 ? input : input.convertToFormat(QImage::Format_RGB32);
    const int pf = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;
    return encode(image.constBits(), image.width(), int(image.bytesPerLine()), image.height(), pf, 0, quality);
}

QByteArray convertBitmapData(const QByteArray &bitmap, int quality)
{
    PlainBmp plain;
    if (plainBmp(reinterpret_cast<const uchar *>(bitmap.constData()), bitmap.size(), plain))
        return encode(plain.pixels, plain.width, plain.stride, plain.height, TJPF_BGR,
                      plain.bottomUp ? TJFLAG_BOTTOMUP : 0, quality);
    DecodedPicture picture;
    try {
        picture = decodePictureData(bitmap);
    } catch (const Failure &f) {
        throw Failure(tr("一時ビットマップを読み込めません: %1").arg(f.message()));
    }
    if (picture.image.size() != picture.size)
        throw Failure(tr("一時ビットマップを読み込めません"));
    return encodeJpeg(picture.image, quality);
}

void BmpToJpegFromFileName(const QString &bitmapPath, const QString &jpegPath, int quality)
{
    QByteArray bitmap;
    try {
        bitmap = readSourceFile(bitmapPath);
    } catch (const Failure &f) {
        throw Failure(tr("一時ビットマップを読み込めません: %1").arg(f.message()));
    }
    writeFileReplacing(jpegPath, convertBitmapData(bitmap, quality));
}

} // namespace kestrovia
