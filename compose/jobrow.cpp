#include "compose/jobrow.h"

#include "compose/picturelimits.h"
#include "compose/pictureprobe.h"
#include "platform/failure.h"
#include "platform/japanese.h"
#include "platform/numbers.h"

#include <QStringList>

#include <array>

namespace kestrovia {

namespace {

// The JobRow member of each column that one holds.
struct CellMember {
    int column;
    QString JobRow::*member;
};
constexpr std::array<CellMember, 14> kCells{{
    {ColFileName, &JobRow::fileName},
    {ColOriginalSize, &JobRow::originalSize},
    {ColPath, &JobRow::path},
    {ColNewSize, &JobRow::newSize},
    {ColFit, &JobRow::fit},
    {ColBackColor, &JobRow::backColor},
    {ColPosition, &JobRow::position},
    {ColRotation, &JobRow::rotation},
    {ColSaveFolder, &JobRow::saveFolder},
    {ColCompression, &JobRow::compression},
    {ColMetadata, &JobRow::metadata},
    {ColSizeRule, &JobRow::sizeRule},
    {ColFormat, &JobRow::format},
    {ColNamePattern, &JobRow::namePattern},
}};

QString JobRow::*memberOf(int col)
{
    for (const CellMember &c : kCells) {
        if (c.column == col)
            return c.member;
    }
    return nullptr;
}

bool decidesSize(RowField field)
{
    return field == RowField::Size || field == RowField::ShrinkOnly || field == RowField::Turn
           || field == RowField::Fit;
}

// A column's cell: the texts of the fields it holds, separated by blanks.
QString columnText(const JobRow &row, int col, const RowSettings &settings)
{
    QStringList texts;
    for (const RowFieldEntry &entry : rowFields()) {
        if (entry.column != col)
            continue;
        if (const QString text = entry.text(settings); !text.isEmpty())
            texts << text;
    }
    if (col == ColSaveFolder && texts.isEmpty())
        return ownFolder(row.path);
    return texts.join(u' ');
}

RowSettings settingsOf(const JobRow &row, bool strict)
{
    RowSettings s;
    for (const RowFieldEntry &entry : rowFields()) {
        QString text = row.cell(entry.column);
        if (entry.field == RowField::Folder && text == ownFolder(row.path))
            text.clear();
        if (entry.column == ColSizeRule && text.isEmpty()) {
            // Made without a rule: the size the row holds is the size asked.
            try {
                if (const auto asked = canvasPixelSize(row.newSize)) {
                    s.size.mode = SizeRule::Exact;
                    s.size.exact = *asked;
                }
            } catch (const Failure &) {
                // Said by readJob, which reads the size itself.
            }
            continue;
        }
        try {
            entry.read(s, text);
        } catch (const Failure &) {
            if (strict)
                throw;
        }
    }
    return s;
}

} // namespace

bool JobRow::holds(int col) { return memberOf(col) != nullptr; }

QString JobRow::cell(int col) const
{
    const auto member = memberOf(col);
    return member ? this->*member : QString();
}

void JobRow::setCell(int col, const QString &text)
{
    if (const auto member = memberOf(col))
        this->*member = text;
}

std::int16_t JobRow::rotationCode() const
{
    RowSettings s;
    rowField(RowField::Turn).read(s, rotation);
    return s.turn;
}

QStringView formatText(OutputFormat format)
{
    switch (format) {
    case OutputFormat::WebP: return celltext::FormatWebp;
    case OutputFormat::Avif: return celltext::FormatAvif;
    case OutputFormat::Png: return celltext::FormatPng;
    case OutputFormat::Jpeg: break;
    }
    return celltext::FormatJpeg;
}

std::optional<OutputFormat> outputFormatOf(QStringView text)
{
    for (OutputFormat f : {OutputFormat::Jpeg, OutputFormat::WebP, OutputFormat::Avif, OutputFormat::Png})
        if (text.compare(formatText(f), Qt::CaseInsensitive) == 0)
            return f;
    return std::nullopt;
}

std::int32_t JobRow::backColorValue() const
{
    RowSettings s;
    rowField(RowField::Background).read(s, backColor);
    return s.backColor;
}

std::optional<QSize> JobRow::canvasSize() const { return canvasPixelSize(newSize); }

std::int16_t JobRow::level() const
{
    RowSettings s;
    rowField(RowField::Level).read(s, compression);
    const auto level = roundToInt16(s.level);
    if (!level)
        throw Failure(ja("圧縮レベル「%1」が大きすぎます").arg(compression));
    return *level;
}

RowSettings readRowSettings(const JobRow &row) { return settingsOf(row, true); }

RowSettings rowSettingsOf(const JobRow &row) { return settingsOf(row, false); }

void writeRowField(JobRow &row, RowField field, const RowSettings &settings)
{
    RowSettings s = rowSettingsOf(row);
    copyField(s, field, settings);
    const int col = rowField(field).column;
    row.setCell(col, columnText(row, col, s));
    if (decidesSize(field))
        settleNewSize(row);
}

void writeRowSettings(JobRow &row, const RowSettings &settings)
{
    for (const RowFieldEntry &entry : rowFields())
        row.setCell(entry.column, columnText(row, entry.column, settings));
    settleNewSize(row);
}

void settleNewSize(JobRow &row)
{
    if (row.sizeRule.isEmpty())
        return;
    const RowSettings s = rowSettingsOf(row);
    std::optional<QSize> picture;
    try {
        picture = canvasPixelSize(row.originalSize);
    } catch (const Failure &) {
    }
    if (!picture) {
        // Only an exact size without shrink-only is known without the picture; any
        // other waits for it, and never stands at a size the rule no longer asks.
        const bool known = s.size.mode == SizeRule::Exact && !s.size.shrinkOnly;
        row.newSize = known ? sizeText(s.size.exact) : QString();
        return;
    }
    // The rule asks of the picture as it is written: a quarter turn swaps its sides.
    const QSize written = s.turn == 90 || s.turn == 270 ? picture->transposed() : *picture;
    const QSize size = s.size.sizeFor(written, !s.keepAspect);
    if (size.isValid())
        row.newSize = sizeText(size);
}

QString ownFolder(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QString() : path.left(slash + 1);
}

Job readJob(const JobRow &given)
{
    // In the order a conversion has always failed a row: colour and level before
    // anything is decoded, then the size.
    const RowSettings s = readRowSettings(given);
    JobRow row = given;
    if (!row.sizeRule.isEmpty() && row.newSize.isEmpty()) {
        // A rule that waits for the picture's size: its header says it, or why not.
        row.originalSize = sizeText(probePicture(row.path).size);
        settleNewSize(row);
    }
    Job job;
    job.fileName = row.fileName;
    job.path = row.path;
    job.saveFolder = row.saveFolder;
    job.backColor = s.backColor;
    job.level = row.level();
    job.levelScroll = levelBarValue(s.level);
    try {
        job.canvas = row.canvasSize();
    } catch (const Failure &f) {
        // A size a rule worked out says which rule asked for it.
        if (row.sizeRule.isEmpty() || s.size.mode == SizeRule::Exact)
            throw;
        throw Failure(ja("サイズの指定「%1」では%2").arg(s.size.words(), f.message()));
    }
    job.keepAspect = s.keepAspect;
    job.centred = s.centred;
    job.rotation = s.turn;
    job.metadata = s.metadata;
    job.settings = s;
    job.format = s.format;
    job.keepTransparency = s.keepTransparency;
    return job;
}

std::optional<QSize> canvasPixelSize(QStringView text)
{
    const qsizetype star = text.indexOf(u'*');
    if (star < 0)
        return std::nullopt;
    const auto side = [&](QStringView part, const char *which) -> std::int32_t {
        const auto value = parseDecimal(part);
        if (!value)
            throw Failure(ja("新しいサイズ「%1」の%2が数値ではありません").arg(text, ja(which)));
        const auto rounded = roundToInt32(*value);
        if (!rounded)
            throw Failure(ja("新しいサイズ「%1」が大きすぎます").arg(text));
        if (*rounded < 0)
            throw Failure(ja("新しいサイズ「%1」に負の値は使えません").arg(text));
        return *rounded;
    };
    const std::int32_t w = side(text.left(star), "幅");
    const std::int32_t h = side(text.mid(star + 1), "高さ");
    if (w == 0 || h == 0)
        return std::nullopt;
    try {
        checkPictureSize(w, h);
    } catch (const Failure &f) {
        throw Failure(ja("新しいサイズ「%1」は出力できません: %2").arg(text, f.message()));
    }
    return QSize(w, h);
}

std::optional<QSize> sizeOfText(QStringView text)
{
    const qsizetype star = text.indexOf(u'*');
    if (star < 0)
        return std::nullopt;
    const auto w = textToInt32(text.left(star));
    const auto h = textToInt32(text.mid(star + 1));
    if (!w || !h || *w < 1 || *h < 1)
        return std::nullopt;
    return QSize(*w, *h);
}

QString sizeText(QSize pixels) { return QString::number(pixels.width()) + u'*' + QString::number(pixels.height()); }

} // namespace kestrovia
