#include "batch/converter.h"

#include "compose/picturedecoder.h"
#include "platform/failure.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <turbojpeg.h>

#include <algorithm>
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

} // namespace

void BmpToJpegFromFileName(const QString &bitmapPath, const QString &jpegPath, int quality)
{
    quality = std::clamp(quality, 1, 100);
    const QString target = QDir::toNativeSeparators(jpegPath);

    DecodedPicture picture;
    try {
        picture = decodePicture(bitmapPath);
    } catch (const Failure &f) {
        throw Failure(tr("一時ビットマップを読み込めません: %1").arg(f.message()));
    }
    if (picture.image.size() != picture.size)
        throw Failure(tr("一時ビットマップを読み込めません"));

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
    const int pf = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;
    const QImage &img = picture.image;
    TjBuffer jpeg;
    if (tjCompress2(tj.h, img.constBits(), img.width(), static_cast<int>(img.bytesPerLine()),
                    img.height(), pf, &jpeg.data, &jpeg.size, subsamp, quality, 0) != 0)
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
