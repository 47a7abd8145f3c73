#include "preview/keptpictures.h"

#include "platform/failure.h"
#include "platform/filename.h"

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

SourceUse SourceUse::of(const Job &job, bool withTurn)
{
    SourceUse use;
    use.canvas = job.canvas;
    use.keepsAspect = job.keepAspect;
    const int code = job.rotation;
    use.quarterTurn = withTurn && (code == 90 || code == 270);
    return use;
}

KeptPictures::KeptPictures(qint64 byteLimit, int countLimit)
    : m_byteLimit(byteLimit)
    , m_countLimit(countLimit)
{
}

namespace {

// A decode in full: the picture's every pixel, nothing averaged away.
bool isFull(const DecodedPicture &p) { return p.image.size() == p.size && p.extent == QRectF(p.image.rect()); }

// Whether a picture reduced for `decodedFor` keeps enough detail for `use`. How far
// the decoder reduces depends on the size the picture is drawn at, and only ever
// grows as that size shrinks; the drawn size grows with the canvas in both fits.
bool serves(const SourceUse &decodedFor, const SourceUse &use)
{
    if (decodedFor.keepsAspect != use.keepsAspect || decodedFor.quarterTurn != use.quarterTurn)
        return false;
    if (!decodedFor.canvas || !use.canvas)
        return false;
    return use.canvas->width() <= decodedFor.canvas->width() && use.canvas->height() <= decodedFor.canvas->height();
}

} // namespace

const KeptPictures::Entry *KeptPictures::touch(const FileIdentity &file,
                                               const std::function<bool(const Entry &)> &matches)
{
    forgetOlder(file);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->file == file && matches(*it)) {
            m_entries.splice(m_entries.begin(), m_entries, it);
            return &m_entries.front();
        }
    }
    return nullptr;
}

std::optional<DecodedPicture> KeptPictures::source(const FileIdentity &file, const SourceUse &use)
{
    const std::lock_guard lock(m_mutex);
    const Entry *e =
        touch(file, [&](const Entry &e) { return e.job.isEmpty() && (isFull(e.source) || serves(e.use, use)); });
    return e ? std::optional(e->source) : std::nullopt;
}

void KeptPictures::keepSource(const FileIdentity &file, const SourceUse &use, const DecodedPicture &picture)
{
    Entry e;
    e.file = file;
    e.use = use;
    e.source = picture;
    e.bytes = picture.image.sizeInBytes();
    keep(std::move(e));
}

std::optional<QImage> KeptPictures::canvas(const FileIdentity &file, const QString &job)
{
    const std::lock_guard lock(m_mutex);
    const Entry *e = touch(file, [&](const Entry &e) { return e.job == job; });
    return e ? std::optional(e->canvas) : std::nullopt;
}

void KeptPictures::keepCanvas(const FileIdentity &file, const QString &job, const QImage &canvas)
{
    Entry e;
    e.file = file;
    e.job = job;
    e.canvas = canvas;
    e.bytes = canvas.sizeInBytes();
    keep(std::move(e));
}

QString KeptPictures::canvasKey(const Job &job, bool withTurn)
{
    // Every setting that shapes the canvas, by its key, and the size the row's rule
    // gave: a new setting that shapes the picture is in the key by being marked so.
    RowSettings settings = job.settings;
    if (!withTurn)
        settings.turn = 0;
    QStringList parts{job.canvas ? sizeText(*job.canvas) : QString()};
    for (const RowFieldSpec &spec : rowFields()) {
        if (spec.shapesCanvas)
            parts << QString::fromLatin1(spec.key) + u'=' + spec.text(settings);
    }
    return parts.join(u'|');
}

void KeptPictures::keep(Entry entry)
{
    if (entry.bytes > m_byteLimit)
        return; // would push out everything else and still not fit
    const std::lock_guard lock(m_mutex);
    forgetOlder(entry.file);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        const bool same = it->file == entry.file && it->job == entry.job
                          && (!entry.job.isEmpty() || it->source.image.size() == entry.source.image.size());
        if (same) {
            m_bytes -= it->bytes;
            m_entries.erase(it);
            break;
        }
    }
    m_bytes += entry.bytes;
    m_entries.push_front(std::move(entry));
    while (m_entries.size() > 1 && (m_bytes > m_byteLimit || int(m_entries.size()) > m_countLimit)) {
        m_bytes -= m_entries.back().bytes;
        m_entries.pop_back();
    }
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

void KeptPictures::makeRoom(qint64 bytes)
{
    const std::lock_guard lock(m_mutex);
    while (!m_entries.empty() && m_bytes + bytes > m_byteLimit) {
        m_bytes -= m_entries.back().bytes;
        m_entries.pop_back();
    }
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
