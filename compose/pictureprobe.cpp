#include "compose/pictureprobe.h"

#include "compose/picturedecoder.h"
#include "compose/sourcefile.h"
#include "platform/failure.h"

#include <QFileInfo>

namespace kestrovia {

namespace {
// Ends a decode as soon as its header has been read.
struct HeaderRead {
    QSize size;
};
} // namespace

PictureInfo probePicture(const QString &path)
{
    try {
        const QByteArray data = readSourceFile(path);
        PictureInfo info;
        info.format = sniffPictureFormat(data);
        try {
            decodePictureData(data, [](QSize upright) -> QSize { throw HeaderRead{upright}; });
        } catch (const HeaderRead &h) {
            info.size = h.size;
        }
        return info;
    } catch (const Failure &f) {
        throw Failure(QString::fromUtf8("画像「%1」を読み込めません: %2").arg(QFileInfo(path).fileName(), f.message()));
    }
}

} // namespace kestrovia
