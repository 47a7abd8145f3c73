#include "compose/sourcefile.h"

#include "platform/failure.h"
#include "platform/filename.h"
#include "platform/oserror.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrovia {

namespace {

QString ja(const char *text) { return QString::fromUtf8(text); }

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

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

} // namespace

QByteArray readSourceFile(const QString &path)
{
    if (path.isEmpty())
        throw Failure(ja("ファイルが見つかりません"));
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer
    // forever. It has no effect on the regular files that are read below.
    Fd file;
    do {
        file.fd = ::open(encodeFileName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (file.fd < 0 && errno == EINTR);
    if (file.fd < 0) {
        if (errno == ENOENT)
            throw Failure(ja("ファイルが見つかりません"));
        throw Failure(ja("ファイルを開けません（%1）").arg(systemErrorReason(errno)));
    }
    struct stat st { };
    if (::fstat(file.fd, &st) != 0)
        throw Failure(ja("ファイルを開けません（%1）").arg(systemErrorReason(errno)));
    if (!S_ISREG(st.st_mode))
        throw Failure(notRegularReason(st.st_mode));
    if (st.st_size == 0)
        throw Failure(ja("画像ファイルが空です（0 バイト）"));
    if (st.st_size > kMaxSourceBytes)
        throw Failure(ja("ファイルが大きすぎます（%1 MB）").arg(st.st_size >> 20));

    // One byte more than announced, to notice a file that grew meanwhile.
    const qint64 expected = st.st_size;
    QByteArray data(expected + 1, Qt::Uninitialized);
    qint64 got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(file.fd, data.data() + got, size_t(data.size() - got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw Failure(ja("ファイルを読み込めません（%1）").arg(systemErrorReason(errno)));
        }
        if (n == 0)
            break;
        got += n;
    }
    if (got != expected)
        throw Failure(
            ja("読み込み中にファイルの大きさが変わりました（ほかのプログラムが書き換えている可能性があります）"));
    data.truncate(got);
    return data;
}

} // namespace kestrovia
