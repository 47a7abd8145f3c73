#include "compose/sourcefile.h"

#include "platform/failure.h"
#include "platform/filename.h"
#include "platform/japanese.h"
#include "platform/oserror.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrovia {

namespace {

std::atomic<qint64> g_bytesRead{0};
std::function<void(qint64)> g_readObserver;
std::atomic<bool> g_observed{false};

constexpr qint64 kHeadBytes = 4096;

QString notRegularReason(mode_t mode)
{
    if (S_ISDIR(mode))
        return ja("フォルダのため画像として読み込めません");
    if (S_ISFIFO(mode))
        return ja("名前付きパイプ（FIFO）のため画像として読み込めません");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return ja("デバイスファイルのため画像として読み込めません");
    if (S_ISSOCK(mode))
        return ja("ソケットのため画像として読み込めません");
    return ja("通常のファイルではないため読み込めません");
}

QString changedReason()
{
    return ja("読み込み中にファイルの大きさが変わりました（ほかのプログラムが書き換えている可能性があります）");
}

} // namespace

struct PictureSource::Impl {
    int fd = -1;
    qint64 size = 0;
    QByteArray memory;
    QByteArray head;
    ~Impl()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

PictureSource PictureSource::open(const QString &path)
{
    if (path.isEmpty())
        throw Failure(ja("ファイルが見つかりません"));
    PictureSource s;
    s.m = std::make_shared<Impl>();
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer
    // forever. It has no effect on the regular files that are read below.
    do {
        s.m->fd = ::open(encodeFileName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (s.m->fd < 0 && errno == EINTR);
    if (s.m->fd < 0) {
        if (errno == ENOENT)
            throw Failure(ja("ファイルが見つかりません"));
        throw Failure(ja("ファイルを開けません（%1）").arg(systemErrorReason(errno)));
    }
    struct stat st { };
    if (::fstat(s.m->fd, &st) != 0)
        throw Failure(ja("ファイルを開けません（%1）").arg(systemErrorReason(errno)));
    if (!S_ISREG(st.st_mode))
        throw Failure(notRegularReason(st.st_mode));
    if (st.st_size == 0)
        throw Failure(ja("画像ファイルが空です（0 バイト）"));
    if (st.st_size > kMaxSourceBytes)
        throw Failure(ja("ファイルが大きすぎます（%1 MB）").arg(st.st_size >> 20));
    s.m->size = st.st_size;
    s.m->head = s.bytes(0, kHeadBytes);
    return s;
}

PictureSource PictureSource::memory(const QByteArray &data)
{
    PictureSource s;
    s.m = std::make_shared<Impl>();
    s.m->memory = data;
    s.m->size = data.size();
    s.m->head = data.left(kHeadBytes);
    return s;
}

qint64 PictureSource::size() const { return m->size; }

qint64 PictureSource::read(qint64 offset, void *to, qint64 n) const
{
    if (offset < 0 || n <= 0 || offset >= m->size)
        return 0;
    n = std::min(n, m->size - offset);
    if (m->fd < 0) {
        std::memcpy(to, m->memory.constData() + offset, size_t(n));
        return n;
    }
    qint64 got = 0;
    while (got < n) {
        const ssize_t r = ::pread(m->fd, static_cast<char *>(to) + got, size_t(n - got), off_t(offset + got));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            throw Failure(ja("ファイルを読み込めません（%1）").arg(systemErrorReason(errno)));
        }
        if (r == 0)
            throw Failure(changedReason());
        got += r;
    }
    const qint64 total = g_bytesRead.fetch_add(got, std::memory_order_relaxed) + got;
    if (g_observed.load(std::memory_order_acquire))
        g_readObserver(total);
    return got;
}

QByteArray PictureSource::bytes(qint64 offset, qint64 n) const
{
    if (offset < 0 || offset >= m->size || n <= 0)
        return {};
    n = std::min(n, m->size - offset);
    if (m->fd < 0)
        return m->memory.mid(offset, n);
    QByteArray out(n, Qt::Uninitialized);
    read(offset, out.data(), n);
    return out;
}

const QByteArray &PictureSource::head() const { return m->head; }

bool PictureSource::grew() const
{
    char extra = 0;
    return m->fd >= 0 && ::pread(m->fd, &extra, 1, off_t(m->size)) > 0;
}

const QByteArray *PictureSource::data() const { return m->fd < 0 ? &m->memory : nullptr; }

SourceWindow::SourceWindow(const PictureSource &source, qint64 window)
    : m_source(source)
    , m_window(std::max<qint64>(window, 16))
{
}

qint64 SourceWindow::read(qint64 offset, void *to, qint64 n)
{
    if (offset < 0 || n <= 0 || offset >= m_source.size())
        return 0;
    n = std::min(n, m_source.size() - offset);
    if (offset < m_at || offset + n > m_at + qint64(m_bytes.size())) {
        m_bytes.resize(size_t(std::min(std::max(m_window, n), m_source.size() - offset)));
        m_at = offset;
        m_source.read(offset, m_bytes.data(), qint64(m_bytes.size()));
    }
    std::memcpy(to, m_bytes.data() + (offset - m_at), size_t(n));
    return n;
}

int SourceWindow::byte(qint64 offset)
{
    std::uint8_t b = 0;
    return read(offset, &b, 1) == 1 ? b : -1;
}

QByteArray readSourceFile(const QString &path)
{
    const PictureSource s = PictureSource::open(path);
    QByteArray data = s.bytes(0, s.size());
    if (s.grew())
        throw Failure(changedReason());
    return data;
}

qint64 sourceBytesRead() { return g_bytesRead.load(std::memory_order_relaxed); }

void setSourceReadObserver(std::function<void(qint64)> observer)
{
    g_observed.store(false, std::memory_order_release);
    g_readObserver = std::move(observer);
    g_observed.store(bool(g_readObserver), std::memory_order_release);
}

} // namespace kestrovia
