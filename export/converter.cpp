#include "export/converter.h"

#include "compose/picturedecoder.h"
#include "platform/failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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
// mapped file: no conversion and no second copy of the picture.
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

} // namespace

void BmpToJpegFromFileName(const QString &bitmapPath, const QString &jpegPath, int quality)
{
    quality = std::clamp(quality, 1, 100);
    const QString target = QDir::toNativeSeparators(jpegPath);

    QFile bitmap(bitmapPath);
    const uchar *mapped = nullptr;
    PlainBmp plain;
    if (bitmap.open(QIODevice::ReadOnly) && bitmap.size() > 0)
        mapped = bitmap.map(0, bitmap.size());
    const bool direct = mapped && plainBmp(mapped, bitmap.size(), plain);
    DecodedPicture picture;
    if (!direct) {
        try {
            picture = decodePicture(bitmapPath);
        } catch (const Failure &f) {
            throw Failure(tr("一時ビットマップを読み込めません: %1").arg(f.message()));
        }
        if (picture.image.size() != picture.size)
            throw Failure(tr("一時ビットマップを読み込めません"));
    }

    const QFileInfo info(jpegPath);
    if (!info.absoluteDir().exists())
        throw Failure(tr("保存先フォルダがありません: %1").arg(QDir::toNativeSeparators(info.absolutePath())));
    if (info.isDir())
        throw Failure(tr("保存先がフォルダのため書き込めません: %1").arg(target));

    TjHandle tj;
    if (!tj.h)
        throw Failure(tr("JPEG エンコーダを初期化できません"));
    // Settings a photographer expects: full colour resolution (4:4:4) at the high
    // qualities where chroma blur would show, 4:2:0 below; the accurate integer DCT
    // (TurboJPEG's default); optimised Huffman tables, which make the file a few
    // percent smaller at the same quality. TurboJPEG 2.x turns them on only through
    // this variable, read on every compression.
    setenv("TJ_OPTIMIZE", "1", 1);
    const int subsamp = quality >= 90 ? TJSAMP_444 : TJSAMP_420;
    TjBuffer jpeg;
    int rc = 0;
    if (direct) {
        rc = tjCompress2(tj.h, plain.pixels, plain.width, plain.stride, plain.height, TJPF_BGR,
                         &jpeg.data, &jpeg.size, subsamp, quality, plain.bottomUp ? TJFLAG_BOTTOMUP : 0);
    } else {
        const int pf = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;
        const QImage &img = picture.image;
        rc = tjCompress2(tj.h, img.constBits(), img.width(), static_cast<int>(img.bytesPerLine()),
                         img.height(), pf, &jpeg.data, &jpeg.size, subsamp, quality, 0);
    }
    if (rc != 0)
        throw Failure(tr("JPEG に変換できません: %1").arg(QString::fromUtf8(tjGetErrorStr2(tj.h))));

    // Written beside the output and renamed over it only when complete: a failure
    // never leaves a truncated JPEG nor destroys an existing file.
    QSaveFile out(jpegPath);
    if (!out.open(QIODevice::WriteOnly))
        throw Failure(tr("保存先に書き込めません（%1）: %2").arg(target, out.errorString()));
    if (out.write(reinterpret_cast<const char *>(jpeg.data), qint64(jpeg.size)) != qint64(jpeg.size)) {
        const QString why = out.errorString();
        out.cancelWriting();
        throw Failure(tr("JPEG を書き込めません（%1）: %2。ディスクの空き容量を確認してください").arg(target, why));
    }
    if (!out.commit())
        throw Failure(tr("JPEG を保存できません（%1）: %2").arg(target, out.errorString()));
}

} // namespace kestrovia
