#pragma once
// The process's private folder for temporary files, and the temporary bitmap in it.
//
// A temporary file under a guessable name in a shared folder lets another local
// user plant a symbolic link there (and have the victim overwrite a file of their
// choosing) or read the picture while it is written. So temporary files live in a
// folder only this process can enter (mode 0700, random name), are created
// exclusively and never through a symbolic link, and are readable by their owner
// alone (mode 0600).

#include <QString>

namespace kestrovia {

// The private folder: <temp folder>/kestrovia-<pid>-XXXXXX, made on first use and
// removed with everything in it when the program ends. Thread-safe. Throws Failure
// when it cannot be made.
QString privateTempFolder();

// Path of worker n's temporary bitmap in the private folder (one name per worker,
// so rows can be exported side by side).
QString temporaryBitmapPath(int worker = 0);

// Creates the file at path exclusively (O_EXCL, no symbolic link followed, mode
// 0600) and returns its open descriptor. Throws Failure with a Japanese reason.
int createPrivateFile(const QString &path);

// Removes what copies of this program left in base (default: the temp folder) when
// they were killed: private folders "kestrovia-<pid>-XXXXXX" and the first
// release's "kestrovia-<pid>.bmp" files. Only entries owned by this user whose
// process no longer runs are removed; a symbolic link is never followed. Returns
// the number of entries removed.
int removeStaleTempFiles(const QString &base = QString());

} // namespace kestrovia
