#pragma once
// File names as the file system keeps them: bytes, UTF-8 almost always. A name
// from an old camera card or another system may hold bytes that are no UTF-8;
// Qt's own conversion turns them into U+FFFD, and the text then names no file. Here
// each such byte is carried in the text as a lone surrogate, U+DC80 + (byte - 0x80),
// as Python's "surrogateescape" does, so that every name comes back as the bytes it
// was. Every call that hands a name to the system goes through encodeFileName.

#include <QByteArray>
#include <QString>

namespace kestrovia {

// The name's text: valid UTF-8 decoded, every other byte as U+DC80..U+DCFF.
QString decodeFileName(const QByteArray &bytes);
// The bytes again: UTF-8, with U+DC80..U+DCFF turned back into the bytes they carry.
QByteArray encodeFileName(const QString &name);

} // namespace kestrovia
