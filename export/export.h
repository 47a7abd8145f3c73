#pragma once
// Export of one composed canvas as the job's output JPEG.

#include "compose/jobrow.h"

#include <QImage>
#include <QString>
#include <QStringView>
#include <cstdint>

namespace kestrovia {


// Writes image as a new uncompressed 24-bit BMP (bottom-up) at path, created with
// createPrivateFile (exclusively, mode 0600, never through a symbolic link). Throws
// Failure with a Japanese reason when the file exists already or cannot be written
// completely; a partial file is removed.
void writeBitmap(const QImage &image, const QString &path);

// The export of one job's canvas: (1) writes it to worker's temporary bitmap in the
// process's private folder (temporaryBitmapPath), (2) builds the output path from
// job.saveFolder and job.fileName, (3) takes the quality from job.level(), (4)
// converts the bitmap to the output JPEG, which replaces an existing file only once
// complete, (5) removes the temporary bitmap, on every path. An empty folder text
// fails before anything is written. Throws Failure with a Japanese reason. Returns
// the output path written.
QString exportJob(const QImage &canvas, const JobRow &job, int worker = 0);

} // namespace kestrovia
