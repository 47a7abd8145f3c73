#pragma once
// Output naming and JPEG quality of one job.

#include "compose/jobrow.h"

#include <QDateTime>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringView>
#include <cstdint>

namespace kestrovia {

// The text after the last "." of a file name, "" when it holds none.
QString GetExtension(QStringView fileName);

// The extension of a format's files, without the dot: "jpg", "webp", "avif", "png".
QString outputExtension(OutputFormat format);

// Whether the source is a file of the format's own kind (for JPEG .jpg .jpeg .jpe
// .jfif, else the format's extension, in any letter case): its output then takes
// "_b" in the default pattern, so that it never takes the source's name.
bool sourceOfOutputKind(QStringView sourceFileName, OutputFormat format);

// Output file name for a source file name by the default pattern: a source of the
// output's own kind gives name + "_b." + the format's extension (photo.jpeg ->
// photo_b.jpg, logo.PNG -> logo_b.png); any other extension is replaced by the
// format's (photo.png -> photo.jpg); a name without "." gets "." and the extension.
QString outputFileName(QStringView sourceFileName, OutputFormat format = OutputFormat::Jpeg);

// Output path: the folder text followed directly by the output name (the folder
// text ends with "/"; no separator is inserted).
QString outputPath(const QString &saveFolder, QStringView sourceFileName, OutputFormat format = OutputFormat::Jpeg);

// The libjpeg quality (1..100, higher is better) of a compression level: 0 is the
// best (100, with full chroma by fullChroma), 5 (標準) 82 as the web expects, 10 the
// smallest, and each level's file about 1.5 times smaller than the level before
// on photos. Levels outside 0..10 (which the settings panel never writes) take the
// nearest end.
int jpegQuality(std::int16_t level);

// What the fields of a name pattern are filled from, for one row.
struct NameFields {
    QString sourceName; // the source's file name, extension included
    // The source is a file of the output's own kind ({_b}: the output must not
    // take the source's name).
    bool sourceOfOutputKind = false;
    QSize size; // the output's width and height in pixels
    int number = 1; // the row's running number
    // When the picture was taken (EXIF DateTimeOriginal) or, for a picture that does
    // not say, when its file was last changed.
    QDateTime date;
};

// The name of a row's outputs without the extension, which follows the format. Text
// stands as typed; fields in braces are filled per row:
//   {名前} {name}      the source's name without its last "." and extension
//   {_b}               "_b" when the source is of the output's kind, else nothing
//   {幅} {width}       the output's width in pixels, {高さ} {height} its height
//   {連番} {n}         the running number; {連番:3} gives at least 3 digits (007)
//   {撮影日} {date}    the date taken, as yyyyMMdd; {撮影日:yyyy-MM-dd_HHmmss} as
//                      that Qt date format
// "{{" and "}}" stand for "{" and "}". The Japanese names are the ones shown, the
// ASCII ones can be typed without switching the input method; full-width braces
// and, inside a field, full-width digits and colons read as plain ones.
class NamePattern {
public:
    // {名前}{_b}: today's names (photo.jpg -> photo_b.jpg, photo.png -> photo.jpg).
    static QString defaultText() { return celltext::DefaultNamePattern.toString(); }

    explicit NamePattern(QStringView text = defaultText());

    const QString &text() const { return m_text; }
    bool isDefault() const { return m_text == defaultText(); }
    // Japanese: why the pattern cannot name files (an unknown field, a "/", a
    // control character, text too long for a name); empty when it can.
    const QString &error() const { return m_error; }
    // Japanese: what it may hold that Windows or a memory card refuses, or that it
    // names every row alike; empty when nothing. The pattern can still be used.
    const QString &warning() const { return m_warning; }
    // Whether expanding needs the output's size or the date taken.
    bool needsSize() const;
    bool needsDate() const;

    // The name, without extension, for a pattern without error.
    QString expand(const NameFields &fields) const;

private:
    enum class Field { Text, Name, Mark, Width, Height, Number, Date };
    struct Piece {
        Field field = Field::Text;
        QString text; // Text: the text; Date: the date format
        int digits = 1; // Number: the least number of digits
    };
    bool uses(Field field) const;
    void parse();

    QString m_text;
    QList<Piece> m_pieces;
    QString m_error;
    QString m_warning;
};

// Japanese: why fileName (extension included) can be no file's name on the common
// file systems: empty, "." or "..", a "/", NUL or another control character, or
// longer than 255 bytes as the file system keeps it (encodeFileName). Empty when it
// can be one.
QString invalidNameReason(const QString &fileName);

// Japanese: the characters of name that Windows and memory cards (FAT, exFAT, NTFS)
// refuse (< > : " \ | ? *); empty when it holds none.
QString foreignNameWarning(QStringView name);

} // namespace kestrovia
