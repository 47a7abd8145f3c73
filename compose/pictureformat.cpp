#include "compose/pictureformat.h"

#include "compose/byteview.h"
#include "compose/tiffmetadata.h"
#include "platform/japanese.h"

#include <libheif/heif.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace kestrovia {

const QStringList &pictureExtensions()
{
    static const QStringList extensions = {QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("jpe"),
                                           QStringLiteral("jfif"), QStringLiteral("bmp"),  QStringLiteral("png"),
                                           QStringLiteral("tif"),  QStringLiteral("tiff"), QStringLiteral("webp"),
                                           QStringLiteral("gif"),  QStringLiteral("heic"), QStringLiteral("heif")};
    return extensions;
}

bool isPictureName(QStringView name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot >= 0 && pictureExtensions().contains(name.mid(dot + 1).toString(), Qt::CaseInsensitive);
}

QString damagedReason(PictureFormat format)
{
    return ja("%1 ファイルが壊れているため読み込めません").arg(pictureFormatName(format));
}

QString cutShortReason(PictureFormat format)
{
    return ja("%1 ファイルが途中で切れているため読み込めません").arg(pictureFormatName(format));
}

bool isJpegExtension(QStringView extension)
{
    // The first four of the list above.
    return pictureExtensions().mid(0, 4).contains(extension.toString(), Qt::CaseInsensitive);
}

namespace {

// Larger profiles than this do not occur in practice (camera LUT profiles stay
// under a few MB); the cap keeps a crafted PNG from inflating to gigabytes.
constexpr qint64 kMaxProfileBytes = 32 << 20;

bool heifBrand(const ByteView &s, qint64 at)
{
    static const char *const brands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm",
                                         "hevs", "mif1", "msf1", "mif2", "avif", "avis"};
    return std::any_of(std::begin(brands), std::end(brands), [&](const char *b) { return s.is(at, b, 4); });
}

// A classic TIFF structure (the body of an EXIF block, or a TIFF file): calls
// visit(tag, type, count, valueAt, u16, u32) for each entry of the IFD at offset
// ifd, the first IFD when ifd is -1.
template <typename Visit> void ifdEntries(const ByteView &t, qint64 ifd, Visit visit)
{
    const bool le = t.is(0, "II*\0", 4);
    if (!le && !t.is(0, "MM\0*", 4))
        return;
    const auto u16 = [&](qint64 at) { return le ? t.le16(at) : t.be16(at); };
    const auto u32 = [&](qint64 at) { return le ? t.le32(at) : t.be32(at); };
    if (ifd < 0)
        ifd = u32(4);
    if (!t.has(ifd, 2))
        return;
    const int entries = int(u16(ifd));
    for (int e = 0; e < entries; ++e) {
        const qint64 at = ifd + 2 + qint64(e) * 12;
        if (!t.has(at, 12))
            return;
        const std::uint32_t count = u32(at + 4);
        // Values of up to four bytes sit in the entry itself, longer ones elsewhere.
        const std::uint32_t type = u16(at + 2);
        const qint64 unit = (type == 3 || type == 8) ? 2 : (type == 4 || type == 9 || type == 13) ? 4 : 1;
        const qint64 bytes = unit * count;
        const qint64 valueAt = bytes <= 4 ? at + 8 : qint64(u32(at + 8));
        if (!visit(u16(at), type, count, valueAt, u16, u32))
            return;
    }
}

template <typename Visit> void firstIfd(const ByteView &t, Visit visit)
{
    ifdEntries(t, -1, [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, qint64 at, auto u16, auto) {
        return visit(tag, type, count, at, u16);
    });
}

int tiffOrientation(const ByteView &t)
{
    int orientation = 1;
    firstIfd(t, [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, qint64 at, auto u16) {
        if (tag != 0x0112)
            return true;
        if (type == 3 && count >= 1 && t.has(at, 2)) {
            const int v = int(u16(at));
            orientation = v >= 1 && v <= 8 ? v : 1;
        }
        return false;
    });
    return orientation;
}

