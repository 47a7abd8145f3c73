#include "export/programmark.h"

#include "compose/byteview.h"
#include "export/containers.h"
#include "platform/filename.h"

#include <QCryptographicHash>
#include <QList>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <zlib.h>

namespace kestrovia {

namespace {

constexpr char kProgram[] = "Kestrovia";
// Segments looked at before the answer is "not ours": our outputs carry the mark in
// the first APP1 segments, right after the encoder's APP0.
constexpr int kSegmentsRead = 8;
// The digest covers the file's length and its first and last MiB: every output of
// web size whole, and of a large one the metadata and the head and tail of the
// picture data, which any editor that saves the file again rewrites. Reading
// more would make checking a folder of large outputs as slow as copying it.
constexpr qint64 kDigestHead = qint64(1) << 20;
constexpr qint64 kDigestTail = qint64(1) << 20;
constexpr qint64 kDigestLength = 64; // SHA-256 in hexadecimal
constexpr qint64 kAttributeMax = 256;

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

ReadAt readerOf(const QByteArray &data)
{
    return [&data](qint64 at, char *into, qint64 n) {
        if (!ByteView::of(data).has(at, n))
            return false;
        std::memcpy(into, data.constData() + at, size_t(n));
        return true;
    };
}

// Every container the program writes, by its first bytes.
MarkedBlocks markedBlocks(const ReadAt &read)
{
    char head[2];
    if (read(0, head, 2) && head[0] == '\xFF' && head[1] == '\xD8')
        return jpegMarkedBlocks(read);
    return containerMarkedBlocks(read);
}

// The digest of a file of `size` bytes whose record lies at blocks.recordAt, read
// as unsealedRecord() there wherever it falls in what is covered, and without the
// checksum that covers the record (which sealing makes anew). Empty when the file
// cannot be read.
QByteArray outputDigest(const ReadAt &read, qint64 size, const MarkedBlocks &blocks)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView("Kestrovia output 1\n"));
    char length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = char((quint64(size) >> (8 * i)) & 0xFF);
    hash.addData(QByteArrayView(length, 8));
    const qint64 headEnd = std::min(size, kDigestHead);
    const qint64 tailStart = std::max(headEnd, size - kDigestTail);
    QByteArray chunk;
    for (const auto &[from, to] : {std::pair{qint64(0), headEnd}, std::pair{tailStart, size}}) {
        for (qint64 at = from; at < to; at += chunk.size()) {
            chunk.resize(std::min<qint64>(to - at, 256 * 1024));
            if (!read(at, chunk.data(), chunk.size()))
                return {};
            // The record's bytes inside this chunk read as they did before sealing.
            const auto blank = [&](qint64 from, qint64 n, char c) {
                const qint64 lo = std::max(at, from), hi = std::min(at + chunk.size(), from + n);
                if (from >= 0 && lo < hi)
                    std::memset(chunk.data() + (lo - at), c, size_t(hi - lo));
            };
            blank(blocks.recordAt, kDigestLength, '0');
            blank(blocks.checksumAt, 4, '\0');
            hash.addData(chunk);
        }
    }
    return hash.result().toHex();
}

// The attribute, as this program's releases left it.
struct Attribute {
    enum State {
        Absent, // the file system keeps attributes; this file has none of ours
        Unsupported, // the file system keeps none
        Legacy, // ours, from a release that recorded nothing
        Recorded, // ours, with the size and time written
    } state = Absent;
    qint64 size = -1;
    timespec mtime{};
};

Attribute readAttribute(int fd)
{
    char value[kAttributeMax];
    const ssize_t n = ::fgetxattr(fd, kOutputAttribute, value, sizeof value);
    Attribute a;
    if (n < 0) {
        a.state = errno == ENOTSUP ? Attribute::Unsupported : Attribute::Absent;
        return a;
    }
    if (!startsWithProgram(value, n))
        return a;
    a.state = Attribute::Legacy;
    // "Kestrovia <version>; size=<bytes>; mtime=<seconds>.<nanoseconds>"
    bool sizeRead = false, timeRead = false;
    for (const QByteArray &field : QByteArray(value, n).split(';')) {
        const QByteArray f = field.trimmed();
        if (f.startsWith("size=")) {
            a.size = f.mid(5).toLongLong(&sizeRead);
        } else if (f.startsWith("mtime=")) {
            const QList<QByteArray> parts = f.mid(6).split('.');
            bool s = false, ns = false;
            a.mtime.tv_sec = time_t(parts.value(0).toLongLong(&s));
            a.mtime.tv_nsec = long(parts.value(1).toLong(&ns));
            timeRead = parts.size() == 2 && s && ns;
        }
    }
    if (sizeRead && timeRead)
        a.state = Attribute::Recorded;
    return a;
}

