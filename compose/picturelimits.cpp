#include "compose/picturelimits.h"

#include "platform/failure.h"
#include "platform/japanese.h"

namespace kestrovia {

void checkPictureSize(qint64 width, qint64 height)
{
    if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels)
        throw Failure(
            ja("画像が大きすぎます（%1 × %2 ピクセル。扱えるのは一辺 %3 ピクセル、合計 4 億ピクセルまでです）")
                .arg(width)
                .arg(height)
                .arg(kMaxPictureSide));
}

} // namespace kestrovia
