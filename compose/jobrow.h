#pragma once
// One job row as a value: the texts of the job table's cells, read once, so that the
// engine, the export and the batch never reach into the table or a widget.

#include "compose/jobcompose.h"

#include <QString>

namespace kestrovia {

struct JobRow {
    QString fileName;     // ColFileName: the source's name with extension
    QString originalSize; // ColOriginalSize: "" until the row is first shown
    QString path;         // ColPath: the source's full path
    QString newSize;      // ColNewSize: "W*H" in pixels
    QString fit;          // ColFit: "OFF" keeps the aspect ratio, anything else stretches
    QString backColor;    // ColBackColor: signed decimal colour value
    QString position;     // ColPosition: "Center" centres, anything else top-left
    QString rotation;     // ColRotation: "+90°", "-90°", "+180°"; anything else no turn
    QString saveFolder;   // ColSaveFolder: the output folder, ending in "/"
    QString compression;  // ColCompression: the level 0..10 as decimal text

    // What the composition reads of the row.
    JobSettings settings() const { return {path, newSize, fit, backColor, position, rotation}; }
};

} // namespace kestrovia
