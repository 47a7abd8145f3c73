// BMP read by rows: uncompressed rows straight from the file, RLE ones expanded
// once into one index a pixel; averaged over k x k blocks when the picture is drawn
// much smaller.

#include "compose/byteview.h"
#include "compose/rowreaders.h"
#include "platform/failure.h"
#include "platform/japanese.h"
#include "platform/stop.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace kestrovia {

namespace {

[[noreturn]] void fail(const QString &reason) { throw Failure(reason); }

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;

QString truncatedBmp() { return ja("BMP ファイルが途中で切れているため読み込めません"); }

struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    explicit Channel(std::uint32_t m = 0)
        : mask(m)
    {
        if (!m)
            return;
        while (!((m >> shift) & 1u))
            ++shift;
        while (shift + bits < 32 && ((m >> (shift + bits)) & 1u))
            ++bits;
    }
    std::uint32_t get(std::uint32_t v) const
    {
        if (!bits)
            return 0;
        const std::uint32_t c = (v & mask) >> shift;
        if (bits >= 8)
            return c >> (bits - 8);
        const std::uint32_t max = (1u << bits) - 1;
        return (c * 255 + max / 2) / max;
    }
};

// What the headers say, checked for sense but not yet against the pixel data.
struct BmpInfo {
    qint64 width = 0;
    qint64 height = 0; // positive; topDown tells the row order
    bool topDown = false;
    int bpp = 0;
    std::uint32_t compression = kBiRgb;
    qint64 pixelOffset = 0;
    bool bitfields = false;
    Channel red, green, blue, alpha; // alpha: only where the header gives its mask
    std::vector<std::uint32_t> palette; // always 2^bpp entries for bpp <= 8

    bool rle() const { return compression == kBiRle8 || compression == kBiRle4; }
    std::uint32_t rgb(std::uint32_t v) const
    {
        const std::uint32_t a = alpha.bits ? alpha.get(v) : 0xFF;
        return (a << 24) | (red.get(v) << 16) | (green.get(v) << 8) | blue.get(v);
    }
};

// The headers and palette sit in the first bytes (a 256-colour palette ends before
// byte 1200).
BmpInfo readBmpHeader(const ByteView &b)
{
    if (!b.has(0, 18))
        fail(truncatedBmp());
    BmpInfo bmp;
    bmp.pixelOffset = b.le32(10);
    const qint64 headerSize = b.le32(14);
    if (!b.has(14, headerSize) || headerSize < 12)
        fail(truncatedBmp());

    qint64 colours = 0;
    int paletteEntry = 4;
    if (headerSize == 12) { // OS/2 core header
        bmp.width = b.le16(18);
        bmp.height = static_cast<std::int16_t>(b.le16(20));
        bmp.bpp = static_cast<int>(b.le16(24));
        paletteEntry = 3;
    } else if (headerSize >= 40) { // Windows 3 and its V4 and V5 extensions
        bmp.width = static_cast<std::int32_t>(b.le32(18));
        bmp.height = static_cast<std::int32_t>(b.le32(22));
        bmp.bpp = static_cast<int>(b.le16(28));
        bmp.compression = b.le32(30);
        colours = b.le32(46);
    } else {
        fail(ja("この BMP 形式には対応していません（ヘッダ長 %1）").arg(headerSize));
    }
    bmp.topDown = bmp.height < 0;
    bmp.height = std::abs(bmp.height);
    if (bmp.width <= 0 || bmp.height <= 0)
        fail(ja("BMP ファイルの画像サイズが不正です（%1 × %2）").arg(bmp.width).arg(bmp.height));
    checkPictureSize(bmp.width, bmp.height);

    const std::uint32_t c = bmp.compression;
    bmp.bitfields = c == kBiBitfields || c == kBiAlphaBitfields;
    if (c != kBiRgb && !bmp.bitfields && !bmp.rle())
        fail(ja("圧縮された BMP（形式 %1）には対応していません").arg(c));
    const int bpp = bmp.bpp;
    if (!(bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32)
        || (bmp.bitfields && bpp != 16 && bpp != 32) || (c == kBiRle8 && bpp != 8) || (c == kBiRle4 && bpp != 4))
        fail(ja("%1 ビットの BMP（形式 %2）には対応していません").arg(bpp).arg(c));

    if (bmp.bitfields) {
        // The masks follow a 40-byte header, or sit inside a larger one.
        if (!b.has(54, 12))
            fail(truncatedBmp());
        bmp.red = Channel(b.le32(54));
        bmp.green = Channel(b.le32(58));
        bmp.blue = Channel(b.le32(62));
        // V4 and V5 headers (and BI_ALPHABITFIELDS) give an alpha mask after them.
        if ((headerSize >= 56 || c == kBiAlphaBitfields) && b.has(66, 4))
            bmp.alpha = Channel(b.le32(66));
    } else if (bpp == 16) {
        bmp.red = Channel(0x7C00);
        bmp.green = Channel(0x03E0);
        bmp.blue = Channel(0x001F);
    }

    if (bpp <= 8) {
        const qint64 maxColours = qint64(1) << bpp;
        if (colours <= 0 || colours > maxColours)
            colours = maxColours;
        const qint64 at = 14 + headerSize;
        // Some writers store fewer entries than they announce; read what is there
        // before the pixels and leave the rest black.
        bmp.palette.assign(static_cast<size_t>(maxColours), 0xFF000000u);
        for (qint64 i = 0; i < colours; ++i) {
            const qint64 e = at + i * paletteEntry;
            if (!b.has(e, 3) || (bmp.pixelOffset > at && e + 3 > bmp.pixelOffset))
                break;
            bmp.palette[static_cast<size_t>(i)] =
                0xFF000000u | (std::uint32_t(b.p[e + 2]) << 16) | (std::uint32_t(b.p[e + 1]) << 8) | b.p[e];
        }
    }
    if (bmp.pixelOffset <= 0)
        fail(truncatedBmp());
    return bmp;
}

