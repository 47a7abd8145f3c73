#pragma once
// Writing an output file so that nothing is lost on the way and nothing is replaced
// that the user did not agree to replace.

#include "platform/failure.h"

#include <QByteArray>
#include <QString>

namespace kestrovia {

enum class WriteMode {
    New, // the plan saw no file at the path: never replace one that appeared since
    Replace, // replace what stands at the path (the user agreed)
};

// Thrown by writeOutputFile in WriteMode::New when a file took the path after the
// plan looked: that file is kept and nothing is written.
class NameTaken : public Failure {
public:
    explicit NameTaken(const QString &path);
};

// Writes data as the file at path, marked as this program's output (markOutputFile).
// The bytes go to an unnamed file in the same folder (O_TMPFILE; where the file
// system has none, a hidden ".kestrovia-<pid>-XXXXXX" that removeStaleOutputTemps
// clears once this process is gone), flushed to disk, and only then get the name:
// New links it in, which never replaces anything (NameTaken when the name is taken;
// on a file system that can neither link nor rename without replacing, the name is
// looked up just before the rename); Replace renames it over what is there, a
// symbolic link included (the link is replaced, never written through). The folder
// is synced afterwards. A failure at any step leaves an existing file at path as it
// was and no partial file behind. A replaced regular file's permission bits are
// kept; a new file gets 0666 less the umask. Throws Failure with a Japanese reason
// (no space, no permission, ...).
void writeOutputFile(const QString &path, const QByteArray &data, WriteMode mode);

// For tests: writes go through named temporaries, as on a file system without
// unnamed files.
void useNamedTemporaries(bool named);
// For tests: a new output goes through a named temporary and takes its name by a
// rename after looking the name up, as on a file system with neither unnamed files,
// RENAME_NOREPLACE nor hard links.
void useCheckedRenames(bool checked);
// For tests: a named temporary is linked in, as on a file system that cannot
// rename without replacing (RENAME_NOREPLACE).
void useRenameFallback(bool fallback);

} // namespace kestrovia