// An EXIF payload is a TIFF structure; some writers put the JPEG "Exif\0\0" before it.
ByteView exifBody(ByteView s)
{
    if (s.is(0, "Exif\0\0", 6))
        return {s.p + 6, s.size - 6};
    return s;
}

// A TIFF structure as an EXIF block takes it: classic TIFF of either byte order.
QByteArray exifBlock(const ByteView &body)
{
    if (!body.is(0, "II*\0", 4) && !body.is(0, "MM\0*", 4))
        return {};
    return body.bytes(0, body.size);
}

// The IPTC records (resource 0x0404) of a Photoshop resource block: "8BIM", the
// id, a padded Pascal name, the size and the padded data, one after the other.
QByteArray iptcFromResources(const ByteView &r)
{
    qint64 at = 0;
    while (r.is(at, "8BIM", 4) && r.has(at + 6, 1)) {
        const std::uint32_t id = r.be16(at + 4);
        const qint64 name = 1 + r.p[at + 6];
        const qint64 sizeAt = at + 6 + name + (name & 1);
        if (!r.has(sizeAt, 4))
            break;
        const qint64 size = r.be32(sizeAt);
        if (!r.has(sizeAt + 4, size))
            break;
        if (id == 0x0404)
            return r.bytes(sizeAt + 4, size);
        at = sizeAt + 4 + size + (size & 1);
    }
    return {};
}

// IPTC as image tools store it outside a JPEG: Photoshop resources or the records.
QByteArray iptcBlock(const ByteView &b)
{
    if (b.is(0, "8BIM", 4))
        return iptcFromResources(b);
    return b.has(0, 1) && b.p[0] == 0x1C ? b.bytes(0, b.size) : QByteArray();
}

// ---- JPEG ----

// Calls visit(marker, payload) for each marker segment of a JPEG before its pixel
// data, until visit returns false; stops at the first broken segment.
template <typename Visit> void jpegSegments(const ByteView &b, Visit visit)
{
    qint64 i = 2;
    while (b.has(i, 4)) {
        if (b.p[i] != 0xFF)
            return;
        const int marker = b.p[i + 1];
        if (marker == 0xFF) { // fill byte
            ++i;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            i += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            return; // profiles and EXIF come before the pixel data
        const qint64 len = b.be16(i + 2);
        if (len < 2 || !b.has(i + 2, len) || !visit(marker, ByteView{b.p + i + 4, len - 2}))
            return;
        i += 2 + len;
    }
}

QByteArray jpegIcc(const ByteView &b)
{
    std::map<int, ByteView> chunks;
    int total = -1;
    bool broken = false;
    jpegSegments(b, [&](int marker, const ByteView &payload) {
        if (marker != 0xE2 || payload.size < 14 || !payload.is(0, "ICC_PROFILE\0", 12))
            return true;
        const int seq = payload.p[12], count = payload.p[13];
        if (total < 0)
            total = count;
        // A chunk numbering that does not add up gives no profile rather than a wrong one.
        broken = seq < 1 || count != total || chunks.count(seq);
        chunks[seq] = {payload.p + 14, payload.size - 14};
        return !broken;
    });
    if (broken || total < 1 || int(chunks.size()) != total)
        return {};
    QByteArray out;
    for (const auto &[seq, c] : chunks) {
        if (seq > total)
            return {};
        out.append(c.bytes(0, c.size));
    }
    return out;
}

// The orientation in the first APP1 "Exif" segment.
int jpegOrientation(const ByteView &b)
{
    int orientation = 1;
    jpegSegments(b, [&](int marker, const ByteView &payload) {
        if (marker != 0xE1 || payload.size < 14 || !payload.is(0, "Exif\0\0", 6))
            return true;
        orientation = tiffOrientation(exifBody(payload));
        return false;
    });
    return orientation;
}

MetadataBlocks jpegMetadata(const ByteView &b)
{
    static const char xmpHeader[] = "http://ns.adobe.com/xap/1.0/"; // with its NUL
    static const char photoshop[] = "Photoshop 3.0"; // with its NUL
    MetadataBlocks m;
    QByteArray resources;
    jpegSegments(b, [&](int marker, const ByteView &payload) {
        if (marker == 0xE1 && m.exif.isEmpty() && payload.is(0, "Exif\0\0", 6))
            m.exif = exifBlock({payload.p + 6, payload.size - 6});
        else if (marker == 0xE1 && m.xmp.isEmpty() && payload.is(0, xmpHeader, sizeof xmpHeader))
            m.xmp = payload.bytes(sizeof xmpHeader, payload.size - qint64(sizeof xmpHeader));
        else if (marker == 0xED && payload.is(0, photoshop, sizeof photoshop))
            // Resources longer than a segment continue in the next one.
            resources += payload.bytes(sizeof photoshop, payload.size - qint64(sizeof photoshop));
        return true;
    });
    m.iptc = iptcFromResources(ByteView::of(resources));
    m.icc = jpegIcc(b);
    return m;
}

// ---- PNG ----

template <typename Visit> void pngChunks(const ByteView &b, Visit visit)
{
    qint64 at = 8;
    while (b.has(at, 8)) {
        const qint64 len = b.be32(at);
        if (!b.has(at + 8, len))
            return;
        if (!visit(ByteView{b.p + at + 4, 4}, ByteView{b.p + at + 8, len}))
            return;
        at += 12 + len;
    }
}

QByteArray inflateCapped(const ByteView &z)
{
    z_stream s{};
    if (inflateInit(&s) != Z_OK)
        return {};
    s.next_in = const_cast<Bytef *>(z.p);
    s.avail_in = uInt(std::min<qint64>(z.size, UINT32_MAX));
    QByteArray out;
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (out.size() >= kMaxProfileBytes) {
            rc = Z_MEM_ERROR;
            break;
        }
        const qsizetype had = out.size();
        out.resize(had + 64 * 1024);
        s.next_out = reinterpret_cast<Bytef *>(out.data() + had);
        s.avail_out = 64 * 1024;
        rc = inflate(&s, Z_NO_FLUSH);
        out.resize(qsizetype(s.total_out));
        if (rc == Z_BUF_ERROR && s.avail_in == 0)
            break; // the stream ends early
    }
    inflateEnd(&s);
    return rc == Z_STREAM_END ? out : QByteArray();
}

