#pragma once
// Dropped file names to job rows: the part of a drop on the job list that needs no
// window. The drop handler collects the names and reads the settings panel; this
// decides which names become rows and what the rows hold.

#include "compose/jobrow.h"
#include "compose/sizerule.h"
#include "platform/syscolor.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>
#include <functional>

namespace kestrovia {

class JobTable;

// The settings panel's values that a dropped file's row takes. The defaults are
// the panel as it stands at start-up.
struct DropPanelValues {
    bool keepAspect = true; // AspCheck(0) selected: ColFit "OFF", else "ON"
    std::int32_t backColor = kWindowBackgroundRef; // PicBack's colour value
    bool topLeft = true; // PicPos(0) selected: ColPosition "Top", else "Center"
    QString rotation; // RollValue's text, verbatim
    bool sameFolder = true; // SaveCheck(0) selected
    QString saveFolderText; // SaveTxt's text
    int compressValue = 50; // CompressLevel's value, 0..100
    MetadataChoice metadata = MetadataChoice::DropLocation; // MetaChoice's choice
    // How a new row's ColNewSize is worked out of its picture's header; the exact
    // mode leaves it empty, for the row's first showing to fill.
    SizeRule sizeRule;
};

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

// The size rule's W*H for a row, worked out of its picture's upright size: the
// row's ColOriginalSize, or its picture's header when that is empty. Null when
// the picture's size cannot be known or the rule gives none.
QString sizeByRule(const JobRow &job, const SizeRule &rule);

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
// UTF-8 (decodeFileName). readPanel is called once per accepted file.
// The row's cells: the file's name and absolute path, ColOriginalSize from the
// picture's header (empty when the header cannot be read: the row then says why
// when it is shown or converted), ColNewSize by the panel's size rule, "→", the
// panel's values, and as folder either the panel's text (when it is not empty and
// SaveCheck(0) is not selected) or the file's own folder with its trailing "/".
// ColCompression is the panel value / 10 in its shortest decimal form (37 -> "3.7").
// Only the appended rows are written; the current row and the selection stay as
// they are. Reads file metadata and the pictures' headers.
DropResult appendDroppedFiles(JobTable &table, const QStringList &paths,
                              const std::function<DropPanelValues()> &readPanel);

} // namespace kestrovia
