#include "joblist/dropimport.h"

#include "joblist/jobtable.h"
#include "platform/numbers.h"

#include <QFileInfo>

namespace kestrovia {

bool isPictureName(QStringView name)
{
    static const QStringList extensions = {QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("jpe"),
                                           QStringLiteral("jfif"), QStringLiteral("bmp"),  QStringLiteral("png"),
                                           QStringLiteral("tif"),  QStringLiteral("tiff"), QStringLiteral("webp"),
                                           QStringLiteral("gif"),  QStringLiteral("heic"), QStringLiteral("heif")};
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot >= 0 && extensions.contains(name.mid(dot + 1).toString(), Qt::CaseInsensitive);
}

DropResult appendDroppedFiles(JobTable &table, const QStringList &paths,
                              const std::function<DropPanelValues()> &readPanel)
{
    DropResult result;
    for (const QString &name : paths) {
        // Looked up before a row is appended, so that a folder named x.jpg or a file
        // that vanished during the drag leaves no empty row behind.
        const QFileInfo info(name);
        if (!info.isFile())
            continue;
        if (!isPictureName(name)) {
            result.unsupported.append(info.fileName());
            continue;
        }
        const QString fileName = info.fileName();
        const QString path = info.absoluteFilePath();
        const QString ownFolder = path.left(path.size() - fileName.size());
        const DropPanelValues panel = readPanel();

        JobRow job;
        job.fileName = fileName;
        job.path = path;
        job.fit = (panel.keepAspect ? celltext::FitKeep : celltext::FitStretch).toString();
        job.backColor = QString::number(panel.backColor);
        job.position = (panel.topLeft ? celltext::Top : celltext::Center).toString();
        job.rotation = panel.rotation;
        job.saveFolder = !panel.saveFolderText.isEmpty() && !panel.sameFolder ? panel.saveFolderText : ownFolder;
        job.compression = shortestDecimal(panel.compressValue / 10.0);
        table.appendJob(job);
        ++result.appended;
    }
    return result;
}

} // namespace kestrovia
