#include "export/safewrite.h"

#include "platform/failure.h"
#include "platform/filename.h"
#include "platform/oserror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrovia {

namespace {

QString ja(const char *text) { return QString::fromUtf8(text); }

// The process's umask, read without changing it (umask() would have to set it,
// which races with other threads creating files).
mode_t currentUmask()
{
    static const mode_t mask = [] {
        if (FILE *f = std::fopen("/proc/self/status", "re")) {
            char line[256];
            unsigned value = 0;
            while (std::fgets(line, sizeof line, f)) {
                if (std::sscanf(line, "Umask: %o", &value) == 1) {
                    std::fclose(f);
                    return mode_t(value);
                }
            }
            std::fclose(f);
        }
        return mode_t(022);
    }();
    return mask;
}

[[noreturn]] void fail(const QString &path, int err)
{
    throw Failure(ja("「%1」を保存できません（%2）").arg(QDir::toNativeSeparators(path), systemErrorReason(err)));
}

} // namespace

void writeFileReplacing(const QString &path, const QByteArray &data)
{
    const QByteArray target = encodeFileName(path);
    QByteArray temp = encodeFileName(QFileInfo(path).absolutePath()) + "/.kestrovia-XXXXXX";

    mode_t mode = 0666 & ~currentUmask();
    struct stat existing { };
    if (::lstat(target.constData(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode))
            fail(path, EISDIR);
        if (S_ISREG(existing.st_mode))
            mode = existing.st_mode & 07777;
    }

    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        fail(path, errno);
    const auto abandon = [&](int err) {
        ::close(fd);
        ::unlink(temp.constData());
        fail(path, err);
    };
    qint64 written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + written, size_t(data.size() - written));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            abandon(errno);
        }
        written += n;
    }
    // On disk before it replaces anything: a crash right after the rename must not
    // leave an empty file where a good one stood.
    if (::fdatasync(fd) != 0 && errno != EINVAL)
        abandon(errno);
    if (::fchmod(fd, mode) != 0)
        abandon(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        fail(path, err);
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        fail(path, err);
    }
}

} // namespace kestrovia