QByteArray pngIcc(const ByteView &b)
{
    QByteArray profile;
    pngChunks(b, [&](ByteView type, ByteView data) {
        if (type.is(0, "IDAT", 4) || type.is(0, "IEND", 4))
            return false;
        if (!type.is(0, "iCCP", 4))
            return true;
        // Profile name (1..79 bytes), a zero, the compression method 0, then zlib data.
        const auto *nul =
            static_cast<const std::uint8_t *>(std::memchr(data.p, 0, size_t(std::min<qint64>(data.size, 80))));
        const qint64 at = nul ? nul - data.p + 2 : -1;
        if (at > 0 && data.has(at, 0) && data.p[at - 1] == 0)
            profile = inflateCapped({data.p + at, data.size - at});
        return false;
    });
    return profile;
}

int pngOrientation(const ByteView &b)
{
    int orientation = 1;
    pngChunks(b, [&](ByteView type, ByteView data) {
        if (type.is(0, "IEND", 4))
            return false;
        if (!type.is(0, "eXIf", 4))
            return true;
        orientation = tiffOrientation(exifBody(data));
        return false;
    });
    return orientation;
}

// The "Raw profile type ..." text of ImageMagick and exiv2: a blank line, the type,
// the length in decimal, then the bytes in hexadecimal over many lines.
QByteArray rawProfile(const QByteArray &text)
{
    static constexpr qint64 kMaxRawProfile = 16 << 20;
    qsizetype at = text.indexOf('\n', text.startsWith('\n') ? 1 : 0);
    if (at < 0)
        return {};
    while (at < text.size() && (text[at] == '\n' || text[at] == ' '))
        ++at;
    qint64 length = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && length <= kMaxRawProfile)
        length = length * 10 + (text[at++] - '0');
    if (length <= 0 || length > kMaxRawProfile || length > text.size() / 2)
        return {};
    QByteArray out;
    out.reserve(qsizetype(length));
    int high = -1;
    for (; at < text.size() && out.size() < length; ++at) {
        const char c = text[at];
        const int v = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (v < 0)
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.append(char(high << 4 | v));
            high = -1;
        }
    }
    return out.size() == length ? out : QByteArray();
}

} // namespace

