#pragma once
// Dropped file names to job rows: the part of a drop on the job list that needs no
// window. The drop handler collects the names and reads the settings panel; this
// decides which names become rows and what the rows hold.

#include "compose/jobrow.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <functional>

namespace kestrovia {

class JobTable;

// A dropped or named item that did not become a row.
struct NotAdded {
    QString name; // the file's or folder's name, without its folder
    QString reason; // short, Japanese: 「対応していない形式」, 「見つかりません」, ...
};

struct DropResult {
    int appended = 0; // rows appended
    QList<NotAdded> notAdded; // in the order given
};

// The note for the strip under the grid that names what was not added, the first
// few with their reasons; empty when everything was added.
QString notAddedNote(const QList<NotAdded> &notAdded);

// At most this many rows come from one drop; what a folder holds beyond is noted.
inline constexpr int kMaxRowsPerDrop = 10000;

// Appends one job row per name in paths, in list order, for every name that passes
// isPictureName and is an existing, readable regular file (symbolic links followed).
// A folder adds the pictures in it and in its sub-folders, in name order (numbers
// by their value, letter case aside), each folder's pictures before its
// sub-folders; hidden files and folders are left out, linked folders are not
// entered, and what is left out is counted in a note. Everything else leaves no row
// and is named in the result with its reason: a missing name, a file of another
// type, one that cannot be read, a FIFO or device. Paths may carry bytes that are no
// UTF-8 (decodeFileName). settings is asked once per accepted file.
// The row's cells: the file's name and absolute path, ColOriginalSize from the
// picture's header (empty when the header cannot be read: the row then says why
// when it is shown or converted), "→", and the settings (writeRowSettings: the
// folder beside the picture unless one is chosen, ColNewSize by the size rule from
// the picture's size and the turn). Only the appended rows are written; the current
// row and the selection stay as they are. Reads file metadata and the pictures'
// headers.
DropResult appendDroppedFiles(JobTable &table, const QStringList &paths, const std::function<RowSettings()> &settings);

} // namespace kestrovia