// The value of property `name` (with or without its prefix) in an XMP packet,
// written as an attribute (name="value") or as an element (<name>value<): its
// offset in the packet and its text, or {-1, {}}.
std::pair<qsizetype, QByteArray> xmpValue(const QByteArray &packet, const QByteArray &name)
{
    for (qsizetype at = packet.indexOf(name); at >= 0; at = packet.indexOf(name, at + 1)) {
        if (at > 0 && packet[at - 1] != '<' && packet[at - 1] != ':' && packet[at - 1] != ' ' && packet[at - 1] != '\n'
            && packet[at - 1] != '\t')
            continue; // the end of a longer name
        qsizetype v = at + name.size();
        while (v < packet.size() && packet[v] == ' ')
            ++v;
        if (v < packet.size() && packet[v] == '=') {
            ++v;
            while (v < packet.size() && packet[v] == ' ')
                ++v;
            if (v >= packet.size() || (packet[v] != '"' && packet[v] != '\''))
                continue;
            const char quote = packet[v++];
            const qsizetype end = packet.indexOf(quote, v);
            if (end >= 0)
                return {v, packet.mid(v, end - v)};
        } else if (v < packet.size() && packet[v] == '>') {
            ++v;
            const qsizetype end = packet.indexOf('<', v);
            if (end >= 0)
                return {v, packet.mid(v, end - v)};
        }
    }
    return {-1, {}};
}

} // namespace

QString programMark()
{
    return QStringLiteral("%1 %2").arg(QLatin1String(kProgram), QStringLiteral(KESTROVIA_VERSION));
}

QString unsealedRecord() { return QString(kDigestLength, u'0'); }

bool exifNamesProgram(const QByteArray &tiff)
{
    const ByteView t = ByteView::of(tiff);
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
        if (u16(at) != 0x0131) // Software
            continue;
        const qint64 count = u32(at + 4);
        const qint64 valueAt = count <= 4 ? at + 8 : qint64(u32(at + 8));
        return u16(at + 2) == 2 && t.has(valueAt, count)
               && startsWithProgram(reinterpret_cast<const char *>(t.p + valueAt), count);
    }
    return false;
}

void readXmpMarks(const QByteArray &packet, qint64 packetAt, MarkedBlocks &into)
{
    const auto [toolAt, tool] = xmpValue(packet, QByteArrayLiteral("CreatorTool"));
    into.xmpMarked = into.xmpMarked || (toolAt >= 0 && startsWithProgram(tool.constData(), tool.size()));
    const auto [recordAt, record] = xmpValue(packet, QByteArray(kRecordPrefix) + ':' + kRecordProperty);
    if (recordAt >= 0 && into.recordAt < 0) {
        into.recordAt = packetAt + recordAt;
        into.record = record;
    }
}