void addPngTextBlock(MetadataBlocks &m, const QByteArray &keyword, const QByteArray &text)
{
    if (keyword == "XML:com.adobe.xmp" && m.xmp.isEmpty()) {
        m.xmp = text;
        return;
    }
    if (!keyword.startsWith("Raw profile type "))
        return;
    const QByteArray type = keyword.mid(17).toLower();
    if ((type == "exif" || type == "app1") && m.exif.isEmpty()) {
        const QByteArray raw = rawProfile(text);
        m.exif = exifBlock(exifBody(ByteView::of(raw)));
    } else if (type == "iptc" && m.iptc.isEmpty()) {
        const QByteArray raw = rawProfile(text);
        m.iptc = iptcBlock(ByteView::of(raw));
    } else if (type == "xmp" && m.xmp.isEmpty()) {
        m.xmp = rawProfile(text);
    }
}

void addPngChunkBlock(MetadataBlocks &m, const QByteArray &type, const QByteArray &bytes)
{
    const ByteView data = ByteView::of(bytes);
    const auto *nul =
        static_cast<const std::uint8_t *>(std::memchr(data.p, 0, size_t(std::min<qint64>(data.size, 80))));
    const qint64 afterKeyword = nul ? nul - data.p + 1 : -1;
    const QByteArray keyword = nul ? data.bytes(0, afterKeyword - 1) : QByteArray();
    if (type == "eXIf" && m.exif.isEmpty()) {
        m.exif = exifBlock(exifBody(data));
    } else if (type == "tEXt" && nul) {
        addPngTextBlock(m, keyword, data.bytes(afterKeyword, data.size - afterKeyword));
    } else if (type == "zTXt" && nul && data.has(afterKeyword, 1) && data.p[afterKeyword] == 0) {
        addPngTextBlock(m, keyword, inflateCapped({data.p + afterKeyword + 1, data.size - afterKeyword - 1}));
    } else if (type == "iTXt" && nul && data.has(afterKeyword, 2)) {
        // Compression flag and method, then language and translated keyword.
        const bool compressed = data.p[afterKeyword] != 0;
        qint64 at = afterKeyword + 2;
        for (int field = 0; field < 2; ++field) {
            while (data.has(at, 1) && data.p[at] != 0)
                ++at;
            ++at;
        }
        if (!data.has(at, 0))
            return;
        const ByteView body{data.p + at, data.size - at};
        addPngTextBlock(m, keyword, compressed ? inflateCapped(body) : body.bytes(0, body.size));
    }
}

