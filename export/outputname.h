#pragma once
// Output naming and JPEG quality of one job.

#include "compose/jobrow.h"

#include <QString>
#include <QStringView>
#include <cstdint>

namespace kestrovia {

// The text after the last "." of a file name, "" when it holds none.
QString GetExtension(QStringView fileName);

// The extension of a format's files, without the dot: "jpg", "webp", "avif", "png".
QString outputExtension(OutputFormat format);

// Output file name for a source file name: a source of the output's own format
// (for JPEG .jpg .jpeg .jpe .jfif, else the format's extension, in any letter case)
// gives name + "_b." + the format's extension (photo.jpeg -> photo_b.jpg,
// logo.PNG -> logo_b.png), so that it never takes the source's name; any other
// extension is replaced by the format's (photo.png -> photo.jpg); a name without
// "." gets the extension appended ("photo" -> "photojpg").
QString outputFileName(QStringView sourceFileName, OutputFormat format = OutputFormat::Jpeg);

// Output path: the folder text followed directly by the output name (the folder
// text ends with "/"; no separator is inserted).
QString outputPath(const QString &saveFolder, QStringView sourceFileName, OutputFormat format = OutputFormat::Jpeg);

// The libjpeg quality (1..100, higher is better) of a compression level: 0 is the
// best (100, with full chroma by fullChroma), 5 (標準) 82 as the web expects, 10 the
// smallest, and each level's file about 1.5 times smaller than the level before
// on photos. Levels outside 0..10 (which the settings panel never writes) take the
// nearest end.
int jpegQuality(std::int16_t level);

} // namespace kestrovia
