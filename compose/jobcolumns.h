#pragma once
// The text columns of a job row, in the order the list shows them. Row 0 of the
// table is the header row. Columns 0 to 12 are the job table's described cells;
// the settings it had no cell for follow, each with a column of its own so that
// what is written is on screen.

namespace kestrovia {

enum JobColumn : int {
    ColFileName = 0,
    ColOriginalSize = 1,
    ColPath = 2,
    ColArrow = 3,
    ColNewSize = 4,
    ColFit = 5,
    ColBackColor = 6,
    ColPosition = 7,
    ColRotation = 8,
    ColReserved9 = 9,
    ColReserved10 = 10,
    ColSaveFolder = 11,
    ColCompression = 12,
    ColMetadata = 13, // what of the source's metadata the output takes
    ColSizeRule = 14, // how ColNewSize is worked out of the picture
    ColFormat = 15, // the kind of file written, and whether it keeps transparency
    ColNamePattern = 16, // what the output is named
    JobColumnCount = 17 // the table's columns (Cols), all shown
};

} // namespace kestrovia
