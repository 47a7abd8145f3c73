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

// Writes img as a baseline 4:2:0 JPEG at quality, as a camera would; false when
// encoding or writing failed.
bool writeJpeg(const QImage &img, const QString &path, int quality = 92);

} // namespace benchpics
