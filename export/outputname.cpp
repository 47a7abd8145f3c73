#include "export/outputname.h"

#include <QStringList>

#include <algorithm>

namespace kestrovia {

QString GetExtension(QStringView fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot < 0 ? QString() : fileName.mid(dot + 1).toString();
}

QString outputFileName(QStringView sourceFileName)
{
    const QString ext = GetExtension(sourceFileName);
    const qsizetype stem = sourceFileName.size() - ext.size();
    const bool jpegFamily =
        QStringList{QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("jpe"), QStringLiteral("jfif")}
            .contains(ext, Qt::CaseInsensitive);
    if (jpegFamily) {
        // A JPEG source keeps its own name free: photo.jpeg -> photo_b.jpg.
        return sourceFileName.left(stem - 1).toString() + QStringLiteral("_b.jpg");
    }
    // The "." stays, only the extension is replaced (photo.bmp -> photo.jpg).
    return sourceFileName.left(stem).toString() + QStringLiteral("jpg");
}

QString outputPath(const QString &saveFolder, QStringView sourceFileName)
{
    return saveFolder + outputFileName(sourceFileName);
}

int jpegQuality(std::int16_t level)
{
    const int quality = 100 - 10 * int(level);
    if (quality == 0)
        return 1;
    return std::clamp(quality, 1, 100);
}

} // namespace kestrovia
