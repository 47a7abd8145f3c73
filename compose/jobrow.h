#pragma once
// One job row as a value: the texts of the job table's cells, read once, so that the
// engine, the export and the batch never reach into the table or a widget; and the
// one place where a row's cells become its settings (RowSettings) and back.

#include "compose/jobcolumns.h"
#include "compose/rowsettings.h"

#include <QSize>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace kestrovia {

struct JobRow {
    QString fileName; // ColFileName: the source's name with extension
    QString originalSize; // ColOriginalSize: the picture's upright size, "" while unknown
    QString path; // ColPath: the source's full path
    QString newSize; // ColNewSize: "W*H" in pixels
    QString fit; // ColFit
    QString backColor; // ColBackColor: signed decimal colour value
    QString position; // ColPosition
    QString rotation; // ColRotation
    QString saveFolder; // ColSaveFolder: the output folder, ending in "/"
    QString compression; // ColCompression: the level 0..10 as decimal text
    // ColMetadata (celltext::Metadata*); any other text, the empty one included, is
    // 位置情報を除く: outputs are mostly for sharing.
    // (A default member initializer, so that rows written as a list of the
    // described cells alone stay complete.)
    QString metadata{};
    // ColSizeRule: how newSize is worked out of the picture; empty in a row made
    // without one, whose newSize then stands as the size asked.
    QString sizeRule{};
    // ColFormat: the format's text, and celltext::KeepAlpha for 透明を残す ("png
    // alpha"); empty, a JPEG.
    QString format{};
    // ColNamePattern: the output's name without extension; empty, the names outputs
    // always had (celltext::DefaultNamePattern).
    QString namePattern{};

    // "OFF" keeps the aspect ratio; every other text stretches.
    bool keepsAspect() const { return fit == celltext::FitKeep; }
    // "Center" centres; every other text places the picture at the top-left.
    bool centred() const { return position == celltext::Center; }
    // 90 (clockwise), 270 (counter-clockwise), 180, or 0 for any other text.
    std::int16_t rotationCode() const;
    // The colour value (0x00BBGGRR or a system colour reference). Throws Failure
    // when the text is not a number.
    std::int32_t backColorValue() const;
    // The canvas size of newSize in pixels (canvasPixelSize).
    std::optional<QSize> canvasSize() const;
    // The compression level: decimal, rounded to a 16-bit integer (nearest, ties to
    // even: 3.7 -> 4, 2.5 -> 2). Throws Failure when not a number.
    std::int16_t level() const;

    // Whether a member holds column col: every column but the arrow and the
    // reserved ones, which are the table's own.
    static bool holds(int col);
    // The cell of column col; empty for a column no member holds.
    QString cell(int col) const;
    void setCell(int col, const QString &text);
};

// A job row's settings converted, once, where the row is read: what the engine,
// the export and the batch compute with, so that no text is read twice or checked
// by a call made only for the error it throws. The typed fields are the settings'
// own, in the form the engine takes them.
struct Job {
    QString fileName; // ColFileName
    QString path; // ColPath
    QString saveFolder; // ColSaveFolder, ending in "/"
    std::optional<QSize> canvas; // ColNewSize in pixels; none: the picture's own size
    bool keepAspect = true; // ColFit "OFF"
    bool centred = false; // ColPosition "Center"; any other text is top-left
    std::int16_t rotation = 0; // ColRotation's code: 90, 270, 180, or 0 for any other text
    std::int32_t backColor = 0; // ColBackColor's colour value
    std::int16_t level = 5; // ColCompression, rounded (nearest, ties to even: 3.7 -> 4)
    // The level bar's value for the row (levelBarValue: 5.5 shows as 50).
    int levelScroll = 50;
    MetadataChoice metadata = MetadataChoice::DropLocation;
    // The row's settings the fields above were made from (the preview's canvas key
    // is derived from them).
    RowSettings settings;
    OutputFormat format = OutputFormat::Jpeg;
    bool keepTransparency = false;

    // Whether the canvas keeps transparency: asked for, and the format stores it.
    bool keepsAlpha() const { return keepTransparency && formatHasAlpha(format); }
};

// The row as a Job. Throws Failure, with the Japanese reason of the cell, for a
// colour, level or size text that is not a number, and for a size that is
// negative or beyond 32767 pixels a side / 400 megapixels (naming the size rule
// that gave it). A row whose rule still waits for its picture's size reads the
// picture's header (probePicture), and fails with its reason.
Job readJob(const JobRow &row);

// The settings the row's cells hold (RowFieldEntry::read on each cell). A row made
// without a size rule asks for the size its ColNewSize holds (its picture's own
// while that is empty), and its folder beside the picture when ColSaveFolder is
// the picture's own folder. Throws Failure as the fields do (readJob's reasons).
RowSettings readRowSettings(const JobRow &row);
// The same with every cell that cannot be read taken at its start-up value: what
// the panel shows of a row.
RowSettings rowSettingsOf(const JobRow &row);

// Writes field of settings into row's cell; a field that decides the output's size
// (the rule, shrink-only, the turn, the fit) also works ColNewSize out again
// (settleNewSize). The folder is written as the picture's own folder when settings
// keep it beside the picture.
void writeRowField(JobRow &row, RowField field, const RowSettings &settings);
// Every field, as a new row takes them.
void writeRowSettings(JobRow &row, const RowSettings &settings);
// ColNewSize from the row's rule, its picture's upright size (ColOriginalSize) and
// its own turn: what the rule asks of the picture as it will be written. A size
// beyond the limits is written as it is, and the row then says why it cannot be
// made. While the picture's size is unknown only an exact size is written, and
// otherwise none. Unchanged for a row without a rule.
void settleNewSize(JobRow &row);

// The folder part of a picture's path, with its trailing "/".
QString ownFolder(const QString &path);

// Canvas size of a size text, in pixels. nullopt means "use the source's size": the
// text is empty, holds no "*", or a side is 0. The text is split at the first "*";
// each side is a decimal number rounded to a whole pixel (nearest, ties to even).
// Throws Failure for a side that is not a number (the empty side included), a
// negative side, or a size beyond 32767 pixels a side / 400 megapixels.
std::optional<QSize> canvasPixelSize(QStringView sizeText);

// The sides of a size text in whole pixels (nearest, ties to even), past the limits
// too: what a row asks, to be shown. nullopt for a text that is no size or has a
// side that is no positive number.
std::optional<QSize> sizeOfText(QStringView text);

// "W*H", the form in which sizes are stored.
QString sizeText(QSize pixels);

} // namespace kestrovia
