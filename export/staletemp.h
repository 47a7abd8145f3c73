#pragma once
// What earlier copies of the program left in the temporary folder.
//
// The first release wrote a temporary bitmap under a guessable name there, and the
// release after it a private folder per process holding one; a copy that was
// killed left them behind (36-72 MB each). Outputs are now encoded in memory, so
// nothing new is written there, but those leftovers are removed at start.

#include <QString>

namespace kestrovia {

// Removes what copies of this program left in base (default: the temp folder) when
// they were killed: private folders "kestrovia-<pid>-XXXXXX" and the
// "kestrovia-<pid>.bmp" files. Only entries owned by this user whose
// process no longer runs are removed; a symbolic link is never followed. Returns
// the number of entries removed.
int removeStaleTempFiles(const QString &base = QString());

// Removes what a killed run left in an output folder: the hidden
// ".kestrovia-<pid>-XXXXXX" files of processes that no longer run (a file on its way
// into place where the file system has no unnamed files), and the
// ".kestrovia-XXXXXX" files of releases before the process id was in the name once
// no one has written them for ten minutes (no write of an output takes that long).
// Only regular files owned by this user; a symbolic link is never followed. A batch
// calls it once per folder before its first output there: a start-up cannot know
// every folder written before. Returns the number of files removed.
int removeStaleOutputTemps(const QString &folder);

} // namespace kestrovia
