#pragma once
// Export of one composed canvas as the job's output JPEG.

#include <QImage>
#include <QString>
#include <QStringView>
#include <cstdint>

namespace kestrovia {

class Surface;

// Writes image as a new uncompressed 24-bit BMP (bottom-up) at path, created with
// createPrivateFile (exclusively, mode 0600, never through a symbolic link). Throws
// Failure with a Japanese reason when the file exists already or cannot be written
// completely; a partial file is removed.
void writeBitmap(const QImage &image, const QString &path);

// The export: (1) writes the canvas's picture to worker's temporary bitmap in the
// process's private folder (temporaryBitmapPath), (2) builds
// the output path from the folder text and the file name, (3) takes the quality
// from the level, (4) converts the bitmap to the output JPEG, (5) removes the
// temporary bitmap - on every path, also after a failure. An empty folder text or a
// folder that does not exist fails before anything is written. Throws Failure with
// a Japanese reason. Returns the output path written.
QString exportJob(const Surface &canvas, const QString &fileName, const QString &saveFolder,
                  std::int16_t level, int worker = 0);
// The same with the level as the ColCompression text (Failure when not a number).
QString exportJob(const Surface &canvas, const QString &fileName, const QString &saveFolder,
                  QStringView levelText);

} // namespace kestrovia
