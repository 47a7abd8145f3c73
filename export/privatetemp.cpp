#include "export/privatetemp.h"

#include "platform/failure.h"
#include "platform/oserror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrovia {

namespace {

QString ja(const char *text) { return QString::fromUtf8(text); }

QString baseFolder(const QString &base) { return base.isEmpty() ? QDir::tempPath() : base; }

std::mutex g_folderMutex;
std::unique_ptr<QTemporaryDir> g_folder;

// True while a process with this id exists (ours or another user's: EPERM).
bool processRuns(qint64 pid)
{
    if (pid <= 0 || pid > 0x7fffffff)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace

QString privateTempFolder()
{
    const std::lock_guard lock(g_folderMutex);
    if (!g_folder || !g_folder->isValid()) {
        // QTemporaryDir makes the folder with mkdtemp: a fresh random name, mode 0700.
        errno = 0;
        g_folder = std::make_unique<QTemporaryDir>(
            QDir(baseFolder({})).filePath(QStringLiteral("kestrovia-%1-XXXXXX").arg(::getpid())));
        if (!g_folder->isValid()) {
            // mkdtemp's errno; the folder object's own text is English.
            const int err = errno ? errno : EACCES;
            g_folder.reset();
            throw Failure(ja("一時フォルダを作成できません（%1）").arg(systemErrorReason(err)));
        }
    }
    return g_folder->path();
}

QString temporaryBitmapPath(int worker)
{
    return QDir(privateTempFolder()).filePath(QStringLiteral("canvas-%1.bmp").arg(worker));
}

int createPrivateFile(const QString &path)
{
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw Failure(ja("一時ファイルを作成できません（%1）").arg(systemErrorReason(errno)));
    return fd;
}

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
        struct stat st{};
        // lstat: a planted symbolic link is neither followed nor taken for ours.
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || st.st_uid != ::getuid())
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

} // namespace kestrovia
