#include "preview/keptpictures.h"

#include "export/export.h"
#include "platform/failure.h"
#include "platform/filename.h"

#include <QSet>

#include <sys/stat.h>

namespace kestrovia {

std::optional<FileIdentity> FileIdentity::of(const QString &path)
{
    struct stat st { };
    if (::stat(encodeFileName(path).constData(), &st) != 0)
        return std::nullopt;
    FileIdentity id;
    id.path = path;
    id.size = st.st_size;
    id.modifiedNs = qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    id.changedNs = qint64(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
    id.inode = st.st_ino;
    id.device = st.st_dev;
    return id;
}

KeptPictures::KeptPictures(qint64 byteLimit, int fileLimit)
    : m_byteLimit(byteLimit)
    , m_fileLimit(fileLimit)
{
}

std::optional<QImage> KeptPictures::canvas(const FileIdentity &file, const QString &job)
{
    const std::lock_guard lock(m_mutex);
    forgetOlder(file);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->file == file && it->job == job) {
            m_entries.splice(m_entries.begin(), m_entries, it);
            return m_entries.front().canvas;
        }
    }
    return std::nullopt;
}

void KeptPictures::keepCanvas(const FileIdentity &file, const QString &job, const QImage &canvas)
{
    const qint64 bytes = canvas.sizeInBytes();
    if (bytes > m_byteLimit)
        return; // would push out everything else and still not fit
    const std::lock_guard lock(m_mutex);
    forgetOlder(file);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->file == file && it->job == job) {
            m_bytes -= it->bytes;
            m_entries.erase(it);
            break;
        }
    }
    m_bytes += bytes;
    m_entries.push_front(Entry{file, job, canvas, bytes});
    while (m_entries.size() > 1 && (m_bytes > m_byteLimit || tooManyFiles())) {
        m_bytes -= m_entries.back().bytes;
        m_entries.pop_back();
    }
}

QString KeptPictures::canvasKey(const Job &job, bool withTurn)
{
    // Every setting that shapes the canvas, by its key, and the size the row's rule
    // gave: a new setting that shapes the picture is in the key by being marked so.
    RowSettings settings = job.settings;
    if (!withTurn)
        settings.turn = 0;
    QStringList parts{job.canvas ? sizeText(*job.canvas) : QString()};
    for (const RowFieldEntry &entry : rowFields()) {
        if (!entry.shapesCanvas)
            continue;
        // The level shapes the picture only through the chroma a JPEG keeps: a new
        // level with the same chroma finds the canvas kept.
        const QString text = entry.field == RowField::Level
                                 ? QString::number(int(planeRoute(job)))
                                 : entry.text(settings);
        parts << QString::fromLatin1(entry.key) + u'=' + text;
    }
    return parts.join(u'|');
}

void KeptPictures::forgetOlder(const FileIdentity &file)
{
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->file.path == file.path && !(it->file == file)) {
            m_bytes -= it->bytes;
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
}

bool KeptPictures::tooManyFiles() const
{
    QSet<QString> paths;
    for (const Entry &e : m_entries)
        paths.insert(e.file.path);
    return paths.size() > m_fileLimit;
}

qint64 KeptPictures::bytes() const
{
    const std::lock_guard lock(m_mutex);
    return m_bytes;
}

int KeptPictures::count() const
{
    const std::lock_guard lock(m_mutex);
    return int(m_entries.size());
}

void KeptPictures::clear()
{
    const std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_bytes = 0;
}

} // namespace kestrovia