// One stored row (s) into w pixels.
void decodeRow(const BmpInfo &bmp, const std::uint8_t *s, std::uint32_t *d)
{
    const qint64 w = bmp.width;
    switch (bmp.bpp) {
    case 1:
    case 4:
    case 8: {
        const int bpp = bmp.bpp;
        const int perByte = 8 / bpp;
        const unsigned mask = (1u << bpp) - 1;
        for (qint64 x = 0; x < w; ++x) {
            const int shift = 8 - bpp * (1 + static_cast<int>(x % perByte));
            d[x] = bmp.palette[(s[x / perByte] >> shift) & mask];
        }
        break;
    }
    case 16:
        for (qint64 x = 0; x < w; ++x)
            d[x] = bmp.rgb(s[2 * x] | (s[2 * x + 1] << 8));
        break;
    case 24:
        for (qint64 x = 0; x < w; ++x, s += 3)
            d[x] = 0xFF000000u | (std::uint32_t(s[2]) << 16) | (std::uint32_t(s[1]) << 8) | s[0];
        break;
    case 32:
        if (!bmp.bitfields) {
            for (qint64 x = 0; x < w; ++x, s += 4)
                d[x] = 0xFF000000u | (std::uint32_t(s[2]) << 16) | (std::uint32_t(s[1]) << 8) | s[0];
        } else {
            for (qint64 x = 0; x < w; ++x, s += 4)
                d[x] = bmp.rgb(std::uint32_t(s[0]) | (std::uint32_t(s[1]) << 8) | (std::uint32_t(s[2]) << 16)
                               | (std::uint32_t(s[3]) << 24));
        }
        break;
    }
}

// Walks an RLE8 or RLE4 stream and calls put(x, row, index) for every pixel it
// sets, rows counted in stored order. Every byte read is bounds-checked; a run or
// a move that leaves the picture, or a stream that ends before its end-of-bitmap
// mark, fails. Returns the pixels the codes set.
template <typename Put> qint64 walkRle(const ByteView &b, const BmpInfo &bmp, const Put &put)
{
    const bool four = bmp.compression == kBiRle4;
    const qint64 w = bmp.width, h = bmp.height;
    const auto byte = [&b](qint64 at) -> unsigned {
        if (!b.has(at, 1))
            fail(truncatedBmp());
        return b.p[at];
    };
    const auto outside = [] { fail(ja("圧縮 BMP のデータが画像の範囲を超えているため読み込めません")); };
    qint64 at = 0, x = 0, row = 0, coded = 0;
    for (;;) {
        const unsigned count = byte(at), value = byte(at + 1);
        at += 2;
        if (count > 0) { // a run of one index (RLE4: two alternating ones)
            if (row >= h || x + count > w)
                outside();
            for (unsigned n = 0; n < count; ++n)
                put(x + n, row, !four ? value : n % 2 ? value & 0x0F : value >> 4);
            x += count;
            coded += count;
        } else if (value == 0) { // end of line
            x = 0;
            ++row;
        } else if (value == 1) { // end of bitmap
            return coded;
        } else if (value == 2) { // move right and down; the pixels passed keep index 0
            x += byte(at);
            row += byte(at + 1);
            at += 2;
            if (x > w || row > h)
                outside();
        } else { // `value` indices stored as they are, padded to whole 16-bit words
            const qint64 bytes = four ? (value + 1) / 2 : value;
            if (row >= h || x + value > w)
                outside();
            if (!b.has(at, bytes))
                fail(truncatedBmp());
            for (unsigned n = 0; n < value; ++n)
                put(x + n, row, !four ? b.p[at + n] : n % 2 ? b.p[at + n / 2] & 0x0F : b.p[at + n / 2] >> 4);
            x += value;
            coded += value;
            at += bytes + bytes % 2;
        }
    }
}

