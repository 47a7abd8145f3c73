#include "export/export.h"

#include "export/converter.h"
#include "export/outputname.h"
#include "export/privatetemp.h"
#include "platform/failure.h"
#include "platform/oserror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdint>
#include <vector>

#include <unistd.h>

namespace kestrovia {

namespace {

QString tr(const char *text) { return QString::fromUtf8(text); }

void putLe16(std::uint8_t *p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

void putLe32(std::uint8_t *p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}

// Removes the temporary bitmap however the export ends.
struct TemporaryFile {
    QString path;
    ~TemporaryFile() { QFile::remove(path); }
};

} // namespace

void writeBitmap(const QImage &input, const QString &path)
{
    if (input.isNull())
        throw Failure(tr("書き出す画像がありません"));
    const QImage image = input.format() == QImage::Format_RGB32 ? input
                                                                 : input.convertToFormat(QImage::Format_RGB32);
    const int w = image.width();
    const int h = image.height();
    const std::uint32_t stride = (std::uint32_t(w) * 3 + 3) & ~3u;
    const std::uint64_t pixelBytes = std::uint64_t(stride) * std::uint32_t(h);
    if (pixelBytes + 54 > 0xFFFFFFFFull)
        throw Failure(tr("画像が大きすぎてビットマップに書き出せません"));

    std::uint8_t header[54] = {};
    header[0] = 'B';
    header[1] = 'M';
    putLe32(header + 2, std::uint32_t(54 + pixelBytes));
    putLe32(header + 10, 54);
    putLe32(header + 14, 40);
    putLe32(header + 18, std::uint32_t(w));
    putLe32(header + 22, std::uint32_t(h)); // positive: bottom-up rows
    putLe16(header + 26, 1);
    putLe16(header + 28, 24);
    putLe32(header + 34, std::uint32_t(pixelBytes));
    putLe32(header + 38, 3780); // 96 dpi
    putLe32(header + 42, 3780);

    const int fd = createPrivateFile(path);
    const auto failWrite = [&](int err) {
        ::close(fd);
        QFile::remove(path);
        throw Failure(tr("一時ビットマップを書き込めません（%1）").arg(systemErrorReason(err)));
    };
    const auto put = [&](const std::uint8_t *p, qint64 n) {
        while (n > 0) {
            const ssize_t w = ::write(fd, p, size_t(n));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                failWrite(w < 0 ? errno : ENOSPC);
            p += w;
            n -= w;
        }
    };
    put(header, sizeof header);
    // Rows are converted in batches so that a large canvas needs no second copy.
    constexpr int kRowsPerWrite = 64;
    std::vector<std::uint8_t> buffer(std::size_t(stride) * kRowsPerWrite, 0);
    for (int y0 = h - 1; y0 >= 0; y0 -= kRowsPerWrite) {
        int rows = 0;
        for (int y = y0; y >= 0 && rows < kRowsPerWrite; --y, ++rows) {
            const auto *s = reinterpret_cast<const std::uint32_t *>(image.constScanLine(y));
            std::uint8_t *d = buffer.data() + std::size_t(rows) * stride;
            for (int x = 0; x < w; ++x) {
                d[3 * x] = std::uint8_t(s[x]);
                d[3 * x + 1] = std::uint8_t(s[x] >> 8);
                d[3 * x + 2] = std::uint8_t(s[x] >> 16);
            }
        }
        put(buffer.data(), qint64(stride) * rows);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        QFile::remove(path);
        throw Failure(tr("一時ビットマップを書き込めません（%1）").arg(systemErrorReason(err)));
    }
}

QString exportJob(const QImage &canvas, const JobRow &job, int worker)
{
    // Output is never written anywhere the user did not choose: an empty folder
    // text would name the working folder.
    if (job.saveFolder.trimmed().isEmpty())
        throw Failure(tr("保存先フォルダが指定されていません"));
    const QString output = outputPath(job.saveFolder, job.fileName);
    const int quality = jpegQuality(job.level());

    TemporaryFile temporary{temporaryBitmapPath(worker)};
    // A bitmap an earlier failure could not remove is ours alone (private folder).
    QFile::remove(temporary.path);
    writeBitmap(canvas, temporary.path);
    BmpToJpegFromFileName(temporary.path, output, quality);
    // The output is written: a bitmap that cannot be removed now is left for the
    // private folder's own removal at exit, and the row still counts as saved.
    return output;
}

} // namespace kestrovia
