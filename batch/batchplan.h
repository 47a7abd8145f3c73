#pragma once
// Before a batch writes anything: every row's output path, and what writing it
// would do to the files already there.
//
// A user's picture is never lost to an output: an output path that is the source
// of any row (after resolving "..", symbolic and hard links) is never written, two
// rows never write one file, a file at an output path that this program did not
// write (no mark: it may be an original beside its source, IMG_0001.JPG beside
// IMG_0001.HEIC) is never replaced, and the earlier outputs that would be replaced
// are counted so that the user is asked once before the run.

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
    QString output; // folder text + output name, as it will be written
    Fate fate = Fate::Write;
    QString reason; // Japanese, for Skip and Fail
    // Skip: a file this program did not write stands at the output (reason says so).
    bool notOurs = false;
};

struct BatchPlan {
    QList<PlannedRow> rows;

    // Rows whose output would replace an earlier output of this program.
    int replacing() const;
    // Their output file names (the earlier outputs), at most max of them.
    QStringList replacedNames(int max) const;
    // Rows skipped because a file this program did not write stands at the output.
    int notOurs() const;
    // Those files' names, at most max of them.
    QStringList notOursNames(int max) const;
    // The user chose to leave those rows out: they become skipped rows.
    void skipReplacing();
};

// Works out every row's output and its fate, in the given order; reads the file
// system (stat, and the mark of files at output paths: isKestroviaOutput) but
// writes nothing. A row fails here when its folder text is empty,
// names no existing folder or one that cannot be written, or a folder stands at its
// output path.
BatchPlan planBatch(const QList<std::pair<int, JobRow>> &rows);

} // namespace kestrovia