class BmpRows : public RowReader {
public:
    BmpRows(const PictureSource &source, const NeedFunction &need)
        : m_source(source)
        , m_bmp(readBmpHeader(ByteView::of(source.head())))
    {
        const qint64 w = m_bmp.width, h = m_bmp.height;
        stored = QSize(int(w), int(h));
        m_stride = ((w * m_bmp.bpp + 31) / 32) * 4;
        if (m_bmp.rle()) {
            m_rleBytes = source.size() - std::min(source.size(), m_bmp.pixelOffset);
            // A code of two bytes sets at most 255 pixels, and moves leave pixels
            // unset: a stream whose codes set less than a quarter of a large picture
            // is damaged or crafted (a kilobyte declaring a gigapixel), refused before
            // anything is expanded.
            if (w * h > (qint64(1) << 22) && w * h > m_rleBytes * 255 / 2 * 4)
                tooLittle();
        } else {
            // The whole pixel array is checked against the file's real length first,
            // so a lying header cannot make us allocate.
            const qint64 lastRowBytes = (w * m_bmp.bpp + 7) / 8;
            if (!ByteView{nullptr, source.size()}.has(m_bmp.pixelOffset, m_stride * (h - 1) + lastRowBytes))
                fail(truncatedBmp());
        }
        // An alpha mask that is zero everywhere is a writer's habit, not a picture
        // that is wholly transparent: such a picture counts as opaque.
        if (m_bmp.alpha.bits && !anyAlpha())
            m_bmp.alpha = Channel();
        alpha = m_bmp.alpha.bits > 0;
        // Shrink on load: a bitmap has no reduced decode of its own, so k x k blocks
        // are averaged while reading, which keeps a large bitmap's rows and the later
        // scaling small. Not with transparency, whose colours would need weighing.
        m_k = alpha ? 1 : reductionFor(w, h, need ? need(stored) : QSize(), {4, 2});
        size = QSize(int((w + m_k - 1) / m_k), int((h + m_k - 1) / m_k));
        extent = QRectF(0, 0, double(w) / m_k, double(h) / m_k);
        chunk = 16;
        memory = m_bmp.rle() ? m_rleBytes + w * h : m_stride * 16 * m_k + w * 4 * (m_k + 4);
    }

    void read(std::uint8_t *const *rows, int n) override
    {
        if (m_bmp.rle() && m_indices.empty())
            expandRle();
        for (int i = 0; i < n; ++i) {
            auto *d = reinterpret_cast<std::uint32_t *>(rows[i]);
            if (m_k == 1) {
                storedRow(m_row + i, d);
                continue;
            }
            averagedRow(m_row + i, d);
        }
        m_row += n;
    }

private:
    [[noreturn]] void tooLittle() const
    {
        fail(ja("BMP ファイルが壊れているか途中で切れています（%1 × %2 ピクセルに対してデータが少なすぎます）")
                 .arg(m_bmp.width)
                 .arg(m_bmp.height));
    }

