#include "export/safewrite.h"

#include "export/programmark.h"
#include "platform/failure.h"
#include "platform/filename.h"
#include "platform/japanese.h"
#include "platform/oserror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrovia {

namespace {

std::atomic<bool> namedOnly{false};
std::atomic<bool> checkedRenamesOnly{false};
std::atomic<bool> renameFallback{false};

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

// A hidden name for a file on its way into place, carrying the process id so that a
// later run can tell a leftover of a killed process from a write in progress.
QByteArray tempName()
{
    static const char chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = ".kestrovia-" + QByteArray::number(qint64(::getpid())) + '-';
    for (int i = 0; i < 6; ++i)
        name += chars[QRandomGenerator::global()->bounded(int(sizeof chars) - 1)];
    return name;
}

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

class OutputWrite {
public:
    OutputWrite(const QString &path, WriteMode mode)
        : m_path(path)
        , m_name(encodeFileName(QFileInfo(path).fileName()))
        , m_mode(mode)
    {
        m_folder.fd =
            ::open(encodeFileName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_folder.fd < 0)
            fail(errno);
    }
    ~OutputWrite()
    {
        // Whatever went wrong, no named temporary stays behind.
        if (!m_temp.isEmpty())
            ::unlinkat(m_folder.fd, m_temp.constData(), 0);
    }

    void run(const QByteArray &data)
    {
        mode_t mode = 0666 & ~currentUmask();
        struct stat existing { };
        if (::fstatat(m_folder.fd, m_name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(existing.st_mode))
                fail(EISDIR);
            if (S_ISREG(existing.st_mode) && m_mode == WriteMode::Replace)
                mode = existing.st_mode & 07777;
        } else if (errno == ENAMETOOLONG) {
            fail(errno);
        }
        open();
        write(data);
        // On disk before it takes the name: a crash right after must not leave an
        // empty file where a good one stood.
        if (::fdatasync(m_file.fd) != 0 && errno != EINVAL)
            fail(errno);
        // A file system without Unix modes (FAT through FUSE; vfat refusing a mode
        // its mount options cannot show) keeps its own: the output is no less whole.
        if (::fchmod(m_file.fd, mode) != 0 && errno != ENOSYS && errno != EOPNOTSUPP && errno != EPERM)
            fail(errno);
        markOutputFile(m_file.fd);
        place();
        // The new name on disk too, before the row is reported written.
        ::fsync(m_folder.fd);
    }

private:
    [[noreturn]] void fail(int err) const { kestrovia::fail(m_path, err); }

    void open()
    {
        // An unnamed file leaves nothing behind if the process is killed meanwhile.
        if (!namedOnly && !checkedRenamesOnly) {
            m_file.fd = ::openat(m_folder.fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
            if (m_file.fd >= 0) {
                m_unnamed = true;
                return;
            }
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
                fail(errno);
        }
        for (int attempt = 0; m_file.fd < 0; ++attempt) {
            m_temp = tempName();
            m_file.fd = ::openat(m_folder.fd, m_temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (m_file.fd < 0) {
                const int err = errno;
                m_temp.clear();
                if (err != EEXIST || attempt > 100)
                    fail(err);
            }
        }
    }

    void write(const QByteArray &data)
    {
        qint64 written = 0;
        while (written < data.size()) {
            const ssize_t n = ::write(m_file.fd, data.constData() + written, size_t(data.size() - written));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                fail(errno);
            }
            written += n;
        }
    }

    // Gives the unnamed file a name in the folder; linkat never replaces one.
    int linkUnnamed(const QByteArray &name) const
    {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_file.fd);
        if (::linkat(AT_FDCWD, self.constData(), m_folder.fd, name.constData(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        if (errno != ENOENT)
            return errno;
        // No /proc: the direct form, which needs the privilege to link by descriptor.
        return ::linkat(m_file.fd, "", m_folder.fd, name.constData(), AT_EMPTY_PATH) == 0 ? 0 : errno;
    }

    void place()
    {
        if (m_unnamed && m_mode == WriteMode::New) {
            if (const int err = linkUnnamed(m_name)) {
                if (err == EEXIST)
                    throw NameTaken(m_path);
                fail(err);
            }
            return;
        }
        if (m_unnamed) {
            // A rename is the only way to replace in one step: the file needs a
            // name of its own for that moment.
            for (int attempt = 0;; ++attempt) {
                m_temp = tempName();
                const int err = linkUnnamed(m_temp);
                if (!err)
                    break;
                m_temp.clear();
                if (err != EEXIST || attempt > 100)
                    fail(err);
            }
        }
        if (m_mode == WriteMode::Replace) {
            if (::renameat(m_folder.fd, m_temp.constData(), m_folder.fd, m_name.constData()) != 0)
                fail(errno);
            m_temp.clear();
            return;
        }
        if (checkedRenamesOnly) {
            checkedRename();
            return;
        }
        if (!renameFallback) {
            if (::renameat2(m_folder.fd, m_temp.constData(), m_folder.fd, m_name.constData(), RENAME_NOREPLACE) == 0) {
                m_temp.clear();
                return;
            }
            if (errno == EEXIST)
                throw NameTaken(m_path);
            if (errno != EINVAL && errno != ENOSYS)
                fail(errno);
        }
        // A file system without RENAME_NOREPLACE: a hard link never replaces either.
        if (::linkat(m_folder.fd, m_temp.constData(), m_folder.fd, m_name.constData(), 0) != 0) {
            if (errno == EEXIST)
                throw NameTaken(m_path);
            if (errno != EPERM && errno != ENOSYS && errno != EOPNOTSUPP)
                fail(errno);
            checkedRename();
        }
    }

    // Neither (FUSE file systems such as sshfs, or a memory card mounted through
    // FUSE): the name is looked up, then taken by a rename. Only a file made under
    // that name in the moment between would be lost; nothing narrower exists there,
    // and failing every output would leave the user no way to write to it.
    void checkedRename()
    {
        struct stat st { };
        if (::fstatat(m_folder.fd, m_name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            throw NameTaken(m_path);
        if (errno != ENOENT)
            fail(errno);
        if (::renameat(m_folder.fd, m_temp.constData(), m_folder.fd, m_name.constData()) != 0)
            fail(errno);
        m_temp.clear();
    }

    QString m_path;
    QByteArray m_name;
    WriteMode m_mode;
    Fd m_folder;
    Fd m_file;
    bool m_unnamed = false;
    QByteArray m_temp; // the named temporary while there is one
};

} // namespace

NameTaken::NameTaken(const QString &path)
    : Failure(ja("「%1」は確認の後に保存先に現れたファイルのため、上書きせずに残しました（上書きは確認されていません）")
                  .arg(QFileInfo(path).fileName()))
{
}

void writeOutputFile(const QString &path, const QByteArray &data, WriteMode mode) { OutputWrite(path, mode).run(data); }

void useNamedTemporaries(bool named) { namedOnly = named; }

void useCheckedRenames(bool checked) { checkedRenamesOnly = checked; }

void useRenameFallback(bool fallback) { renameFallback = fallback; }

} // namespace kestrovia
