#pragma once
// The 13 text columns of a job row. Row 0 of the table is the header row.

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
    JobColumnCount = 13, // the table's columns (Cols), all shown
    // Kept with each row but not one of its columns: what of the source's metadata
    // the output takes (celltext::Metadata*). It moves with its row in a sort.
    ColMetadata = 13,
    StoredColumnCount = 14
};

} // namespace kestrovia
