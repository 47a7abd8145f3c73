#pragma once
// Reading a picture file into memory.
//
// Sources are read, never mapped: another program (an editor re-saving the file, a
// sync client, an unplugged drive) may shorten a file while it is decoded, and a
// mapped file that shrinks kills the whole program with SIGBUS. A copy in memory
// can only be incomplete, which the decoders report as a damaged picture.

#include <QByteArray>
#include <QString>

namespace kestrovia {

// Largest file accepted as a picture source (4 GiB): far above any picture within
// the pixel limits, but a bound before the memory is taken.
inline constexpr qint64 kMaxSourceBytes = qint64(4) << 30;

// The whole content of the regular file at path. Anything that is not a regular
// file at open time (a FIFO, a device, a folder, a socket) is refused at once,
// without waiting for data. Throws Failure with a Japanese reason: not found, no
// permission, not a regular file, too large, a read error, or a file whose size
// changed while it was read.
QByteArray readSourceFile(const QString &path);

} // namespace kestrovia