MarkedBlocks jpegMarkedBlocks(const ReadAt &read)
{
    static const char xmpHeader[] = "http://ns.adobe.com/xap/1.0/"; // with its NUL
    MarkedBlocks found;
    unsigned char head[4];
    if (!read(0, reinterpret_cast<char *>(head), 2) || head[0] != 0xFF || head[1] != 0xD8)
        return found;
    qint64 at = 2;
    for (int segment = 0; segment < kSegmentsRead;) {
        if (!read(at, reinterpret_cast<char *>(head), 4) || head[0] != 0xFF)
            break;
        const int marker = head[1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        // Metadata comes before the frame: any other segment ends the search.
        if (!((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE))
            break;
        const qint64 length = (qint64(head[2]) << 8) | head[3];
        if (length < 2)
            break;
        if (marker == 0xE1) {
            QByteArray payload(length - 2, Qt::Uninitialized);
            if (!read(at + 4, payload.data(), payload.size()))
                break;
            const ByteView b = ByteView::of(payload);
            if (b.is(0, "Exif\0\0", 6))
                found.exifMarked = found.exifMarked || exifNamesProgram(payload.mid(6));
            else if (b.is(0, xmpHeader, sizeof xmpHeader))
                readXmpMarks(payload.mid(sizeof xmpHeader), at + 4 + qint64(sizeof xmpHeader), found);
        }
        at += 2 + length;
        ++segment;
    }
    return found;
}

bool sealOutput(QByteArray &file)
{
    const ReadAt read = readerOf(file);
    const MarkedBlocks blocks = markedBlocks(read);
    if (blocks.recordAt < 0 || blocks.record != unsealedRecord().toLatin1())
        return false;
    const QByteArray digest = outputDigest(read, file.size(), blocks);
    std::memcpy(file.data() + blocks.recordAt, digest.constData(), size_t(kDigestLength));
    if (blocks.checksumAt >= 0 && blocks.checksumFrom >= 0 && blocks.checksumAt + 4 <= file.size()
        && blocks.checksumFrom <= blocks.checksumAt) {
        // PNG's chunk CRC over the record, made again for the sealed bytes.
        const uLong crc =
            ::crc32(::crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(file.constData()) + blocks.checksumFrom,
                    uInt(blocks.checksumAt - blocks.checksumFrom));
        for (int i = 0; i < 4; ++i)
            file[blocks.checksumAt + i] = char((crc >> (24 - 8 * i)) & 0xFF);
    }
    return true;
}

void markOutputFile(int fd)
{
    struct stat st { };
    QByteArray mark = programMark().toUtf8();
    if (::fstat(fd, &st) == 0)
        mark += QStringLiteral("; size=%1; mtime=%2.%3")
                    .arg(qint64(st.st_size))
                    .arg(qint64(st.st_mtim.tv_sec))
                    .arg(qint64(st.st_mtim.tv_nsec), 9, 10, QChar(u'0'))
                    .toLatin1();
    // Not every file system keeps user attributes (FAT cards, some network shares):
    // the marks in the file itself stand alone there.
    (void)::fsetxattr(fd, kOutputAttribute, mark.constData(), size_t(mark.size()), 0);
}

OutputMark readOutputMark(const QString &path)
{
    const int fd = ::open(encodeFileName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return OutputMark::None;
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return OutputMark::None;

    const Attribute attribute = readAttribute(fd);
    if (attribute.state == Attribute::Recorded && attribute.size == qint64(st.st_size)
        && attribute.mtime.tv_sec == st.st_mtim.tv_sec && attribute.mtime.tv_nsec == st.st_mtim.tv_nsec)
        return OutputMark::Ours;

    const qint64 size = st.st_size;
    const ReadAt read = [fd, size](qint64 at, char *into, qint64 n) {
        return at >= 0 && n >= 0 && n <= size - at && readAt(fd, at, into, n);
    };
    const MarkedBlocks blocks = markedBlocks(read);
    if (blocks.recordAt >= 0)
        return blocks.record.size() == kDigestLength && blocks.record == outputDigest(read, size, blocks)
                   ? OutputMark::Ours
                   : OutputMark::Changed;
    const bool markedInFile = blocks.exifMarked || blocks.xmpMarked;
    switch (attribute.state) {
    case Attribute::Recorded:
        // Written with a record that the file no longer holds.
        return OutputMark::Changed;
    case Attribute::Legacy:
        // An earlier release's: the tools that save a file anew drop the attribute,
        // so with it and a mark in the file, this is as far as it can be checked.
        return markedInFile ? OutputMark::Ours : OutputMark::Changed;
    case Attribute::Absent:
        // Every release that marks its outputs set the attribute where the file
        // system keeps one: a mark in the file without it was saved again since.
        return markedInFile ? OutputMark::Changed : OutputMark::None;
    case Attribute::Unsupported: break;
    }
    return markedInFile ? OutputMark::Unverified : OutputMark::None;
}

bool isKestroviaOutput(const QString &path) { return readOutputMark(path) == OutputMark::Ours; }

} // namespace kestrovia
