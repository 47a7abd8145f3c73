#include "batch/batchplan.h"

#include "compose/pictureprobe.h"
#include "export/outputname.h"
#include "export/programmark.h"
#include "platform/failure.h"
#include "platform/filename.h"
#include "platform/japanese.h"
#include "platform/oserror.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMultiHash>
#include <QSet>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

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

// A name as a memory card (FAT, exFAT), NTFS or macOS tells names apart: two names
// with one key are one file there, whatever they are here.
QString nameKey(const QString &name) { return name.normalized(QString::NormalizationForm_C).toCaseFolded(); }

// The names in a folder by their key; nullopt when the folder cannot be listed.
using Listing = std::optional<QMultiHash<QString, QString>>;

Listing listFolder(const QString &folder)
{
    DIR *dir = ::opendir(encodeFileName(folder).constData());
    if (!dir)
        return std::nullopt;
    QMultiHash<QString, QString> names;
    while (const dirent *e = ::readdir(dir)) {
        const QString name = decodeFileName(QByteArray(e->d_name));
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            names.insert(nameKey(name), name);
    }
    ::closedir(dir);
    return names;
}

// The folder as one spelling: its links and ".." resolved where it exists.
QString resolvedFolder(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
}

QString unusableFolder(int err, const QString &folderText)
{
    // A locked memory card or a mounted disc image is no matter of permissions:
    // say which, so the user knows that choosing another folder is the way out.
    return (err == EROFS ? ja("保存先フォルダ「%1」は読み取り専用の場所のため書き込めません")
                         : ja("保存先フォルダ「%1」に書き込む権限がありません"))
        .arg(QDir::toNativeSeparators(folderText));
}

// Why the file `name` at an output is kept, by what its mark says.
QString keptReason(OutputMark mark, const QString &name)
{
    const QString way = ja("このファイルを移動または削除するか、別の保存先フォルダを選んでください");
    switch (mark) {
    case OutputMark::Changed:
        return ja("「%1」は Kestrovia が書き出した後に変更されているため、上書きしませんでした。").arg(name) + way;
    case OutputMark::Unverified:
        return ja("「%1」は以前の版の Kestrovia が書き出したファイルですが、その後に変更されていないことを"
                  "確かめられないため、上書きしませんでした。")
                   .arg(name)
               + way;
    case OutputMark::None:
    case OutputMark::Ours: break;
    }
    // Perhaps the original beside the row's source (IMG_0001.JPG for
    // IMG_0001.HEIC), perhaps an output of a release before the mark: which, only
    // the user can tell, so it stays as it is.
    return ja("「%1」は Kestrovia が書き出したファイルではないため、上書きしませんでした。元の画像の可能性があります。")
               .arg(name)
           + way;
}

