#include "compose/tiffmetadata.h"

#include "compose/byteview.h"
#include "compose/pictureformat.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kestrovia {

namespace {

constexpr qint64 kMaxExifBytes = qint64(1) << 20; // directories and values, in all
constexpr qint64 kMaxBlockBytes = qint64(32) << 20; // XMP, IPTC, ICC, each
constexpr int kMaxEntries = 1000; // a directory's entries read (12 KB)

enum Tag : std::uint16_t {
    ExifIfd = 34665,
    GpsIfd = 34853,
    InteropIfd = 40965,
    MakerNote = 37500,
    Xmp = 700,
    Iptc = 33723,
    PhotoshopResources = 34377,
    IccProfile = 34675,
};

// Tags whose values point into the file (the picture's strips and tiles, free
// space, sub-images, a JPEG thumbnail): moved into another structure they would
// point nowhere.
bool pointsIntoFile(std::uint16_t tag)
{
    switch (tag) {
    case 273: // StripOffsets
    case 279: // StripByteCounts
    case 288: // FreeOffsets
    case 289: // FreeByteCounts
    case 324: // TileOffsets
    case 325: // TileByteCounts
    case 330: // SubIFDs
    case 513: // JPEGInterchangeFormat
    case 514: // JPEGInterchangeFormatLength
        return true;
    default: return false;
    }
}

qint64 typeSize(std::uint16_t type)
{
    switch (type) {
    case 1:
    case 2:
    case 6:
    case 7: return 1; // BYTE, ASCII, SBYTE, UNDEFINED
    case 3:
    case 8: return 2; // SHORT, SSHORT
    case 4:
    case 9:
    case 11:
    case 13: return 4; // LONG, SLONG, FLOAT, IFD
    case 5:
    case 10:
    case 12: return 8; // RATIONAL, SRATIONAL, DOUBLE
    default: return 0;
    }
}

struct Entry {
    std::uint16_t tag = 0, type = 0;
    std::uint32_t count = 0;
    QByteArray value; // as stored, in the file's byte order
    int child = -1; // a directory this entry points to (index into Reader::dirs)
};

struct Reader {
    Reader(const PictureSource &s, bool big)
        : source(s)
        , bigEndian(big)
    {
    }
    const PictureSource &source;
    bool bigEndian = false;
    qint64 left = kMaxExifBytes; // of the directories' and values' bytes
    std::vector<std::vector<Entry>> dirs;
    std::vector<std::uint16_t> followed; // the sub-directories' pointer tags seen
    MetadataBlocks blocks;

    std::uint32_t u16(const std::uint8_t *p) const
    {
        return bigEndian ? (std::uint32_t(p[0]) << 8) | p[1] : p[0] | (std::uint32_t(p[1]) << 8);
    }
    std::uint32_t u32(const std::uint8_t *p) const
    {
        return bigEndian ? (u16(p) << 16) | u16(p + 2) : u16(p) | (u16(p + 2) << 16);
    }

    // n bytes at offset within the file and the budget; empty otherwise.
    QByteArray read(qint64 offset, qint64 n, qint64 &budget)
    {
        if (n <= 0 || n > budget || offset < 0 || offset > source.size() || n > source.size() - offset)
            return {};
        budget -= n;
        return source.bytes(offset, n);
    }

