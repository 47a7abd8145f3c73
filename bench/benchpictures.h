#pragma once
// Photo-like test pictures for the benchmarks, made on the spot: the same seed
// and size always give the same pixels, so runs compare like with like.

#include <QImage>
#include <QString>

namespace benchpics {

// A landscape: sky with soft clouds, a field with grass texture and stones, and
// film grain of `grain` levels. seed 0 is the engine cases' picture; other seeds
// shift clouds, field and stones, so that a batch holds different photos.
QImage photoLike(int width, int height, int seed = 0, int grain = 32);

// Writes img as a JPEG at quality (a camera's baseline 4:2:0 unless subsamp and
// TurboJPEG flags say otherwise); false when encoding or writing failed.
bool writeJpeg(const QImage &img, const QString &path, int quality = 92, int subsamp = -1, int flags = 0);

} // namespace benchpics
