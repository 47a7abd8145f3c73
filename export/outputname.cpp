#include "export/outputname.h"

#include "compose/pictureformat.h"

#include <algorithm>
#include <array>

namespace kestrovia {

QString GetExtension(QStringView fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot < 0 ? QString() : fileName.mid(dot + 1).toString();
}

QString outputExtension(OutputFormat format)
{
    switch (format) {
    case OutputFormat::WebP: return QStringLiteral("webp");
    case OutputFormat::Avif: return QStringLiteral("avif");
    case OutputFormat::Png: return QStringLiteral("png");
    case OutputFormat::Jpeg: break;
    }
    return QStringLiteral("jpg");
}

QString outputFileName(QStringView sourceFileName, OutputFormat format)
{
    const QString ext = GetExtension(sourceFileName);
    const qsizetype stem = sourceFileName.size() - ext.size();
    const QString out = outputExtension(format);
    const bool sameFormat =
        format == OutputFormat::Jpeg ? isJpegExtension(ext) : ext.compare(out, Qt::CaseInsensitive) == 0;
    if (sameFormat) {
        // A source of the output's format keeps its own name free: photo.jpeg -> photo_b.jpg.
        return sourceFileName.left(stem - 1).toString() + QStringLiteral("_b.") + out;
    }
    // The "." stays, only the extension is replaced (photo.bmp -> photo.jpg).
    return sourceFileName.left(stem).toString() + out;
}

QString outputPath(const QString &saveFolder, QStringView sourceFileName, OutputFormat format)
{
    return saveFolder + outputFileName(sourceFileName, format);
}

int jpegQuality(std::int16_t level)
{
    // Chosen by file size, not spaced evenly in quality: libjpeg's quality scale
    // is steep near 100 and flat below 50, so even qualities give steps from 3.7x
    // down to 1.2x. These make the file of each level shrink by about the same
    // ratio (1.4-1.5x on 1600x1200 photos, bench/compare.sh case levels),
    // including the step where fullChroma halves the chroma (92 -> 89).
    static constexpr std::array<int, 11> kQuality = {100, 98, 95, 92, 89, 82, 74, 64, 53, 41, 25};
    return kQuality[size_t(std::clamp<int>(level, 0, 10))];
}

} // namespace kestrovia
