#include "compose/jobrow.h"

#include "compose/picturelimits.h"
#include "platform/failure.h"
#include "platform/japanese.h"
#include "platform/numbers.h"

#include <algorithm>
#include <cmath>

namespace kestrovia {

std::int16_t JobRow::rotationCode() const
{
    if (rotation == celltext::TurnRight)
        return 90;
    if (rotation == celltext::TurnLeft)
        return 270;
    if (rotation == celltext::TurnHalf)
        return 180;
    return 0;
}

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
    const auto value = textToInt32(backColor);
    if (!value)
        throw Failure(ja("背景色「%1」が数値ではありません").arg(backColor));
    return *value;
}

std::optional<QSize> JobRow::canvasSize() const { return canvasPixelSize(newSize); }

std::int16_t JobRow::level() const
{
    const auto value = parseDecimal(compression);
    if (!value)
        throw Failure(ja("圧縮レベル「%1」が数値ではありません").arg(compression));
    const auto level = roundToInt16(*value);
    if (!level)
        throw Failure(ja("圧縮レベル「%1」が大きすぎます").arg(compression));
    return *level;
}

Job readJob(const JobRow &row)
{
    Job job;
    job.fileName = row.fileName;
    job.path = row.path;
    job.saveFolder = row.saveFolder;
    // In the order a conversion has always failed a row: colour and level before
    // anything is decoded, then the size.
    job.backColor = row.backColorValue();
    job.level = row.level();
    const double whole = std::trunc(parseDecimal(row.compression).value_or(0));
    job.levelScroll = int(std::clamp(whole * 10, -1e6, 1e6));
    job.canvas = row.canvasSize();
    job.keepAspect = row.keepsAspect();
    job.centred = row.centred();
    job.rotation = row.rotationCode();
    job.metadata = row.metadata;
    job.format = row.format;
    job.keepTransparency = row.keepTransparency;
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

QString sizeText(QSize pixels) { return QString::number(pixels.width()) + u'*' + QString::number(pixels.height()); }

} // namespace kestrovia
