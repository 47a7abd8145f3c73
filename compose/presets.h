#pragma once
// Presets: named sets of every row setting, one file each in the settings folder
// (~/.config/kestrovia/presets/<name>.kestrovia-preset), in a form a user can copy
// to another machine. A file is JSON: a format marker, a version, the name, and the
// settings as the texts of the row's field table (settingsTexts), so that a new
// setting joins presets by its line in rowFields() alone.

#include "compose/rowsettings.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace kestrovia {

struct Preset {
    QString name;
    RowSettings settings;
    bool operator==(const Preset &) const = default;
};

// The marker and version every preset file carries.
inline constexpr QStringView kPresetMarker = u"kestrovia-preset";
inline constexpr int kPresetVersion = 1;
inline constexpr QStringView kPresetSuffix = u".kestrovia-preset";

// The presets that come with the program, in the order they are offered.
QList<Preset> shippedPresets();

// The preset as a file's bytes.
QByteArray presetFileBytes(const Preset &preset);
// Reads a preset file's bytes. Throws Failure naming fileName and what is wrong:
// not JSON, no or another marker, a version this program does not know, no name,
// or a setting whose value cannot be read or is out of range (naming it). A
// setting the file does not hold takes its start-up value.
Preset presetOfFileBytes(const QByteArray &bytes, const QString &fileName);

// Where presets are kept: $XDG_CONFIG_HOME/kestrovia/presets (~/.config/...).
QString presetsFolder();

// The user's presets and the shipped ones, by name: a preset file of a shipped
// preset's name (a changed shipped preset) stands instead of it. The shipped ones
// first, in their order, then the user's by name. A file that cannot be read is
// left out (readPresetFile says why).
QList<Preset> loadPresets(const QString &folder = presetsFolder());
std::optional<Preset> findPreset(const QString &name, const QString &folder = presetsFolder());

// The file that holds the preset named name in folder (the name's "/" and a
// leading "." are written as %2F and %2E so that every name is one file there).
QString presetFilePath(const QString &name, const QString &folder = presetsFolder());

// Reads a preset file; throws Failure as presetOfFileBytes, or when the file
// cannot be read.
Preset readPresetFile(const QString &path);
// Writes preset to path whole (a temporary file renamed over it). Throws Failure.
void writePresetFile(const Preset &preset, const QString &path);

// Saves preset into folder, replacing one of its name.
void savePreset(const Preset &preset, const QString &folder = presetsFolder());
// Removes the user's preset named name; a shipped preset of that name is offered
// as shipped again. False when there was no such file.
bool removePreset(const QString &name, const QString &folder = presetsFolder());
// Renames a preset (the shipped one included: the user's copy takes the new name).
// Throws Failure when there is no preset named from or one named to exists.
void renamePreset(const QString &from, const QString &to, const QString &folder = presetsFolder());
// Reads the preset file at path and saves it into folder; returns it. Throws
// Failure (presetOfFileBytes) for a file that is not a preset.
Preset importPreset(const QString &path, const QString &folder = presetsFolder());

} // namespace kestrovia
