#pragma once
// Before a batch writes anything: every row's output path, and what writing it
// would do to the files already there.
//
// A user's picture is never lost to an output: an output path that is the source
// of any row (after resolving "..", symbolic and hard links) is never written, two
// rows never write one file, a file at an output path that is not an earlier
// output of this program as it was written (no mark: it may be an original beside
// its source, IMG_0001.JPG beside IMG_0001.HEIC; or an output the user changed
// since) is never replaced, and the earlier outputs that would be replaced are
// counted so that the user is asked once before the run.
//
// Names are compared as the places outputs are copied to compare them: ignoring
// letter case and Unicode normalisation (memory cards, NTFS and macOS do), so a
// file that differs from an output's name only so is that output's file, and two
// outputs that differ only so are one file.

#include "compose/jobrow.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kestrovia {

struct PlannedRow {
    enum class Fate {
        Write, // a new file
        Replace, // replaces an earlier output of this program (needs the user's yes)
        Skip, // never written: see reason
        Fail, // cannot be written: see reason
    };

    int row = 0; // the row's number in the table, for messages
    JobRow job;
    // Folder text + output name, as it will be written; for Replace, the earlier
    // output's own name (which may differ from the output name in case).
    QString output;
    Fate fate = Fate::Write;
    QString reason; // Japanese, for Skip and Fail
    // Skip: a file that is not an unchanged earlier output stands at the output, or
    // under a name that differs only in case (reason says which).
    bool notOurs = false;
    QString existing; // that file (path), or the one Replace replaces
    // Skip: the row (in the table) that writes the same file first.
    int sameAs = 0;
    // The output's folder, to be made before the run (createMissingFolders);
    // empty when it exists.
    QString missingFolder;
};

struct BatchPlan {
    // Rows whose outputs are one file: the first row writes it, the later ones
    // are planned as skipped.
    struct SameOutput {
        QString output; // the file's name
        QList<int> rows; // indices into rows, in table order
        bool sameSource = false; // every row is the same picture (added twice)
    };

    QList<PlannedRow> rows;
    QList<SameOutput> sameOutputs;

    // Rows whose output would replace an earlier output of this program.
    int replacing() const;
    // Their output file names (the earlier outputs), at most max of them.
    QStringList replacedNames(int max) const;
    // Rows skipped because a file that is not an unchanged earlier output stands
    // at the output.
    int notOurs() const;
    // Those files' names, at most max of them.
    QStringList notOursNames(int max) const;
    // The user chose to leave those rows out: they become skipped rows.
    void skipReplacing();
    // The folders that rows write into and that do not exist yet, in row order,
    // each once.
    QStringList missingFolders() const;
    // Makes every missing folder, parents included (mode 0777 less the umask).
    // The rows of a folder that cannot be made fail with the reason.
    void createMissingFolders();
};

// Works out every row's output and its fate, in the given order; reads the file
// system (stat, the output folders' names, and the mark of files at output paths:
// readOutputMark; the picture's size and date where the row's name pattern asks for
// them) but writes nothing. A row's output is its folder text, its name pattern
// filled in (the running number is the row's number in the table) and its format's
// extension. A row fails here when its pattern names no file (with the reason),
// when its folder text is empty, names something that is not a folder or a folder
// that cannot be written, or a folder stands at its output path. A folder that does
// not exist is planned as empty and named in missingFolder.
BatchPlan planBatch(const QList<std::pair<int, JobRow>> &rows);

} // namespace kestrovia
