#include "export/staletemp.h"

#include "platform/filename.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrovia {

namespace {

QString baseFolder(const QString &base) { return base.isEmpty() ? QDir::tempPath() : base; }

// True while a process with this id exists (ours or another user's: EPERM).
bool processRuns(qint64 pid)
{
    if (pid <= 0 || pid > 0x7fffffff)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace

int removeStaleTempFiles(const QString &base)
{
    static const QRegularExpression folderName(QStringLiteral("^kestrovia-(\\d+)-[A-Za-z0-9]{6}$"));
    static const QRegularExpression bitmapName(QStringLiteral("^kestrovia-(\\d+)\\.bmp$"));
    const QDir dir(baseFolder(base));
    int removed = 0;
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const QRegularExpressionMatch folder = folderName.match(name);
        const QRegularExpressionMatch bitmap = bitmapName.match(name);
        if (!folder.hasMatch() && !bitmap.hasMatch())
            continue;
        const qint64 pid = (folder.hasMatch() ? folder : bitmap).captured(1).toLongLong();
        if (pid == ::getpid() || processRuns(pid))
            continue;
        const QString path = dir.filePath(name);
        struct stat st { };
        // lstat: a planted symbolic link is neither followed nor taken for ours.
        if (::lstat(encodeFileName(path).constData(), &st) != 0 || st.st_uid != ::getuid())
            continue;
        if (folder.hasMatch() && S_ISDIR(st.st_mode)) {
            if (QDir(path).removeRecursively())
                ++removed;
        } else if (bitmap.hasMatch() && S_ISREG(st.st_mode)) {
            if (QFile::remove(path))
                ++removed;
        }
    }
    return removed;
}

int removeStaleOutputTemps(const QString &folder)
{
    static const QRegularExpression withPid(QStringLiteral("^\\.kestrovia-(\\d+)-[A-Za-z0-9]{6}$"));
    static const QRegularExpression older(QStringLiteral("^\\.kestrovia-[A-Za-z0-9]{6}$"));
    constexpr time_t kIdleSeconds = 600;
    const QDir dir(folder);
    int removed = 0;
    const QStringList names =
        dir.entryList({QStringLiteral(".kestrovia-*")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        const QRegularExpressionMatch current = withPid.match(name);
        if (current.hasMatch()) {
            const qint64 pid = current.captured(1).toLongLong();
            if (pid == ::getpid() || processRuns(pid))
                continue;
        } else if (!older.match(name).hasMatch()) {
            continue;
        }
        const QByteArray path = encodeFileName(dir.filePath(name));
        struct stat st { };
        if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid())
            continue;
        if (!current.hasMatch() && std::time(nullptr) - st.st_mtime < kIdleSeconds)
            continue;
        if (::unlink(path.constData()) == 0)
            ++removed;
    }
    return removed;
}

} // namespace kestrovia