namespace {

MetadataBlocks pngMetadata(const ByteView &b)
{
    MetadataBlocks m;
    pngChunks(b, [&](ByteView type, ByteView data) {
        if (type.is(0, "IEND", 4))
            return false;
        addPngChunkBlock(m, type.bytes(0, 4),
                         QByteArray::fromRawData(reinterpret_cast<const char *>(data.p), data.size));
        return true;
    });
    m.icc = pngIcc(b);
    return m;
}

// ---- WebP ----

ByteView webpChunk(const ByteView &b, const char *fourcc)
{
    qint64 at = 12;
    while (b.has(at, 8)) {
        const qint64 len = b.le32(at + 4);
        if (!b.has(at + 8, len))
            break;
        if (b.is(at, fourcc, 4))
            return {b.p + at + 8, len};
        at += 8 + len + (len & 1);
    }
    return {nullptr, 0};
}

// ---- TIFF ----

QByteArray tiffIcc(const ByteView &t)
{
    QByteArray profile;
    firstIfd(t, [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, qint64 at, auto) {
        if (tag != 34675)
            return true;
        if ((type == 7 || type == 1) && count <= kMaxProfileBytes && t.has(at, count))
            profile = t.bytes(at, count);
        return false;
    });
    return profile;
}

// ---- HEIF, through libheif ----

MetadataBlocks heifMetadata(const QByteArray &data)
{
    MetadataBlocks m;
    const std::unique_ptr<heif_context, void (*)(heif_context *)> ctx(heif_context_alloc(), heif_context_free);
    if (!ctx
        || heif_context_read_from_memory_without_copy(ctx.get(), data.constData(), size_t(data.size()), nullptr).code
               != heif_error_Ok)
        return m;
    heif_image_handle *raw = nullptr;
    if (heif_context_get_primary_image_handle(ctx.get(), &raw).code != heif_error_Ok)
        return m;
    const std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle *)> handle(raw,
                                                                                         heif_image_handle_release);
    const int count = std::clamp(heif_image_handle_get_number_of_metadata_blocks(handle.get(), nullptr), 0, 64);
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    if (count > 0)
        heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), nullptr, ids.data(), count);
    for (const heif_item_id id : ids) {
        const size_t size = heif_image_handle_get_metadata_size(handle.get(), id);
        if (size == 0 || size > size_t(kMaxProfileBytes))
            continue;
        QByteArray block(qsizetype(size), Qt::Uninitialized);
        if (heif_image_handle_get_metadata(handle.get(), id, block.data()).code != heif_error_Ok)
            continue;
        const auto text = [](const char *s) { return QByteArray(s ? s : ""); };
        const QByteArray type = text(heif_image_handle_get_metadata_type(handle.get(), id));
        const QByteArray content = text(heif_image_handle_get_metadata_content_type(handle.get(), id));
        const ByteView b = ByteView::of(block);
        if (type == "Exif" && m.exif.isEmpty() && b.has(0, 4)) {
            // Four bytes give the offset of the TIFF header that follows them.
            const qint64 skip = 4 + qint64(b.be32(0));
            if (b.has(skip, 0))
                m.exif = exifBlock(exifBody({b.p + skip, b.size - skip}));
        } else if (type == "mime" && content == "application/rdf+xml" && m.xmp.isEmpty()) {
            m.xmp = block;
        }
    }
    const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(handle.get());
    const size_t iccSize = heif_image_handle_get_raw_color_profile_size(handle.get());
    if ((profile == heif_color_profile_type_prof || profile == heif_color_profile_type_rICC) && iccSize > 0
        && iccSize <= size_t(kMaxProfileBytes)) {
        m.icc.resize(qsizetype(iccSize));
        if (heif_image_handle_get_raw_color_profile(handle.get(), m.icc.data()).code != heif_error_Ok)
            m.icc.clear();
    }
    return m;
}

} // namespace

PictureFormat sniffPictureFormat(const QByteArray &data)
{
    const ByteView s = ByteView::of(data);
    if (s.is(0, "\xFF\xD8\xFF", 3))
        return PictureFormat::Jpeg;
    if (s.is(0, "\x89PNG\r\n\x1A\n", 8))
        return PictureFormat::Png;
    if (s.is(0, "GIF87a", 6) || s.is(0, "GIF89a", 6))
        return PictureFormat::Gif;
    if (s.is(0, "RIFF", 4) && s.is(8, "WEBP", 4))
        return PictureFormat::WebP;
    if (s.is(0, "II*\0", 4) || s.is(0, "MM\0*", 4) || s.is(0, "II+\0", 4) || s.is(0, "MM\0+", 4))
        return PictureFormat::Tiff;
    if (s.is(4, "ftyp", 4) && s.has(0, 12)) {
        const qint64 boxEnd = std::min<qint64>(s.be32(0), s.size);
        if (heifBrand(s, 8))
            return PictureFormat::Heif;
        for (qint64 at = 16; at + 4 <= boxEnd; at += 4)
            if (heifBrand(s, at))
                return PictureFormat::Heif;
    }
    if (s.is(0, "BM", 2))
        return PictureFormat::Bmp;
    return PictureFormat::Unknown;
}

