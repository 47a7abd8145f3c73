#include "export/containers.h"

#include "compose/byteview.h"

#include <QList>

#include <algorithm>
#include <cstring>
#include <limits>

namespace kestrovia {

namespace {

// Bounds of the search: chunk or box headers looked at, and the largest block read.
constexpr int kHeadersRead = 64;
constexpr qint64 kBlockMax = qint64(1) << 20;

// The file's bytes at [offset, offset + n), or empty when they are not all there
// or n is beyond the bound.
QByteArray bytesAt(const ReadAt &read, qint64 offset, qint64 n)
{
    if (n <= 0 || n > kBlockMax || offset < 0)
        return {};
    QByteArray out(qsizetype(n), Qt::Uninitialized);
    return read(offset, out.data(), n) ? out : QByteArray();
}

bool headerAt(const ReadAt &read, qint64 offset, std::uint8_t *into, qint64 n)
{
    return read(offset, reinterpret_cast<char *>(into), n);
}

// ---- PNG ----

void pngBlocks(const ReadAt &read, MarkedBlocks &m)
{
    static const char keyword[] = "XML:com.adobe.xmp"; // with its NUL
    qint64 at = 8;
    bool exifSeen = false, xmpSeen = false;
    for (int i = 0; i < kHeadersRead; ++i) {
        std::uint8_t header[8];
        if (!headerAt(read, at, header, 8))
            return;
        const ByteView h{header, 8};
        const qint64 length = h.be32(0);
        // Metadata that counts comes before the pixels.
        if (h.is(4, "IDAT", 4) || h.is(4, "IEND", 4) || length > 0x7FFFFFFF)
            return;
        if (h.is(4, "eXIf", 4) && !exifSeen) {
            exifSeen = true;
            m.exifMarked = exifNamesProgram(bytesAt(read, at + 8, length));
        } else if (h.is(4, "iTXt", 4) && !xmpSeen && length > qint64(sizeof keyword) + 4) {
            const QByteArray text = bytesAt(read, at + 8, length);
            const ByteView t = ByteView::of(text);
            // Keyword, NUL, compression flag 0, method, language NUL, translated keyword NUL, text.
            if (t.is(0, keyword, sizeof keyword) && t.p[sizeof keyword] == 0) {
                const qsizetype language = text.indexOf('\0', qsizetype(sizeof keyword) + 2);
                const qsizetype translated = language < 0 ? -1 : text.indexOf('\0', language + 1);
                if (translated >= 0) {
                    xmpSeen = true;
                    readXmpMarks(text.mid(translated + 1), at + 8 + translated + 1, m);
                    if (m.recordAt >= at + 8 && m.recordAt < at + 8 + length) {
                        m.checksumFrom = at + 4; // the chunk's type and data
                        m.checksumAt = at + 8 + length;
                    }
                }
            }
        }
        at += 12 + length;
    }
}

// ---- WebP ----

void webpBlocks(const ReadAt &read, MarkedBlocks &m)
{
    std::uint8_t riff[12];
    if (!headerAt(read, 0, riff, 12))
        return;
    const qint64 end = 8 + qint64(ByteView{riff, 12}.le32(4));
    bool exifSeen = false, xmpSeen = false;
    qint64 at = 12;
    for (int i = 0; i < kHeadersRead && at + 8 <= end; ++i) {
        std::uint8_t header[8];
        if (!headerAt(read, at, header, 8))
            return;
        const ByteView h{header, 8};
        const qint64 size = h.le32(4);
        if (h.is(0, "EXIF", 4) && !exifSeen) {
            exifSeen = true;
            QByteArray exif = bytesAt(read, at + 8, size);
            // Some writers keep JPEG's "Exif\0\0" before the TIFF structure.
            if (exif.startsWith(QByteArray("Exif\0\0", 6)))
                exif.remove(0, 6);
            m.exifMarked = exifNamesProgram(exif);
        } else if (h.is(0, "XMP ", 4) && !xmpSeen) {
            xmpSeen = true;
            readXmpMarks(bytesAt(read, at + 8, size), at + 8, m);
        }
        at += 8 + size + (size & 1);
    }
}

// ---- AVIF (ISO base media file format) ----

// A box inside a buffer: its type, and where its payload lies.
struct Box {
    QByteArray type;
    qint64 payload = 0, end = 0;
};

// The boxes one after another in t[from, to).
QList<Box> boxesIn(const ByteView &t, qint64 from, qint64 to)
{
    QList<Box> boxes;
    for (qint64 at = from; at + 8 <= to && boxes.size() < kHeadersRead;) {
        qint64 size = t.be32(at), header = 8;
        if (size == 1) {
            if (!t.has(at + 8, 8))
                break;
            size = (qint64(t.be32(at + 8)) << 32) | t.be32(at + 12);
            header = 16;
        } else if (size == 0) {
            size = to - at;
        }
        if (size < header || size > to - at)
            break;
        boxes.append(Box{t.bytes(at + 4, 4), at + header, at + size});
        at += size;
    }
    return boxes;
}

// A big-endian unsigned number of n bytes (0, 2, 4 or 8) at at, advancing at;
// false past end.
bool number(const ByteView &t, qint64 &at, qint64 end, int n, quint64 &value)
{
    if (n == 0) {
        value = 0;
        return true;
    }
    if (at + n > end || !t.has(at, n))
        return false;
    value = 0;
    for (int i = 0; i < n; ++i)
        value = (value << 8) | t.p[at + i];
    at += n;
    return true;
}

// The item IDs of the Exif and XMP items in an iinf box's payload.
void itemTypes(const ByteView &t, const Box &iinf, QList<quint64> &exif, QList<quint64> &xmp)
{
    if (!t.has(iinf.payload, 4))
        return;
    const int version = t.p[iinf.payload];
    const qint64 entries = iinf.payload + 4 + (version == 0 ? 2 : 4);
    for (const Box &infe : boxesIn(t, entries, iinf.end)) {
        if (infe.type != "infe" || !t.has(infe.payload, 4))
            continue;
        const int v = t.p[infe.payload];
        if (v < 2)
            continue; // no item type before version 2
        qint64 at = infe.payload + 4;
        quint64 id = 0, protection = 0, type = 0;
        if (!number(t, at, infe.end, v == 2 ? 2 : 4, id) || !number(t, at, infe.end, 2, protection)
            || !number(t, at, infe.end, 4, type))
            continue;
        const QByteArray rest = t.bytes(at, infe.end - at);
        const qsizetype name = rest.indexOf('\0');
        if (type == 0x45786966) { // 'Exif'
            exif.append(id);
        } else if (type == 0x6D696D65 && name >= 0) { // 'mime': name, then the content type
            const qsizetype contentEnd = rest.indexOf('\0', name + 1);
            if (rest.mid(name + 1, contentEnd < 0 ? -1 : contentEnd - name - 1) == "application/rdf+xml")
                xmp.append(id);
        }
    }
}

// The bytes of item id and their offset in the file, through the iloc box's one
// extent (construction method 0, as our writer stores it); empty when it lies
// elsewhere or in pieces.
std::pair<QByteArray, qint64> itemBytes(const ReadAt &read, const ByteView &t, const Box &iloc, quint64 wanted)
{
    if (!t.has(iloc.payload, 6))
        return {};
    const int version = t.p[iloc.payload];
    if (version > 2)
        return {};
    const int offsetSize = t.p[iloc.payload + 4] >> 4, lengthSize = t.p[iloc.payload + 4] & 15;
    const int baseSize = t.p[iloc.payload + 5] >> 4, indexSize = version > 0 ? t.p[iloc.payload + 5] & 15 : 0;
    qint64 at = iloc.payload + 6;
    quint64 count = 0;
    if (!number(t, at, iloc.end, version < 2 ? 2 : 4, count))
        return {};
    for (quint64 i = 0; i < count && i < quint64(kHeadersRead) * 16; ++i) {
        quint64 id = 0, method = 0, reference = 0, base = 0, extents = 0;
        if (!number(t, at, iloc.end, version < 2 ? 2 : 4, id) || (version > 0 && !number(t, at, iloc.end, 2, method))
            || !number(t, at, iloc.end, 2, reference) || !number(t, at, iloc.end, baseSize, base)
            || !number(t, at, iloc.end, 2, extents))
            return {};
        if (id == wanted && extents != 1)
            return {};
        for (quint64 e = 0; e < extents; ++e) {
            quint64 index = 0, offset = 0, length = 0;
            if (!number(t, at, iloc.end, indexSize, index) || !number(t, at, iloc.end, offsetSize, offset)
                || !number(t, at, iloc.end, lengthSize, length))
                return {};
            if (id != wanted)
                continue;
            const quint64 where = base + offset;
            if ((method & 15) != 0 || reference != 0 || length == 0 || where < base
                || where > quint64(std::numeric_limits<qint64>::max()) || length > quint64(kBlockMax))
                return {};
            return {bytesAt(read, qint64(where), qint64(length)), qint64(where)};
        }
    }
    return {};
}

void avifBlocks(const ReadAt &read, MarkedBlocks &m)
{
    // The meta box among the first top-level boxes, found by their headers alone.
    qint64 at = 0;
    QByteArray meta;
    for (int i = 0; i < kHeadersRead && meta.isEmpty(); ++i) {
        std::uint8_t header[16];
        if (!headerAt(read, at, header, 8))
            return;
        const ByteView h{header, 16};
        qint64 size = h.be32(0), headerSize = 8;
        if (size == 1) {
            if (!headerAt(read, at + 8, header + 8, 8))
                return;
            size = (qint64(h.be32(8)) << 32) | h.be32(12);
            headerSize = 16;
        }
        // A box reaching to the end (size 0) is the last: the meta box comes earlier.
        if (size < headerSize || size > std::numeric_limits<qint64>::max() - at)
            return;
        if (h.is(4, "meta", 4))
            meta = bytesAt(read, at + headerSize, size - headerSize);
        at += size;
    }
    const ByteView t = ByteView::of(meta);
    // meta is a full box: version and flags first.
    const QList<Box> boxes = boxesIn(t, 4, t.size);
    QList<quint64> exifItems, xmpItems;
    for (const Box &b : boxes)
        if (b.type == "iinf")
            itemTypes(t, b, exifItems, xmpItems);
    for (const Box &b : boxes) {
        if (b.type != "iloc")
            continue;
        if (!exifItems.isEmpty()) {
            // A 32-bit offset to the TIFF header comes first.
            const QByteArray item = itemBytes(read, t, b, exifItems.first()).first;
            const ByteView e = ByteView::of(item);
            if (e.has(0, 4) && e.be32(0) <= quint64(item.size() - 4))
                m.exifMarked = exifNamesProgram(item.mid(4 + qsizetype(e.be32(0))));
        }
        if (!xmpItems.isEmpty()) {
            const auto [xmp, xmpAt] = itemBytes(read, t, b, xmpItems.first());
            if (!xmp.isEmpty())
                readXmpMarks(xmp, xmpAt, m);
        }
        break;
    }
}

} // namespace

MarkedBlocks pngMarkedBlocks(const ReadAt &read)
{
    MarkedBlocks m;
    pngBlocks(read, m);
    return m;
}

MarkedBlocks webpMarkedBlocks(const ReadAt &read)
{
    MarkedBlocks m;
    webpBlocks(read, m);
    return m;
}

MarkedBlocks avifMarkedBlocks(const ReadAt &read)
{
    MarkedBlocks m;
    avifBlocks(read, m);
    return m;
}

MarkedBlocks containerMarkedBlocks(const ReadAt &read)
{
    std::uint8_t head[12];
    if (!headerAt(read, 0, head, 12))
        return {};
    const ByteView h{head, 12};
    if (h.is(0, "\x89PNG\r\n\x1A\n", 8))
        return pngMarkedBlocks(read);
    if (h.is(0, "RIFF", 4) && h.is(8, "WEBP", 4))
        return webpMarkedBlocks(read);
    if (h.is(4, "ftyp", 4))
        return avifMarkedBlocks(read);
    return {};
}

} // namespace kestrovia
