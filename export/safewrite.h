#pragma once
// Writing an output file so that nothing is lost on the way.

#include <QByteArray>
#include <QString>

namespace kestrovia {

// Writes data as the file at path. The bytes go to a new temporary file in the
// same folder (created exclusively, mode 0600 while written, flushed to disk), which
// is then renamed over path: a failure at any step leaves an existing file at path
// as it was and no partial file behind. An existing regular file keeps its
// permission bits; a new file gets the usual ones (0666 less the umask). A symbolic
// link at path is replaced by the file, never written through. Throws Failure with
// a Japanese reason (no space, no permission, name too long, ...).
void writeFileReplacing(const QString &path, const QByteArray &data);

} // namespace kestrovia
