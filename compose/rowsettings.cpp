#include "compose/rowsettings.h"

#include "compose/picturelimits.h"
#include "platform/failure.h"
#include "platform/japanese.h"
#include "platform/numbers.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>

namespace kestrovia {

QStringView metadataText(MetadataChoice choice)
{
    switch (choice) {
    case MetadataChoice::KeepAll: return celltext::MetadataKeepAll;
    case MetadataChoice::DropAll: return celltext::MetadataDropAll;
    case MetadataChoice::DropLocation: break;
    }
    return celltext::MetadataDropLocation;
}

MetadataChoice metadataChoiceOf(QStringView text)
{
    if (text == celltext::MetadataKeepAll)
        return MetadataChoice::KeepAll;
    if (text == celltext::MetadataDropAll)
        return MetadataChoice::DropAll;
    return MetadataChoice::DropLocation;
}

int levelBarValue(double level) { return int(std::clamp(std::trunc(level) * 10, -1e6, 1e6)); }

double levelOfBar(int barValue) { return barValue / 10.0; }

namespace {

// The size rule's words in a cell: "original", "640*480", "long 1600", "percent 50";
// shrink-only adds "shrink".
constexpr QStringView kOriginal = u"original";
constexpr QStringView kLong = u"long";
constexpr QStringView kPercent = u"percent";
constexpr QStringView kShrink = u"shrink";

QString ruleText(const RowSettings &s)
{
    const SizeRule &r = s.size;
    switch (r.mode) {
    case SizeRule::Original: break;
    case SizeRule::Exact: return QString::number(r.exact.width()) + u'*' + QString::number(r.exact.height());
    case SizeRule::LongEdge: return kLong.toString() + u' ' + QString::number(r.longEdge);
    case SizeRule::Percent: return kPercent.toString() + u' ' + QString::number(r.percent);
    }
    return kOriginal.toString();
}

// A whole number within [low, high]; nullopt otherwise.
std::optional<int> wholeIn(QStringView text, int low, int high)
{
    const auto value = parseDecimal(text);
    if (!value || *value != std::trunc(*value) || *value < low || *value > high)
        return std::nullopt;
    return int(*value);
}

void readSize(RowSettings &s, QStringView text)
{
    // Anything that is no rule leaves the rule as it was.
    const QList<QStringView> words = text.trimmed().split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty())
        return;
    SizeRule r = s.size;
    if (words[0] == kOriginal) {
        r.mode = SizeRule::Original;
    } else if ((words[0] == kLong || words[0] == kPercent) && words.size() > 1) {
        const bool isLong = words[0] == kLong;
        const auto value = wholeIn(words[1], 1, isLong ? kMaxPictureSide : 1000);
        if (!value)
            return;
        r.mode = isLong ? SizeRule::LongEdge : SizeRule::Percent;
        (isLong ? r.longEdge : r.percent) = *value;
    } else {
        const qsizetype star = words[0].indexOf(u'*');
        const auto w = wholeIn(words[0].left(star), 1, kMaxPictureSide);
        const auto h = wholeIn(words[0].mid(star + 1), 1, kMaxPictureSide);
        if (star < 0 || !w || !h)
            return;
        r.mode = SizeRule::Exact;
        r.exact = QSize(*w, *h);
    }
    s.size = r;
}

QString shrinkText(const RowSettings &s) { return s.size.shrinkOnly ? kShrink.toString() : QString(); }
void readShrink(RowSettings &s, QStringView text)
{
    s.size.shrinkOnly = text.split(u' ', Qt::SkipEmptyParts).contains(kShrink);
}

QString fitText(const RowSettings &s) { return (s.keepAspect ? celltext::FitKeep : celltext::FitStretch).toString(); }
void readFit(RowSettings &s, QStringView text) { s.keepAspect = text == celltext::FitKeep; }

QString backText(const RowSettings &s) { return QString::number(s.backColor); }
void readBack(RowSettings &s, QStringView text)
{
    const auto value = textToInt32(text);
    if (!value)
        throw Failure(ja("背景色「%1」が数値ではありません").arg(text));
    s.backColor = *value;
}

QString positionText(const RowSettings &s) { return (s.centred ? celltext::Center : celltext::Top).toString(); }
void readPosition(RowSettings &s, QStringView text) { s.centred = text == celltext::Center; }

// No turn is written as the empty text a row starts with; the list's own " " item
// and any other text read as no turn too.
QString turnText(const RowSettings &s)
{
    switch (s.turn) {
    case 90: return celltext::TurnRight.toString();
    case 270: return celltext::TurnLeft.toString();
    case 180: return celltext::TurnHalf.toString();
    default: return {};
    }
}
void readTurn(RowSettings &s, QStringView text)
{
    s.turn = text == celltext::TurnRight ? 90 : text == celltext::TurnLeft ? 270 : text == celltext::TurnHalf ? 180 : 0;
}

QString levelText(const RowSettings &s) { return shortestDecimal(s.level); }
void readLevel(RowSettings &s, QStringView text)
{
    const auto value = parseDecimal(text);
    if (!value)
        throw Failure(ja("圧縮レベル「%1」が数値ではありません").arg(text));
    s.level = *value;
}

QString folderText(const RowSettings &s) { return s.folder; }
void readFolder(RowSettings &s, QStringView text) { s.folder = text.toString(); }

QString metadataCell(const RowSettings &s) { return metadataText(s.metadata).toString(); }
void readMetadata(RowSettings &s, QStringView text) { s.metadata = metadataChoiceOf(text); }

// The format and 透明を残す share their column: "png alpha".
QString formatCell(const RowSettings &s) { return formatText(s.format).toString(); }
void readFormat(RowSettings &s, QStringView text)
{
    s.format = OutputFormat::Jpeg;
    for (const QStringView word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (const auto format = outputFormatOf(word))
            s.format = *format;
    }
}

QString transparencyText(const RowSettings &s) { return s.keepTransparency ? celltext::KeepAlpha.toString() : QString(); }
void readTransparency(RowSettings &s, QStringView text)
{
    s.keepTransparency = text.split(u' ', Qt::SkipEmptyParts).contains(celltext::KeepAlpha);
}

// The pattern is the whole cell, blanks included; a row made without one takes
// the names outputs always had. A pattern that names no file fails its row at the
// batch's plan, with the reason.
QString patternText(const RowSettings &s) { return s.namePattern; }
void readPattern(RowSettings &s, QStringView text)
{
    s.namePattern = text.isEmpty() ? celltext::DefaultNamePattern.toString() : text.toString();
}

constexpr std::array<RowFieldEntry, 12> kFields{{
    {RowField::Size, "size", ColSizeRule, true, ruleText, readSize},
    {RowField::ShrinkOnly, "shrinkOnly", ColSizeRule, true, shrinkText, readShrink},
    {RowField::Fit, "fit", ColFit, true, fitText, readFit},
    {RowField::Background, "background", ColBackColor, true, backText, readBack},
    {RowField::Position, "position", ColPosition, true, positionText, readPosition},
    {RowField::Turn, "turn", ColRotation, true, turnText, readTurn},
    // The level decides whether a JPEG keeps its chroma whole, which the preview shows.
    {RowField::Level, "level", ColCompression, true, levelText, readLevel},
    {RowField::Folder, "folder", ColSaveFolder, false, folderText, readFolder},
    {RowField::Metadata, "metadata", ColMetadata, false, metadataCell, readMetadata},
    // A kept transparency shapes the canvas, and the format decides whether it is kept.
    {RowField::Format, "format", ColFormat, true, formatCell, readFormat},
    {RowField::Transparency, "keepTransparency", ColFormat, true, transparencyText, readTransparency},
    {RowField::NamePattern, "namePattern", ColNamePattern, false, patternText, readPattern},
}};

} // namespace

std::span<const RowFieldEntry> rowFields() { return kFields; }

const RowFieldEntry &rowField(RowField field)
{
    for (const RowFieldEntry &entry : kFields) {
        if (entry.field == field)
            return entry;
    }
    return kFields[0]; // every RowField has its line above
}

void copyField(RowSettings &to, RowField field, const RowSettings &from)
{
    const RowFieldEntry &entry = rowField(field);
    entry.read(to, entry.text(from));
}

QList<std::pair<QString, QString>> settingsTexts(const RowSettings &settings)
{
    QList<std::pair<QString, QString>> texts;
    for (const RowFieldEntry &entry : kFields)
        texts.append({QString::fromLatin1(entry.key), entry.text(settings)});
    return texts;
}

RowSettings settingsFromTexts(const std::function<std::optional<QString>(const QString &key)> &value,
                              const RowSettings &start)
{
    RowSettings s = start;
    for (const RowFieldEntry &entry : kFields) {
        const std::optional<QString> text = value(QString::fromLatin1(entry.key));
        if (!text)
            continue;
        try {
            entry.read(s, *text);
        } catch (const Failure &) {
            // A kept text that is no number keeps the start-up value.
        }
    }
    return s;
}

} // namespace kestrovia
