#pragma once
// The export of one job: its composed canvas as the output JPEG file.

#include "compose/jobrow.h"
#include "compose/picturedecoder.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace kestrovia {

// The job's output file as bytes: the canvas encoded with the converter's settings
// (encodeJpeg) at the quality of job.level(), then the source's EXIF, IPTC and XMP
// and the picture's RGB profile added (addSourceMetadata: orientation 1, no
// thumbnail, the canvas's size); metadata that cannot be carried is left out and
// never fails the row. source is the source file's content (empty: no metadata).
// Nothing is written; several rows may be encoded at once on different threads.
// Throws Failure with a Japanese reason.
QByteArray encodeJob(const QImage &canvas, const JobRow &job, const QByteArray &source = {},
                     const QByteArray &iccProfile = {});
// The same from colour planes (composeJobPlanes), which carry their profile.
QByteArray encodeJob(const JpegPlanes &planes, const JobRow &job, const QByteArray &source);

// Writes jpeg as the job's output file, job.saveFolder followed by the output name
// (outputPath), replacing an existing file only once the new one is complete
// (writeFileReplacing). An empty folder text fails before anything is written: it
// would name the working folder. Throws Failure with a Japanese reason. Returns
// the path written.
QString writeJobOutput(const JobRow &job, const QByteArray &jpeg);

// Both steps.
QString exportJob(const QImage &canvas, const JobRow &job);

} // namespace kestrovia
