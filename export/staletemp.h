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

} // namespace kestrovia
