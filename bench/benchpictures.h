#pragma once
// Photo-like test pictures for the benchmarks, made on the spot: the same seed
// and size always give the same pixels, so runs compare like with like.

#include "compose/jobrow.h"

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

// The benchmarks' row: the picture at path to 1600*1200, its aspect kept, centred
// on grey, written to folder (a path ending in "/") at level; level 5 is quality 82
// with halved chroma, the nearest to the Q=80 the other tools are given.
inline kestrovia::JobRow benchRow(const QString &path, const QString &folder = {}, int level = 5)
{
    kestrovia::JobRow job;
    job.fileName = path.mid(path.lastIndexOf(u'/') + 1);
    job.path = path;
    job.newSize = QStringLiteral("1600*1200");
    job.fit = kestrovia::celltext::FitKeep.toString();
    job.backColor = QStringLiteral("8421504");
    job.position = kestrovia::celltext::Center.toString();
    job.saveFolder = folder;
    job.compression = QString::number(level);
    return job;
}

} // namespace benchpics
