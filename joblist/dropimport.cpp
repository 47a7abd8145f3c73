#include "joblist/dropimport.h"

#include "joblist/jobtable.h"
#include "platform/filename.h"
#include "platform/numbers.h"

#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

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

namespace {

QString ja(const char *text) { return QString::fromUtf8(text); }

// Why a name cannot become a row; null when it can. Asked of the system with the
// name's own bytes, which need not be UTF-8.
QString refusal(const QString &path)
{
    const QByteArray bytes = encodeFileName(path);
    struct stat st { };
    if (::stat(bytes.constData(), &st) != 0) {
        struct stat link { };
        return ::lstat(bytes.constData(), &link) == 0 ? ja("リンク先が見つかりません") : ja("見つかりません");
    }
    if (S_ISDIR(st.st_mode))
        return ja("フォルダ");
    if (!S_ISREG(st.st_mode))
        return ja("通常のファイルではありません");
    if (!isPictureName(path))
        return ja("対応していない形式");
    if (::access(bytes.constData(), R_OK) != 0)
        return ja("読み取る権限がありません");
    return {};
}

} // namespace

QString notAddedNote(const QList<NotAdded> &notAdded)
{
    if (notAdded.isEmpty())
        return {};
    constexpr int kNamed = 3;
    QStringList named;
    for (const NotAdded &n : notAdded.mid(0, kNamed))
        named << ja("%1（%2）").arg(n.name, n.reason);
    QString note = ja("%1件は追加しませんでした: %2").arg(notAdded.size()).arg(named.join(ja("、")));
    if (notAdded.size() > kNamed)
        note += ja(" ほか%1件").arg(notAdded.size() - kNamed);
    return note;
}

DropResult appendDroppedFiles(JobTable &table, const QStringList &paths,
                              const std::function<DropPanelValues()> &readPanel)
{
    DropResult result;
    for (const QString &name : paths) {
        // Looked up before a row is appended, so that a folder named x.jpg or a file
        // that vanished during the drag leaves no empty row behind.
        const QFileInfo info(name);
        if (const QString why = refusal(name); !why.isNull()) {
            const QString shown =
                info.fileName().isEmpty() ? QFileInfo(info.absolutePath()).fileName() : info.fileName();
            result.notAdded.append({shown.isEmpty() ? name : shown, why});
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
