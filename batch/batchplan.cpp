#include "batch/batchplan.h"

#include "export/outputname.h"
#include "export/programmark.h"
#include "platform/filename.h"
#include "platform/japanese.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestrovia {

namespace {

// A file's identity on this machine: the same file under two names (a symbolic or
// hard link, "..", a second mount) has one identity.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId &) const = default;
};
size_t qHash(const FileId &id, size_t seed = 0) { return qHashMulti(seed, id.device, id.inode); }

std::optional<FileId> fileId(const QString &path)
{
    struct stat st { };
    if (::stat(encodeFileName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

// The output path with its folder resolved, so that two spellings of one folder
// give one key; the file name itself stays as written (a symbolic link there is
// replaced, not followed).
QString resolvedOutput(const QString &output)
{
    const QFileInfo info(output);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + u'/' + info.fileName();
}

} // namespace

int BatchPlan::replacing() const
{
    return int(std::count_if(rows.begin(), rows.end(),
                             [](const PlannedRow &r) { return r.fate == PlannedRow::Fate::Replace; }));
}

QStringList BatchPlan::replacedNames(int max) const
{
    QStringList names;
    for (const PlannedRow &r : rows) {
        if (r.fate == PlannedRow::Fate::Replace && names.size() < max)
            names.append(QFileInfo(r.output).fileName());
    }
    return names;
}

int BatchPlan::notOurs() const
{
    return int(std::count_if(rows.begin(), rows.end(), [](const PlannedRow &r) { return r.notOurs; }));
}

QStringList BatchPlan::notOursNames(int max) const
{
    QStringList names;
    for (const PlannedRow &r : rows) {
        if (r.notOurs && names.size() < max)
            names.append(QFileInfo(r.output).fileName());
    }
    return names;
}

void BatchPlan::skipReplacing()
{
    for (PlannedRow &r : rows) {
        if (r.fate == PlannedRow::Fate::Replace) {
            r.fate = PlannedRow::Fate::Skip;
            r.reason = ja("以前の出力「%1」を上書きしないことを選んだため保存しませんでした")
                           .arg(QFileInfo(r.output).fileName());
        }
    }
}

BatchPlan planBatch(const QList<std::pair<int, JobRow>> &rows)
{
    // Every row's source, whether or not the row itself can be written.
    QSet<FileId> sources;
    for (const auto &[row, job] : rows) {
        if (const auto id = fileId(job.path))
            sources.insert(*id);
    }

    BatchPlan plan;
    QHash<QString, int> firstRowFor; // resolved output -> the row that writes it
    for (const auto &[row, job] : rows) {
        PlannedRow p;
        p.row = row;
        p.job = job;
        p.output = outputPath(job.saveFolder, job.fileName);
        const auto fail = [&p](PlannedRow::Fate fate, const QString &reason) {
            p.fate = fate;
            p.reason = reason;
        };

        const QFileInfo folder(QFileInfo(p.output).absolutePath());
        struct stat st { };
        const bool exists = ::lstat(encodeFileName(p.output).constData(), &st) == 0;
        if (job.saveFolder.trimmed().isEmpty()) {
            // Output is never written anywhere the user did not choose.
            fail(PlannedRow::Fate::Fail, ja("保存先フォルダが指定されていません"));
        } else if (struct stat fs{};
                   ::stat(encodeFileName(folder.absoluteFilePath()).constData(), &fs) != 0 || !S_ISDIR(fs.st_mode)) {
            fail(PlannedRow::Fate::Fail,
                 ja("保存先フォルダ「%1」がありません").arg(QDir::toNativeSeparators(job.saveFolder)));
        } else if (::access(encodeFileName(folder.absoluteFilePath()).constData(), W_OK | X_OK) != 0) {
            // A locked memory card or a mounted disc image is no matter of permissions:
            // say which, so the user knows that choosing another folder is the way out.
            fail(PlannedRow::Fate::Fail,
                 (errno == EROFS ? ja("保存先フォルダ「%1」は読み取り専用の場所のため書き込めません")
                                 : ja("保存先フォルダ「%1」に書き込む権限がありません"))
                     .arg(QDir::toNativeSeparators(job.saveFolder)));
        } else if (exists && S_ISDIR(st.st_mode)) {
            fail(PlannedRow::Fate::Fail, ja("保存先に同じ名前のフォルダがあります"));
        } else if (const auto id = fileId(p.output); id && sources.contains(*id)) {
            fail(PlannedRow::Fate::Skip,
                 ja("出力先「%1」が元の画像のため保存しませんでした").arg(QFileInfo(p.output).fileName()));
        } else if (const QString key = resolvedOutput(p.output); firstRowFor.contains(key)) {
            fail(PlannedRow::Fate::Skip,
                 ja("%1行目と同じファイルに保存されるため保存しませんでした").arg(firstRowFor.value(key)));
        } else if (firstRowFor.insert(key, row); exists && !isKestroviaOutput(p.output)) {
            // Perhaps the original beside the row's source (IMG_0001.JPG for
            // IMG_0001.HEIC), perhaps an output of a release before the mark: which,
            // only the user can tell, so it stays as it is.
            fail(
                PlannedRow::Fate::Skip,
                ja("「%1」は Kestrovia が書き出したファイルではないため、上書きしませんでした。"
                   "元の画像の可能性があります。このファイルを移動または削除するか、別の保存先フォルダを選んでください")
                    .arg(QFileInfo(p.output).fileName()));
            p.notOurs = true;
        } else {
            p.fate = exists ? PlannedRow::Fate::Replace : PlannedRow::Fate::Write;
        }
        plan.rows.append(p);
    }
    return plan;
}

} // namespace kestrovia
