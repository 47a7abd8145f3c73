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

// The libjpeg quality (1..100, higher is better) of a compression level: 0 is the
// best (100, with full chroma by fullChroma), 5 (標準) 82 as the web expects, 10 the
// smallest, and each level's file about 1.5 times smaller than the level before
// on photos. Levels outside 0..10 (which the settings panel never writes) take the
// nearest end.
int jpegQuality(std::int16_t level);

} // namespace kestrovia
