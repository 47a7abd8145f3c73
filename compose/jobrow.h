#pragma once
// One job row as a value: the texts of the job table's cells, read once, so that the
// engine, the export and the batch never reach into the table or a widget. Every
// text a cell can hold is spelled here and nowhere else.

#include <QSize>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace kestrovia {

namespace celltext {
inline constexpr QStringView FitKeep = u"OFF"; // ColFit: keep the aspect ratio on the background
inline constexpr QStringView FitStretch = u"ON"; // ColFit: stretch over the whole canvas
inline constexpr QStringView Top = u"Top"; // ColPosition: top-left
inline constexpr QStringView Center = u"Center"; // ColPosition: centred
inline constexpr QStringView TurnRight = u"+90°"; // ColRotation: quarter turn clockwise
inline constexpr QStringView TurnLeft = u"-90°"; // ColRotation: quarter turn counter-clockwise
inline constexpr QStringView TurnHalf = u"+180°"; // ColRotation: half turn
inline constexpr QStringView NoTurn = u" "; // ColRotation: the list's "no turn" item
inline constexpr QStringView Arrow = u"→"; // ColArrow
inline constexpr QStringView MetadataKeepAll = u"all"; // the metadata choice, kept beside the cells
inline constexpr QStringView MetadataDropLocation = u"nolocation";
inline constexpr QStringView MetadataDropAll = u"none";
inline constexpr QStringView FormatJpeg = u"jpeg"; // the output format, kept beside the cells
inline constexpr QStringView FormatWebp = u"webp";
inline constexpr QStringView FormatAvif = u"avif";
inline constexpr QStringView FormatPng = u"png";
} // namespace celltext

// What of a source's metadata goes into its output. The program's own mark and an
// RGB source's colour profile go in every case.
enum class MetadataChoice {
    KeepAll, // すべて残す
    DropLocation, // 位置情報を除く: GPS, and the XMP and IPTC places
    DropAll, // すべて除く
};

// The text a metadata choice is kept as, and back; any other text is the default,
// 位置情報を除く.
QStringView metadataText(MetadataChoice choice);
MetadataChoice metadataChoiceOf(QStringView text);

// The kind of file a job writes.
enum class OutputFormat {
    Jpeg, // the default: what every output was before there was a choice
    WebP,
    Avif,
    Png,
};

// Whether the format stores transparency: every one but JPEG.
constexpr bool formatHasAlpha(OutputFormat format) { return format != OutputFormat::Jpeg; }

// The text a format is kept as ("jpeg", "webp", "avif", "png"), and back, in any
// letter case; nullopt for any other text.
QStringView formatText(OutputFormat format);
std::optional<OutputFormat> outputFormatOf(QStringView text);

struct JobRow {
    QString fileName; // ColFileName: the source's name with extension
    QString originalSize; // ColOriginalSize: "" until the row is first shown
    QString path; // ColPath: the source's full path
    QString newSize; // ColNewSize: "W*H" in pixels
    QString fit; // ColFit
    QString backColor; // ColBackColor: signed decimal colour value
    QString position; // ColPosition
    QString rotation; // ColRotation
    QString saveFolder; // ColSaveFolder: the output folder, ending in "/"
    QString compression; // ColCompression: the level 0..10 as decimal text
    // Not a cell of the described table: kept per row beside it. New rows leave out
    // the place a picture was taken (outputs are mostly for sharing).
    MetadataChoice metadata = MetadataChoice::DropLocation;
    // Not cells either, kept beside the table: the file written, and 透明を残す
    // (transparent parts of the picture, and the band around a fitted one, stay
    // transparent where the format stores it instead of taking the background).
    OutputFormat format = OutputFormat::Jpeg;
    bool keepTransparency = false;

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
};

// A job row's settings converted, once, where the row is read: what the engine,
// the export and the batch compute with, so that no text is read twice or checked
// by a call made only for the error it throws.
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
    // The level bar's value for the row: ten times the level's whole part (5.5 ->
    // 50), as the bar stands for whole levels.
    int levelScroll = 50;
    MetadataChoice metadata = MetadataChoice::DropLocation;
    OutputFormat format = OutputFormat::Jpeg;
    bool keepTransparency = false;

    // Whether the canvas keeps transparency: asked for, and the format stores it.
    bool keepsAlpha() const { return keepTransparency && formatHasAlpha(format); }
};

// The row as a Job. Throws Failure, with the Japanese reason of the cell, for a
// colour, level or size text that is not a number, and for a size that is
// negative or beyond 32767 pixels a side / 400 megapixels.
Job readJob(const JobRow &row);

// Canvas size of a size text, in pixels. nullopt means "use the source's size": the
// text is empty, holds no "*", or a side is 0. The text is split at the first "*";
// each side is a decimal number rounded to a whole pixel (nearest, ties to even).
// Throws Failure for a side that is not a number (the empty side included), a
// negative side, or a size beyond 32767 pixels a side / 400 megapixels.
std::optional<QSize> canvasPixelSize(QStringView sizeText);

// "W*H", the form in which sizes are stored.
QString sizeText(QSize pixels);

} // namespace kestrovia