    // Whether any pixel has alpha bits set, read through the pixel rows once.
    bool anyAlpha() const
    {
        const qint64 w = m_bmp.width, h = m_bmp.height;
        const int bytesPerPixel = m_bmp.bpp / 8;
        std::vector<std::uint8_t> row(static_cast<size_t>(m_stride));
        for (qint64 y = 0; y < h; ++y) {
            if (y % 64 == 0)
                checkPoint();
            m_source.read(m_bmp.pixelOffset + m_stride * y, row.data(), w * bytesPerPixel);
            for (qint64 x = 0; x < w; ++x) {
                const std::uint8_t *p = row.data() + x * bytesPerPixel;
                std::uint32_t v = p[0] | (std::uint32_t(p[1]) << 8);
                if (bytesPerPixel == 4)
                    v |= (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
                if (v & m_bmp.alpha.mask)
                    return true;
            }
        }
        return false;
    }

    void expandRle()
    {
        const QByteArray data = m_source.bytes(m_bmp.pixelOffset, m_rleBytes);
        const ByteView b = ByteView::of(data);
        const qint64 w = m_bmp.width, h = m_bmp.height;
        // Walked once without writing, so the codes are weighed before the indices
        // are allocated.
        const qint64 coded = walkRle(b, m_bmp, [](qint64, qint64, unsigned) {});
        if (w * h > (qint64(1) << 22) && coded * 4 < w * h)
            tooLittle();
        m_indices.assign(size_t(w * h), 0);
        std::uint8_t *const idx = m_indices.data();
        walkRle(b, m_bmp, [idx, w](qint64 x, qint64 row, unsigned index) {
            idx[row * w + x] = static_cast<std::uint8_t>(index);
        });
    }

    // Picture row y (0 = top) at full size.
    void storedRow(qint64 y, std::uint32_t *d)
    {
        const qint64 w = m_bmp.width, h = m_bmp.height;
        const qint64 s = m_bmp.topDown ? y : h - 1 - y;
        if (m_bmp.rle()) {
            const std::uint8_t *p = m_indices.data() + s * w;
            for (qint64 x = 0; x < w; ++x)
                d[x] = m_bmp.palette[p[x]];
            return;
        }
        // Stored rows are fetched a band at a time, in file order.
        if (s < m_bandFirst || s >= m_bandFirst + m_bandRows) {
            constexpr qint64 kBand = 32;
            m_bandFirst = m_bmp.topDown ? s : std::max<qint64>(0, s - kBand + 1);
            m_bandRows = std::min(kBand, h - m_bandFirst);
            const qint64 bytes = m_stride * (m_bandRows - 1) + (w * m_bmp.bpp + 7) / 8;
            m_band.resize(size_t(m_stride * m_bandRows));
            m_source.read(m_bmp.pixelOffset + m_stride * m_bandFirst, m_band.data(), bytes);
        }
        decodeRow(m_bmp, m_band.data() + (s - m_bandFirst) * m_stride, d);
    }

    // Each output pixel is the mean of a k x k block; the last blocks of a row or
    // column hold only the w mod k (h mod k) pixels that are left.
    void averagedRow(int oy, std::uint32_t *d)
    {
        const qint64 w = m_bmp.width, h = m_bmp.height;
        const int k = m_k;
        const int outW = size.width();
        m_line.resize(size_t(w));
        m_sums.assign(size_t(outW) * 3, 0u);
        const int rows = static_cast<int>(std::min<qint64>(k, h - qint64(oy) * k));
        for (int r = 0; r < rows; ++r) {
            storedRow(qint64(oy) * k + r, m_line.data());
            const std::uint32_t *px = m_line.data();
            const std::uint32_t *const rowEnd = px + w;
            for (std::uint32_t *sum = m_sums.data(); px < rowEnd; sum += 3) {
                const std::uint32_t *const blockEnd = std::min(px + k, rowEnd);
                std::uint32_t b0 = 0, g0 = 0, r0 = 0;
                for (; px < blockEnd; ++px) {
                    b0 += *px & 0xFF;
                    g0 += (*px >> 8) & 0xFF;
                    r0 += (*px >> 16) & 0xFF;
                }
                sum[0] += b0;
                sum[1] += g0;
                sum[2] += r0;
            }
        }
        for (int ox = 0; ox < outW; ++ox) {
            const std::uint32_t cols = static_cast<std::uint32_t>(std::min<qint64>(k, w - qint64(ox) * k));
            const std::uint32_t n = cols * static_cast<std::uint32_t>(rows);
            const std::uint32_t *sum = &m_sums[static_cast<size_t>(ox) * 3];
            d[ox] =
                0xFF000000u | (((sum[2] + n / 2) / n) << 16) | (((sum[1] + n / 2) / n) << 8) | ((sum[0] + n / 2) / n);
        }
    }

    PictureSource m_source;
    BmpInfo m_bmp;
    qint64 m_stride = 0;
    qint64 m_rleBytes = 0;
    int m_k = 1;
    int m_row = 0;
    std::vector<std::uint8_t> m_indices, m_band;
    qint64 m_bandFirst = 0, m_bandRows = 0;
    std::vector<std::uint32_t> m_line, m_sums;
};

} // namespace

std::unique_ptr<RowReader> openBmpRows(const PictureSource &source, const NeedFunction &need)
{
    return std::make_unique<BmpRows>(source, need);
}

} // namespace kestrovia
