#pragma once
// Output naming and JPEG quality of one job.

#include <QString>
#include <QStringView>
#include <cstdint>

namespace kestrovia {

// The text after the last "." of a file name, "" when it holds none.
QString GetExtension(QStringView fileName);

// Output file name for a source file name: a JPEG source (.jpg .jpeg .jpe .jfif in
// any letter case) gives name + "_b.jpg" (photo.jpeg -> photo_b.jpg); any other
// extension is replaced by "jpg" (photo.png -> photo.jpg); a name without "." gets
// "jpg" appended.
QString outputFileName(QStringView sourceFileName);

// Output path: the folder text followed directly by the output name (the folder
// text ends with "/"; no separator is inserted).
QString outputPath(const QString &saveFolder, QStringView sourceFileName);

// JPEG quality 100 - 10 x level; 0 becomes 1, and values outside 1..100 (levels
// the settings panel never writes) are clamped to that range.
int jpegQuality(std::int16_t level);

} // namespace kestrovia
