#pragma once
// The mark every output carries, so that a later run can tell its own earlier
// outputs (which it may replace when the user agrees) from everything else at an
// output path (which may be a user's original and is never replaced).

#include <QString>

namespace kestrovia {

// "Kestrovia <version>": the EXIF Software and XMP CreatorTool of every output.
QString programMark();

// The extended attribute that marks an output where the file system keeps one.
inline constexpr char kOutputAttribute[] = "user.kestrovia.output";

// Sets the extended attribute on the open file fd. A file system without user
// attributes (or one that refuses them) leaves the file unmarked there, silently:
// the EXIF and XMP marks remain.
void markOutputFile(int fd);

// True when the regular file at path was written by this program (any version that
// marks its outputs): its extended attribute, else the EXIF Software or XMP
// CreatorTool in its first APP segments. Reads at most the first few segments
// (bounded), never follows a symbolic link (a link is never an output of ours) and
// never blocks on a FIFO or device. False when the file cannot be read.
bool isKestroviaOutput(const QString &path);

} // namespace kestrovia