    // The directory at offset, as entries; the kinds of sub-directory it may point
    // to are followed once each. Returns its index, or -1 when it cannot be read.
    int readDirectory(qint64 offset, bool top)
    {
        const QByteArray countBytes = read(offset, 2, left);
        if (countBytes.isEmpty())
            return -1;
        const auto *c = reinterpret_cast<const std::uint8_t *>(countBytes.constData());
        // A count past the file's end keeps the entries the file holds.
        const int count = int(std::min<qint64>({u16(c), kMaxEntries, (source.size() - offset - 2) / 12}));
        const QByteArray table = read(offset + 2, qint64(count) * 12, left);
        if (table.isEmpty())
            return -1;
        const int index = int(dirs.size());
        dirs.emplace_back();
        std::vector<Entry> entries;
        for (int i = 0; i < count; ++i) {
            const auto *e = reinterpret_cast<const std::uint8_t *>(table.constData()) + qint64(i) * 12;
            Entry entry{std::uint16_t(u16(e)), std::uint16_t(u16(e + 2)), u32(e + 4), {}, -1};
            const qint64 unit = typeSize(entry.type);
            if (unit == 0 || entry.count == 0 || pointsIntoFile(entry.tag) || entry.tag == MakerNote)
                continue;
            const qint64 bytes = unit * entry.count;
            const qint64 valueAt = u32(e + 8);
            if (top
                && (entry.tag == Xmp || entry.tag == Iptc || entry.tag == PhotoshopResources
                    || entry.tag == IccProfile)) {
                qint64 blockBudget = kMaxBlockBytes;
                const QByteArray block = bytes <= 4 ? QByteArray() : read(valueAt, bytes, blockBudget);
                if (entry.tag == Xmp)
                    blocks.xmp = block;
                else if (entry.tag == IccProfile)
                    blocks.icc = block;
                else if (blocks.iptc.isEmpty() || entry.tag == Iptc)
                    blocks.iptc = iptcRecords(block);
                continue;
            }
            const bool pointer =
                (top && (entry.tag == ExifIfd || entry.tag == GpsIfd)) || (!top && entry.tag == InteropIfd);
            if (pointer) {
                if ((entry.type != 4 && entry.type != 13) || entry.count != 1
                    || std::find(followed.begin(), followed.end(), entry.tag) != followed.end())
                    continue;
                followed.push_back(entry.tag);
                entry.child = readDirectory(valueAt, false);
                if (entry.child >= 0)
                    entries.push_back(std::move(entry));
                continue;
            }
            if (bytes <= 4) {
                entry.value = QByteArray(reinterpret_cast<const char *>(e + 8), bytes);
            } else {
                entry.value = read(valueAt, bytes, left);
                if (entry.value.isEmpty())
                    continue;
            }
            entries.push_back(std::move(entry));
        }
        // Readers look entries up in ascending order, as the format asks.
        std::stable_sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.tag < b.tag; });
        dirs[size_t(index)] = std::move(entries);
        return index;
    }

    void put16(QByteArray &out, qint64 at, std::uint32_t v) const
    {
        out[at + (bigEndian ? 0 : 1)] = char(v >> 8);
        out[at + (bigEndian ? 1 : 0)] = char(v);
    }
    void put32(QByteArray &out, qint64 at, std::uint32_t v) const
    {
        put16(out, at + (bigEndian ? 0 : 2), v >> 16);
        put16(out, at + (bigEndian ? 2 : 0), v & 0xFFFF);
    }

    // The directory, then its values, then the directories it points to, each on an
    // even offset as the format asks.
    void write(QByteArray &out, int index) const
    {
        const std::vector<Entry> &entries = dirs[size_t(index)];
        const qint64 table = out.size();
        out.append(QByteArray(2 + 12 * qint64(entries.size()) + 4, '\0'));
        put16(out, table, std::uint32_t(entries.size()));
        for (size_t i = 0; i < entries.size(); ++i) {
            const Entry &e = entries[i];
            const qint64 at = table + 2 + 12 * qint64(i);
            put16(out, at, e.tag);
            put16(out, at + 2, e.child >= 0 ? 4 : e.type);
            put32(out, at + 4, e.child >= 0 ? 1 : e.count);
            if (e.child >= 0)
                continue;
            if (e.value.size() <= 4) {
                for (qsizetype k = 0; k < e.value.size(); ++k)
                    out[at + 8 + k] = e.value[k];
                continue;
            }
            if (out.size() % 2)
                out.append('\0');
            put32(out, at + 8, std::uint32_t(out.size()));
            out.append(e.value);
        }
        for (size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].child < 0)
                continue;
            if (out.size() % 2)
                out.append('\0');
            put32(out, table + 2 + 12 * qint64(i) + 8, std::uint32_t(out.size()));
            write(out, entries[i].child);
        }
    }
};

} // namespace

MetadataBlocks tiffMetadataBlocks(const PictureSource &source)
{
    const ByteView head = ByteView::of(source.head());
    const bool little = head.is(0, "II*\0", 4), big = head.is(0, "MM\0*", 4);
    if ((!little && !big) || !head.has(4, 4))
        return {};
    Reader r(source, big);
    const qint64 first = big ? head.be32(4) : head.le32(4);
    const int top = r.readDirectory(first, true);
    if (top >= 0 && !r.dirs[size_t(top)].empty()) {
        QByteArray exif = big ? QByteArrayLiteral("MM\0*\0\0\0\x08") : QByteArrayLiteral("II*\0\x08\0\0\0");
        r.write(exif, top);
        r.blocks.exif = exif;
    }
    return r.blocks;
}

} // namespace kestrovia
