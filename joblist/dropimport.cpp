#include "joblist/dropimport.h"

#include "joblist/jobtable.h"
#include "platform/numbers.h"

#include <QFileInfo>

namespace kestrovia {

bool isPictureName(QStringView name)
{
    const QString last3 = name.right(3).toString().toLower();
    return last3 == u"jpg" || last3 == u"bmp";
}

int appendDroppedFiles(JobTable &table, const QStringList &paths,
                       const std::function<DropPanelValues()> &readPanel)
{
    int appended = 0;
    for (const QString &name : paths) {
        if (!isPictureName(name))
            continue;
        // Looked up before the row is appended, so that a folder named x.jpg or a
        // file that vanished during the drag leaves no empty row behind.
        const QFileInfo info(name);
        if (!info.isFile())
            continue;
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
        ++appended;
    }
    return appended;
}

} // namespace kestrovia
