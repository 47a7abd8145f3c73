#pragma once
// Before a batch writes anything: every row's output path, and what writing it
// would do to the files already there.
//
// A user's picture is never lost to an output: an output path that is the source
// of any row (after resolving "..", symbolic and hard links) is never written, two
// rows never write one file, and outputs that would replace other existing files
// are counted so that the user is asked once before the run.

#include "compose/jobrow.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kestrovia {

struct PlannedRow {
    enum class Fate {
        Write, // a new file
        Replace, // replaces an existing file that is no row's source (needs the user's yes)
        Skip, // never written: see reason
        Fail, // cannot be written: see reason
    };

    int row = 0; // the row's number in the table, for messages
    JobRow job;
    QString output; // folder text + output name, as it will be written
    Fate fate = Fate::Write;
    QString reason; // Japanese, for Skip and Fail
};

struct BatchPlan {
    QList<PlannedRow> rows;

    // Rows whose output would replace an existing file.
    int replacing() const;
    // Their output file names, at most max of them.
    QStringList replacedNames(int max) const;
    // The user chose to leave those rows out: they become skipped rows.
    void skipReplacing();
};

// Works out every row's output and its fate, in the given order; reads the file
// system (stat) but writes nothing. A row fails here when its folder text is empty,
// names no existing folder or one that cannot be written, or a folder stands at its
// output path.
BatchPlan planBatch(const QList<std::pair<int, JobRow>> &rows);

} // namespace kestrovia