QString pictureFormatName(PictureFormat format)
{
    switch (format) {
    case PictureFormat::Jpeg: return QStringLiteral("JPEG");
    case PictureFormat::Bmp: return QStringLiteral("BMP");
    case PictureFormat::Png: return QStringLiteral("PNG");
    case PictureFormat::Tiff: return QStringLiteral("TIFF");
    case PictureFormat::WebP: return QStringLiteral("WebP");
    case PictureFormat::Gif: return QStringLiteral("GIF");
    case PictureFormat::Heif: return QStringLiteral("HEIF");
    case PictureFormat::Unknown: break;
    }
    return {};
}

QByteArray embeddedIccProfile(const QByteArray &data, PictureFormat format)
{
    const ByteView s = ByteView::of(data);
    switch (format) {
    case PictureFormat::Jpeg: return jpegIcc(s);
    case PictureFormat::Png: return pngIcc(s);
    case PictureFormat::Tiff: return tiffIcc(s);
    case PictureFormat::WebP: {
        const ByteView c = webpChunk(s, "ICCP");
        return c.p ? c.bytes(0, c.size) : QByteArray();
    }
    default: return {};
    }
}

int embeddedExifOrientation(const QByteArray &data, PictureFormat format)
{
    const ByteView s = ByteView::of(data);
    if (format == PictureFormat::Jpeg)
        return jpegOrientation(s);
    if (format == PictureFormat::Png)
        return pngOrientation(s);
    if (format == PictureFormat::WebP) {
        const ByteView c = webpChunk(s, "EXIF");
        return c.p ? tiffOrientation(exifBody(c)) : 1;
    }
    return 1;
}

QByteArray iptcRecords(const QByteArray &stored) { return iptcBlock(ByteView::of(stored)); }

int exifBlockOrientation(const QByteArray &exif) { return tiffOrientation(exifBody(ByteView::of(exif))); }

QDateTime exifDateTaken(const QByteArray &exif)
{
    const ByteView t = exifBody(ByteView::of(exif));
    qint64 exifIfd = -1;
    ifdEntries(t, -1, [&](std::uint32_t tag, std::uint32_t type, std::uint32_t, qint64 at, auto, auto u32) {
        if (tag != 0x8769)
            return true;
        if ((type == 4 || type == 13) && t.has(at, 4))
            exifIfd = qint64(u32(at));
        return false;
    });
    QByteArray text;
    if (exifIfd > 0) {
        ifdEntries(t, exifIfd, [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, qint64 at, auto, auto) {
            if (tag != 0x9003)
                return true;
            if (type == 2 && count >= 19 && t.has(at, 19))
                text = t.bytes(at, 19);
            return false;
        });
    }
    // "YYYY:MM:DD HH:MM:SS"; a camera whose clock was never set writes blanks or
    // zeros, which QDate and QTime refuse.
    const QDateTime taken(QDate::fromString(QString::fromLatin1(text.left(10)), QStringLiteral("yyyy:MM:dd")),
                          QTime::fromString(QString::fromLatin1(text.mid(11)), QStringLiteral("HH:mm:ss")));
    return taken.isValid() ? taken : QDateTime();
}

} // namespace kestrovia

namespace kestrovia {

MetadataBlocks embeddedMetadata(const QByteArray &data, PictureFormat format)
{
    const ByteView s = ByteView::of(data);
    switch (format) {
    case PictureFormat::Jpeg: return jpegMetadata(s);
    case PictureFormat::Png: return pngMetadata(s);
    case PictureFormat::Tiff: return tiffMetadataBlocks(PictureSource::memory(data));
    case PictureFormat::Heif: return heifMetadata(data);
    case PictureFormat::WebP: {
        MetadataBlocks m;
        const ByteView exif = webpChunk(s, "EXIF"), xmp = webpChunk(s, "XMP ");
        if (exif.p)
            m.exif = exifBlock(exifBody(exif));
        if (xmp.p)
            m.xmp = xmp.bytes(0, xmp.size);
        m.icc = embeddedIccProfile(data, format);
        return m;
    }
    default: return {};
    }
}

} // namespace kestrovia
