#pragma once
// A row's settings as one typed value, and the one table of its fields from which
// every other form of them is derived: the job table's cells (jobrow.h converts a
// row to and from them), the values the panel gives new rows, the settings kept
// between starts, and the preview's canvas key.
//
// A new per-row setting is a member of RowSettings, a RowField with its line in
// rowFields() (key, column, text and back), a JobRow text member for its cell and
// its column in jobcolumns.h; then its control (the settings panel) and its use
// (Job, readJob).

#include "compose/jobcolumns.h"
#include "compose/sizerule.h"
#include "platform/syscolor.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace kestrovia {

// The texts the cells hold for the settings, spelled here and nowhere else.
namespace celltext {
inline constexpr QStringView FitKeep = u"OFF"; // ColFit: keep the aspect ratio on the background
inline constexpr QStringView FitStretch = u"ON"; // ColFit: stretch over the whole canvas
inline constexpr QStringView Top = u"Top"; // ColPosition: top-left
inline constexpr QStringView Center = u"Center"; // ColPosition: centred
inline constexpr QStringView TurnRight = u"+90°"; // ColRotation: quarter turn clockwise
inline constexpr QStringView TurnLeft = u"-90°"; // ColRotation: quarter turn counter-clockwise
inline constexpr QStringView TurnHalf = u"+180°"; // ColRotation: half turn
inline constexpr QStringView NoTurn = u" "; // ColRotation: the turn list's "no turn" item
inline constexpr QStringView Arrow = u"→"; // ColArrow
inline constexpr QStringView MetadataKeepAll = u"all"; // ColMetadata
inline constexpr QStringView MetadataDropLocation = u"nolocation";
inline constexpr QStringView MetadataDropAll = u"none";
inline constexpr QStringView FormatJpeg = u"jpeg"; // ColFormat
inline constexpr QStringView FormatWebp = u"webp";
inline constexpr QStringView FormatAvif = u"avif";
inline constexpr QStringView FormatPng = u"png";
inline constexpr QStringView KeepAlpha = u"alpha"; // ColFormat: 透明を残す
// ColNamePattern: the names outputs always had (photo.jpg -> photo_b.jpg, photo.png
// -> photo.jpg); export/outputname.h reads patterns.
inline constexpr QStringView DefaultNamePattern = u"{名前}{_b}";
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

// Every setting of one row. The defaults are the settings panel at start-up.
struct RowSettings {
    SizeRule size; // the rule that gives ColNewSize; its shrinkOnly is a field of its own
    bool keepAspect = true; // fit: the picture keeps its shape on the background
    std::int32_t backColor = kWindowBackgroundRef; // 0x00BBGGRR or a system colour reference
    bool centred = false; // position: centred, else top-left
    std::int16_t turn = 0; // clockwise: 0, 90, 180 or 270
    double level = 5; // compression 0 (best) .. 10; a dragged thumb leaves tenths (3.7)
    QString folder; // the destination, ending in "/"; empty: beside the picture
    MetadataChoice metadata = MetadataChoice::DropLocation;
    OutputFormat format = OutputFormat::Jpeg;
    // 透明を残す: the picture's transparent parts, and the band around a fitted one,
    // stay transparent in a format that stores it, instead of taking the background.
    bool keepTransparency = false;
    QString namePattern = celltext::DefaultNamePattern.toString(); // the output's name without extension

    // Whether the canvas keeps transparency: asked for, and the format stores it.
    bool keepsAlpha() const { return keepTransparency && formatHasAlpha(format); }

    bool operator==(const RowSettings &) const = default;
};

enum class RowField {
    Size,
    ShrinkOnly,
    Fit,
    Background,
    Position,
    Turn,
    Level,
    Folder,
    Metadata,
    Format,
    Transparency,
    NamePattern
};

struct RowFieldEntry {
    RowField field;
    const char *key; // stable: the kept settings, presets and the canvas key use it
    int column; // the job table's column that holds it (two fields may share one)
    bool shapesCanvas; // the picture composed for a row depends on it
    // The field's value as text. Reading it back gives the same value.
    QString (*text)(const RowSettings &settings);
    // Sets the field from text, which may be its column's whole cell (a column holds
    // its fields' texts separated by blanks). Lenient where the batch is: a fit other
    // than "OFF" stretches, a turn outside the list is none. Throws Failure with the
    // cell's Japanese reason for a colour or level that is no number.
    void (*read)(RowSettings &settings, QStringView text);
};

// Every field, in the order the panel shows them.
std::span<const RowFieldEntry> rowFields();
const RowFieldEntry &rowField(RowField field);

// Sets field of to from the same field of from.
void copyField(RowSettings &to, RowField field, const RowSettings &from);

// The level bar stands for whole levels at ten steps each: a level's bar value is
// ten times its whole part (5.5 shows as 50), and a bar value is the level times
// ten (37 is 3.7, as a dragged thumb leaves it).
int levelBarValue(double level);
double levelOfBar(int barValue);

// The settings as key -> text pairs (presets, kept settings), and back: a key that
// value() does not give, or whose text cannot be read, keeps start's value.
QList<std::pair<QString, QString>> settingsTexts(const RowSettings &settings);
RowSettings settingsFromTexts(const std::function<std::optional<QString>(const QString &key)> &value,
                              const RowSettings &start = {});

} // namespace kestrovia
