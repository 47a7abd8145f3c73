#include "joblist/dropimport.h"

#include "compose/pictureformat.h"
#include "compose/pictureprobe.h"
#include "joblist/jobtable.h"
#include "platform/failure.h"
#include "platform/filename.h"
#include "platform/japanese.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrovia {

namespace {

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

namespace {

// File-manager order: runs of digits compare by their value (IMG_9 before
// IMG_10), the rest without regard to letter case, then with it.
int naturalCompare(const QString &a, const QString &b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            // Longer runs are larger once leading zeros are set aside.
            QStringView x = QStringView(a).mid(i, ei - i), y = QStringView(b).mid(j, ej - j);
            while (x.size() > 1 && x.front() == u'0')
                x = x.mid(1);
            while (y.size() > 1 && y.front() == u'0')
                y = y.mid(1);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (const int c = x.compare(y); c != 0)
                return c;
            i = ei;
            j = ej;
            continue;
        }
        if (const int c = QString::compare(a.mid(i, 1), b.mid(j, 1), Qt::CaseInsensitive); c != 0)
            return c;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return QString::compare(a, b, Qt::CaseSensitive);
}

// A folder's pictures, then its sub-folders', in name order, each name as the file
// system holds it. Counts the files left out (other types, unreadable) in skipped.
void collectPictures(const QString &folder, QStringList &pictures, int &skipped, int limit)
{
    DIR *dir = ::opendir(encodeFileName(folder).constData());
    if (!dir)
        return;
    QStringList files, folders;
    while (const dirent *entry = ::readdir(dir)) {
        const QString name = decodeFileName(entry->d_name);
        if (name.startsWith(u'.'))
            continue; // hidden, and "." and ".."
        const QString path = folder + u'/' + name;
        struct stat st { };
        if (::lstat(encodeFileName(path).constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            folders << path; // a linked folder is not entered: it could lead back here
        else if (refusal(path).isNull())
            files << path;
        else
            ++skipped;
    }
    ::closedir(dir);
    const auto byName = [](const QString &a, const QString &b) { return naturalCompare(a, b) < 0; };
    std::sort(files.begin(), files.end(), byName);
    std::sort(folders.begin(), folders.end(), byName);
    for (const QString &f : files) {
        if (pictures.size() >= limit) {
            ++skipped;
            continue;
        }
        pictures << f;
    }
    for (const QString &f : folders)
        collectPictures(f, pictures, skipped, limit);
}

} // namespace

DropResult appendDroppedFiles(JobTable &table, const QStringList &paths, const std::function<RowSettings()> &settings)
{
    DropResult result;
    QStringList pictures;
    for (const QString &name : paths) {
        // Looked up before a row is appended, so that a folder named x.jpg or a file
        // that vanished during the drag leaves no empty row behind.
        const QFileInfo info(name);
        const QString why = refusal(name);
        if (why == ja("フォルダ")) {
            const QString folder = QFileInfo(info.absoluteFilePath()).absoluteFilePath();
            int skipped = 0;
            const qsizetype before = pictures.size();
            collectPictures(QDir::cleanPath(folder), pictures, skipped, kMaxRowsPerDrop);
            const QString shown = QFileInfo(QDir::cleanPath(folder)).fileName();
            if (pictures.size() == before && skipped == 0)
                result.notAdded.append({shown, ja("画像がないフォルダ")});
            else if (skipped > 0)
                result.notAdded.append({shown, ja("画像ではないファイルなど%1件").arg(skipped)});
            continue;
        }
        if (!why.isNull()) {
            const QString shown =
                info.fileName().isEmpty() ? QFileInfo(info.absolutePath()).fileName() : info.fileName();
            result.notAdded.append({shown.isEmpty() ? name : shown, why});
            continue;
        }
        if (pictures.size() >= kMaxRowsPerDrop) {
            result.notAdded.append({info.fileName(), ja("一度に追加できる%1件を超えています").arg(kMaxRowsPerDrop)});
            continue;
        }
        pictures << info.absoluteFilePath();
    }

    for (const QString &path : pictures) {
        JobRow job;
        job.fileName = QFileInfo(path).fileName();
        job.path = path;
        // Every row shows its picture's size from the start; a header that cannot be
        // read leaves it to the row's showing or its conversion to say why.
        try {
            job.originalSize = sizeText(probePicture(path).size);
        } catch (const Failure &) {
        }
        writeRowSettings(job, settings());
        table.appendJob(job);
        ++result.appended;
    }
    return result;
}

} // namespace kestrovia
