#pragma once
// Export of one composed canvas as the job's output JPEG.

#include <QImage>
#include <QString>
#include <QStringView>
#include <cstdint>

namespace kestrovia {

class Surface;

// Path of the temporary bitmap: in the program's folder when it can be written
// there, else in the user's temporary folder; the name carries the process id so
// two running copies never share it.
QString temporaryBitmapPath();

// Writes image as an uncompressed 24-bit BMP (bottom-up), replacing an existing
// file. Throws Failure when the file cannot be written completely.
void writeBitmap(const QImage &image, const QString &path);

// The export: (1) writes the canvas's picture to the temporary bitmap, (2) builds
// the output path from the folder text and the file name, (3) takes the quality
// from the level, (4) converts the bitmap to the output JPEG, (5) removes the
// temporary bitmap - on every path, also after a failure. An empty folder text or a
// folder that does not exist fails before anything is written. Throws Failure with
// a Japanese reason. Returns the output path written.
QString exportJob(const Surface &canvas, const QString &fileName, const QString &saveFolder,
                  std::int16_t level);
// The same with the level as the ColCompression text (Failure when not a number).
QString exportJob(const Surface &canvas, const QString &fileName, const QString &saveFolder,
                  QStringView levelText);

} // namespace kestrovia
