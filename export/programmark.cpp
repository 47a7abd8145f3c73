#include "export/programmark.h"

#include "compose/byteview.h"
#include "platform/filename.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace kestrovia {

namespace {

constexpr char kProgram[] = "Kestrovia";
// Segments looked at before the answer is "not ours": our outputs carry the mark in
// the first APP1 segments, right after the encoder's APP0.
constexpr int kSegmentsRead = 8;

bool startsWithProgram(const char *text, qint64 size)
{
    const qint64 n = qint64(sizeof kProgram) - 1;
    return size > n && std::memcmp(text, kProgram, size_t(n)) == 0 && text[n] == ' ';
}

// Reads exactly n bytes at offset; false on a short read or an error.
bool readAt(int fd, qint64 offset, void *into, qint64 n)
{
    auto *p = static_cast<char *>(into);
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, size_t(n), off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        p += got;
        offset += got;
        n -= got;
    }
    return true;
}

// EXIF Software (0x0131) in the first directory of a TIFF structure.
bool exifMarked(const ByteView &t)
{
    const bool le = t.is(0, "II*\0", 4);
    if (!le && !t.is(0, "MM\0*", 4))
        return false;
    const auto u16 = [&](qint64 at) { return le ? t.le16(at) : t.be16(at); };
    const auto u32 = [&](qint64 at) { return le ? t.le32(at) : t.be32(at); };
    const qint64 ifd = u32(4);
    if (!t.has(ifd, 2))
        return false;
    const int entries = int(u16(ifd));
    for (int e = 0; e < entries; ++e) {
        const qint64 at = ifd + 2 + qint64(e) * 12;
        if (!t.has(at, 12))
            return false;
        if (u16(at) != 0x0131)
            continue;
        const qint64 count = u32(at + 4);
        const qint64 valueAt = count <= 4 ? at + 8 : qint64(u32(at + 8));
        return u16(at + 2) == 2 && t.has(valueAt, count)
               && startsWithProgram(reinterpret_cast<const char *>(t.p + valueAt), count);
    }
    return false;
}

// xmp:CreatorTool, as an attribute (CreatorTool="...") or an element (<xmp:CreatorTool>...).
bool xmpMarked(const QByteArray &packet)
{
    for (qsizetype at = packet.indexOf("CreatorTool"); at >= 0; at = packet.indexOf("CreatorTool", at + 1)) {
        qsizetype v = at + qsizetype(sizeof "CreatorTool") - 1;
        while (v < packet.size()
               && (packet[v] == ' ' || packet[v] == '=' || packet[v] == '"' || packet[v] == '\'' || packet[v] == '>'))
            ++v;
        if (startsWithProgram(packet.constData() + v, packet.size() - v))
            return true;
    }
    return false;
}

bool segmentsMarked(int fd)
{
    unsigned char head[4];
    if (!readAt(fd, 0, head, 2) || head[0] != 0xFF || head[1] != 0xD8)
        return false;
    qint64 at = 2;
    for (int segment = 0; segment < kSegmentsRead;) {
        if (!readAt(fd, at, head, 4) || head[0] != 0xFF)
            return false;
        const int marker = head[1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        // Metadata comes before the frame: any other segment ends the search.
        if (!((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE))
            return false;
        const qint64 length = (qint64(head[2]) << 8) | head[3];
        if (length < 2)
            return false;
        if (marker == 0xE1) {
            QByteArray payload(length - 2, Qt::Uninitialized);
            if (!readAt(fd, at + 4, payload.data(), payload.size()))
                return false;
            const ByteView b = ByteView::of(payload);
            static const char xmpHeader[] = "http://ns.adobe.com/xap/1.0/";
            if (b.is(0, "Exif\0\0", 6) && exifMarked({b.p + 6, b.size - 6}))
                return true;
            if (b.is(0, xmpHeader, sizeof xmpHeader) && xmpMarked(payload))
                return true;
        }
        at += 2 + length;
        ++segment;
    }
    return false;
}

} // namespace

QString programMark()
{
    return QStringLiteral("%1 %2").arg(QLatin1String(kProgram), QStringLiteral(KESTROVIA_VERSION));
}

void markOutputFile(int fd)
{
    const QByteArray mark = programMark().toUtf8();
    // Not every file system keeps user attributes (FAT cards, some network shares):
    // the marks in the file itself stand alone there.
    (void)::fsetxattr(fd, kOutputAttribute, mark.constData(), size_t(mark.size()), 0);
}

bool isKestroviaOutput(const QString &path)
{
    const int fd = ::open(encodeFileName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st { };
    bool marked = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char value[64];
        const ssize_t n = ::fgetxattr(fd, kOutputAttribute, value, sizeof value);
        marked = (n > 0 && startsWithProgram(value, n)) || segmentsMarked(fd);
    }
    ::close(fd);
    return marked;
}

} // namespace kestrovia