// Makes folder and its missing parents; 0, or the errno of the step that failed.
int makeFolder(const QString &folder)
{
    const QString path = QDir::cleanPath(QDir(folder).absolutePath());
    qsizetype at = 0;
    while (at >= 0) {
        at = path.indexOf(u'/', at + 1);
        const QByteArray part = encodeFileName(at < 0 ? path : path.left(at));
        if (::mkdir(part.constData(), 0777) == 0)
            continue;
        const int err = errno;
        struct stat st { };
        if (err != EEXIST || ::stat(part.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return err;
    }
    return 0;
}

class Planner {
public:
    explicit Planner(const QList<std::pair<int, JobRow>> &rows)
    {
        // Every row's source, whether or not the row itself can be written.
        for (const auto &[row, job] : rows) {
            if (const auto id = fileId(job.path))
                m_sources.insert(*id);
        }
    }

    PlannedRow plan(int row, const JobRow &job, BatchPlan &plan);

private:
    // Works out the row's output name by its pattern; false when it fails.
    bool named(PlannedRow &p);
    bool folderUsable(PlannedRow &p, const QString &folder);
    bool sameOutput(PlannedRow &p, const QString &folder, BatchPlan &plan);
    void existingFiles(PlannedRow &p, const QString &folder);
    const Listing &listing(const QString &folder)
    {
        auto it = m_listings.find(folder);
        if (it == m_listings.end())
            it = m_listings.insert(folder, listFolder(folder));
        return *it;
    }

    QSet<FileId> m_sources;
    QHash<QString, Listing> m_listings; // by resolved folder
    QHash<QString, qsizetype> m_firstFor; // output key -> its sameOutputs entry
};

bool Planner::named(PlannedRow &p)
{
    const auto fail = [&p](const QString &reason) {
        p.fate = PlannedRow::Fate::Fail;
        p.reason = reason;
        return false;
    };
    const RowSettings settings = rowSettingsOf(p.job);
    const NamePattern pattern(settings.namePattern);
    const QString extension = u'.' + outputExtension(settings.format);
    p.output = p.job.saveFolder + outputFileName(p.job.fileName, settings.format);
    if (!pattern.error().isEmpty())
        return fail(ja("名前のパターン「%1」を使えません（%2）").arg(pattern.text(), pattern.error()));

    NameFields fields;
    fields.sourceName = p.job.fileName;
    fields.sourceOfOutputKind = sourceOfOutputKind(p.job.fileName, settings.format);
    fields.number = p.row;
    try {
        if (pattern.needsSize()) {
            // The canvas the row is written at: its new size, or its picture's own.
            const Job job = readJob(p.job);
            fields.size = job.canvas ? *job.canvas : probePicture(p.job.path).size;
        }
    } catch (const Failure &f) {
        // What the run would say of the row.
        return fail(f.message());
    }
    if (pattern.needsDate()) {
        fields.date = pictureDateTaken(p.job.path);
        // A picture that does not say when it was taken (a scan, a screenshot, an
        // edited copy) is named by when its file was last changed: still a date,
        // so that names sorted by it stay in order.
        if (!fields.date.isValid())
            fields.date = QFileInfo(p.job.path).lastModified();
        if (!fields.date.isValid())
            return fail(ja("「%1」の日付を読み取れません").arg(p.job.fileName));
    }
    const QString name = pattern.expand(fields) + extension;
    p.output = p.job.saveFolder + name;
    if (const QString reason = invalidNameReason(name); !reason.isEmpty())
        return fail(ja("名前のパターン「%1」で作った出力の名前「%2」は使えません（%3）")
                        .arg(pattern.text(), name, reason));
    return true;
}

bool Planner::folderUsable(PlannedRow &p, const QString &folder)
{
    const auto fail = [&p](const QString &reason) {
        p.fate = PlannedRow::Fate::Fail;
        p.reason = reason;
        return false;
    };
    if (p.job.saveFolder.trimmed().isEmpty()) {
        // Output is never written anywhere the user did not choose.
        return fail(ja("保存先フォルダが指定されていません"));
    }
    struct stat st { };
    if (::stat(encodeFileName(folder).constData(), &st) != 0) {
        if (errno != ENOENT)
            return fail(ja("保存先フォルダ「%1」がありません").arg(QDir::toNativeSeparators(p.job.saveFolder)));
        // The user named it: made once the user agrees, before the run.
        p.missingFolder = QDir::cleanPath(folder);
        return true;
    }
    if (!S_ISDIR(st.st_mode))
        return fail(ja("保存先フォルダ「%1」がありません").arg(QDir::toNativeSeparators(p.job.saveFolder)));
    if (::access(encodeFileName(folder).constData(), W_OK | X_OK) != 0)
        return fail(unusableFolder(errno, p.job.saveFolder));
    return true;
}

bool Planner::sameOutput(PlannedRow &p, const QString &folder, BatchPlan &plan)
{
    const QString key = resolvedFolder(folder) + u'/' + nameKey(QFileInfo(p.output).fileName());
    const auto first = m_firstFor.constFind(key);
    if (first == m_firstFor.cend()) {
        m_firstFor.insert(key, plan.sameOutputs.size());
        plan.sameOutputs.append({QFileInfo(p.output).fileName(), {int(plan.rows.size())}, true});
        return false;
    }
    BatchPlan::SameOutput &group = plan.sameOutputs[*first];
    const PlannedRow &firstRow = plan.rows[group.rows.first()];
    group.rows.append(int(plan.rows.size()));
    const auto source = fileId(p.job.path);
    group.sameSource = group.sameSource && source && source == fileId(firstRow.job.path);
    p.sameAs = firstRow.row;
    p.fate = PlannedRow::Fate::Skip;
    p.reason = ja("%1行目と同じファイル「%2」に保存されるため保存しませんでした")
                   .arg(firstRow.row)
                   .arg(QFileInfo(firstRow.output).fileName());
    return true;
}

void Planner::existingFiles(PlannedRow &p, const QString &folder)
{
    const QString name = QFileInfo(p.output).fileName();
    // The file named so, and those whose names differ from it only in case.
    QStringList names;
    if (const Listing &l = listing(resolvedFolder(folder)))
        names = l->values(nameKey(name));
    else if (struct stat st{}; ::lstat(encodeFileName(p.output).constData(), &st) == 0)
        names = {name};
    names.sort();
    if (names.removeAll(name) > 0)
        names.prepend(name);

    for (const QString &existing : std::as_const(names)) {
        const QString path = folder + u'/' + existing;
        // On a memory card the two names are one file: say so, or the reason
        // would name a file the user does not see as the output.
        const QString twin = existing == name ? QString()
                                              : ja("（出力「%1」とは大文字・小文字などだけが違う名前で、"
                                                   "メモリーカードなどでは同じファイルになります）")
                                                    .arg(name);
        p.existing = path;
        struct stat st { };
        if (::lstat(encodeFileName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            p.fate = PlannedRow::Fate::Fail;
            p.reason = ja("保存先に同じ名前のフォルダがあります（%1）").arg(existing) + twin;
            return;
        }
        if (const auto id = fileId(path); id && m_sources.contains(*id)) {
            p.fate = PlannedRow::Fate::Skip;
            p.reason = ja("出力先「%1」が元の画像のため保存しませんでした").arg(existing) + twin;
            return;
        }
        if (const OutputMark mark = readOutputMark(path); mark != OutputMark::Ours) {
            p.fate = PlannedRow::Fate::Skip;
            p.reason = keptReason(mark, existing) + twin;
            p.notOurs = true;
            return;
        }
    }
    if (names.isEmpty()) {
        p.existing.clear();
        p.fate = PlannedRow::Fate::Write;
        return;
    }
    // Every one is an unchanged earlier output: the one named as the output, or
    // else its twin, is the file replaced, so that one file stays where a memory
    // card would hold one.
    p.existing = folder + u'/' + names.first();
    p.output = p.existing;
    p.fate = PlannedRow::Fate::Replace;
}

PlannedRow Planner::plan(int row, const JobRow &job, BatchPlan &plan)
{
    PlannedRow p;
    p.row = row;
    p.job = job;
    if (!named(p))
        return p;
    const QString folder = QFileInfo(p.output).absolutePath();
    if (!folderUsable(p, folder) || sameOutput(p, folder, plan))
        return p;
    if (p.missingFolder.isEmpty())
        existingFiles(p, folder);
    return p;
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
            names.append(QFileInfo(r.existing).fileName());
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

QStringList BatchPlan::missingFolders() const
{
    QStringList folders;
    for (const PlannedRow &r : rows) {
        if (!r.missingFolder.isEmpty() && !folders.contains(r.missingFolder))
            folders.append(r.missingFolder);
    }
    return folders;
}

void BatchPlan::createMissingFolders()
{
    QHash<QString, int> failed;
    for (const QString &folder : missingFolders()) {
        if (const int err = makeFolder(folder))
            failed.insert(folder, err);
    }
    for (PlannedRow &r : rows) {
        if (r.missingFolder.isEmpty())
            continue;
        if (const auto err = failed.constFind(r.missingFolder);
            err != failed.cend() && r.fate != PlannedRow::Fate::Skip) {
            r.fate = PlannedRow::Fate::Fail;
            r.reason = ja("保存先フォルダ「%1」を作成できません（%2）")
                           .arg(QDir::toNativeSeparators(r.missingFolder), systemErrorReason(*err));
        }
        r.missingFolder.clear();
    }
}

BatchPlan planBatch(const QList<std::pair<int, JobRow>> &rows)
{
    BatchPlan plan;
    Planner planner(rows);
    for (const auto &[row, job] : rows)
        plan.rows.append(planner.plan(row, job, plan));
    // Only the outputs that more than one row writes.
    plan.sameOutputs.removeIf([](const BatchPlan::SameOutput &s) { return s.rows.size() < 2; });
    return plan;
}

} // namespace kestrovia
