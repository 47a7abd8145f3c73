#include "compose/picturedecoder.h"

#include "compose/byteview.h"
#include "compose/colorprofile.h"
#include "compose/formatdecoders.h"
#include "compose/imagebuffer.h"
#include "compose/pictureformat.h"
#include "compose/sourcefile.h"
#include "compose/turn.h"
#include "platform/failure.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <turbojpeg.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <new>
#include <vector>

namespace kestrovia {

namespace {

[[noreturn]] void fail(const QString &reason) { throw Failure(reason); }

QString tr(const char *text) { return QString::fromUtf8(text); }

QImage applyOrientation(const QImage &img, int orientation)
{
    switch (orientation) {
    case 2: return mirrorImage(img, true, false);
    case 3: return turnImage(img, 180);
    case 4: return mirrorImage(img, false, true);
    case 5: return turnImage(mirrorImage(img, true, false), 270); // transpose
    case 6: return turnImage(img, 90);
    case 7: return turnImage(mirrorImage(img, true, false), 90); // transverse
    case 8: return turnImage(img, 270);
    default: return img;
    }
}

// Where a rectangle of the stored picture's pixels lands after applyOrientation.
QRectF orientRect(const QRectF &r, QSize size, int orientation)
{
    switch (orientation) {
    case 2: return mirrorRect(r, size, true, false);
    case 3: return turnRect(r, size, 180);
    case 4: return mirrorRect(r, size, false, true);
    case 5: return turnRect(mirrorRect(r, size, true, false), size, 270);
    case 6: return turnRect(r, size, 90);
    case 7: return turnRect(mirrorRect(r, size, true, false), size, 90);
    case 8: return turnRect(r, size, 270);
    default: return r;
    }
}

// Shrink on load divides the picture by d with a box: libjpeg's reduced inverse
// DCTs average d x d blocks, and bitmaps are averaged the same way. A box lets
// detail near the reduced picture's own sampling rate fold back into coarse
// patterns, which no later filter can tell from real content. Only with several
// reduced pixels for every pixel drawn are those folds faint and mostly outside
// what the final Lanczos step keeps; at smaller margins (an exact half or
// quarter, or 2.5 : 1) the picture is decoded in full instead.
constexpr qint64 kReducedPerDrawn = 3;

// The largest of the factors (tried in order) that keeps that margin for the
// drawn size `need`; 1 for none or for no valid need.
int reduction(qint64 w, qint64 h, QSize need, std::initializer_list<int> factors)
{
    if (!need.isValid() || need.isEmpty())
        return 1;
    for (int d : factors) {
        if (w >= kReducedPerDrawn * d * need.width() && h >= kReducedPerDrawn * d * need.height())
            return d;
    }
    return 1;
}

QImage allocate(int w, int h)
{
    QImage img = newImage(w, h);
    if (img.isNull())
        fail(tr("画像を展開するメモリが足りません（%1 × %2 ピクセル）").arg(w).arg(h));
    return img;
}

// ---- JPEG ----

// True when the frame header (SOF) announces arithmetic coding.
bool jpegIsArithmetic(const ByteView &b)
{
    qint64 i = 2;
    while (b.has(i, 4) && b.p[i] == 0xFF) {
        const int marker = b.p[i + 1];
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return marker >= 0xC9;
        if (marker == 0xDA || marker == 0xD9)
            return false;
        i += 2 + b.be16(i + 2);
    }
    return false;
}

// Huffman-coded data spends at least one bit on each 8 x 8 block of a scan (its DC
// code); halved here for components subsampled in one direction. Arithmetic coding
// can go far lower, so it gets a much looser bound. A file too small for the size
// it declares is damaged or crafted: it is refused before the decoder allocates for
// that size (a 313-byte file declaring 20000 x 20000 pixels would take minutes and
// gigabytes to come out grey).
void checkJpegDataCovers(const ByteView &b, int w, int h)
{
    const qint64 blocks = qint64((w + 7) / 8) * ((h + 7) / 8);
    const qint64 minimumBits = jpegIsArithmetic(b) ? blocks / 1024 : blocks / 2;
    if (b.size * 8 < minimumBits)
        fail(tr("JPEG ファイルが壊れているか途中で切れています（%1 × %2 ピクセルに対してデータが少なすぎます）")
                 .arg(w)
                 .arg(h));
}

// A profile the output should carry: an RGB one (sRGB needs none, a grey or CMYK
// one does not describe the decoded RGB pixels).
QByteArray rgbProfile(const QByteArray &profile)
{
    return !profile.isEmpty() && iccColourSpace(profile) == IccSpace::Rgb ? profile : QByteArray();
}

struct TjDeleter {
    void operator()(void *h) const { tjDestroy(h); }
};

// A JPEG's decoder with its header read: refused when the header is damaged, the
// picture too large, or the file too short for the size it declares.
struct JpegHeader {
    std::unique_ptr<void, TjDeleter> tj;
    unsigned char *data = nullptr;
    unsigned long size = 0;
    int w = 0, h = 0, subsamp = 0, colorspace = 0;
};

JpegHeader readJpegHeader(const ByteView &b)
{
    JpegHeader j;
    j.tj.reset(tjInitDecompress());
    if (!j.tj)
        fail(tr("JPEG デコーダを初期化できません"));
    j.data = const_cast<unsigned char *>(b.p);
    j.size = static_cast<unsigned long>(b.size);
    if (tjDecompressHeader3(j.tj.get(), j.data, j.size, &j.w, &j.h, &j.subsamp, &j.colorspace) != 0 || j.w <= 0
        || j.h <= 0)
        fail(tr("JPEG ファイルが壊れているため読み込めません"));
    checkPictureSize(j.w, j.h);
    checkJpegDataCovers(b, j.w, j.h);
    return j;
}

DecodedPicture decodeJpeg(const ByteView &b, const QByteArray &file, const NeedFunction &needFor)
{
    const JpegHeader j = readJpegHeader(b);
    const auto &[tj, data, size, w, h, subsamp, colorspace] = j;
    const QByteArray profile = embeddedIccProfile(file, PictureFormat::Jpeg);

    const int orientation = embeddedExifOrientation(file, PictureFormat::Jpeg);
    const bool sideways = orientation >= 5;
    QSize need = needFor ? needFor(sideways ? QSize(h, w) : QSize(w, h)) : QSize();
    if (sideways && need.isValid())
        need.transpose();

    // Shrink on load with libjpeg-turbo's fast reduced inverse DCTs.
    const int denom = reduction(w, h, need, {8, 4, 2});
    const int sw = (w + denom - 1) / denom;
    const int sh = (h + denom - 1) / denom;

    // Stop-on-warning: libjpeg reports a cut or damaged file (also one that ends
    // with an EOI marker after half its data) only as a warning and then fills the
    // rest with grey; such a picture is refused rather than converted.
    const auto check = [&](int rc) {
        if (rc != 0)
            fail(tr("JPEG ファイルが壊れているか途中で切れています"));
    };

    QImage img = allocate(sw, sh);
    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK) {
        const auto cmyk = newBuffer(static_cast<size_t>(sw) * sh * 4);
        check(tjDecompress2(tj.get(), data, size, cmyk.get(), sw, sw * 4, sh, TJPF_CMYK, TJFLAG_STOPONWARNING));
        // Through the picture's own profile to sRGB (or a standard press profile):
        // the output is an sRGB picture and carries no CMYK profile.
        convertCmykToSrgb(cmyk.get(), qsizetype(sw) * 4, img, profile);
    } else {
        // Format_RGB32 is 0xFFRRGGBB in native order; the alpha formats make the
        // decoder write the 0xFF that Qt expects in the unused byte.
        const int pf = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRA : TJPF_ARGB;
        check(tjDecompress2(tj.get(), data, size, img.bits(), sw, static_cast<int>(img.bytesPerLine()), sh, pf,
                            TJFLAG_STOPONWARNING));
    }
    DecodedPicture out;
    out.image = applyOrientation(img, orientation);
    out.size = sideways ? QSize(h, w) : QSize(w, h);
    if (colorspace != TJCS_CMYK && colorspace != TJCS_YCCK)
        out.iccProfile = rgbProfile(profile);
    // A last partial block (w mod denom pixels) sits at the right and bottom of
    // the stored picture; the turn carries it to wherever the orientation puts it.
    out.extent = orientRect(QRectF(0, 0, double(w) / denom, double(h) / denom), QSize(sw, sh), orientation);
    return out;
}

std::optional<JpegPlanes> decodePlanes(const ByteView &b, const QByteArray &file, const NeedFunction &needFor)
{
    const JpegHeader j = readJpegHeader(b);
    const auto &[tj, data, size, w, h, subsamp, colorspace] = j;
    // Only a plain colour photo, stored upright: everything else takes the RGB route.
    if (colorspace != TJCS_YCbCr || embeddedExifOrientation(file, PictureFormat::Jpeg) != 1
        || (subsamp != TJSAMP_420 && subsamp != TJSAMP_422 && subsamp != TJSAMP_444))
        return std::nullopt;
    const int denom = reduction(w, h, needFor ? needFor(QSize(w, h)) : QSize(), {8, 4, 2});
    const int sw = (w + denom - 1) / denom;
    const int sh = (h + denom - 1) / denom;

    JpegPlanes out;
    out.size = QSize(w, h);
    QImage *planes[3] = {&out.y, &out.cb, &out.cr};
    unsigned char *bits[3];
    int strides[3];
    for (int c = 0; c < 3; ++c) {
        *planes[c] = newPlane(tjPlaneWidth(c, sw, subsamp), tjPlaneHeight(c, sh, subsamp));
        bits[c] = planes[c]->bits();
        strides[c] = int(planes[c]->bytesPerLine());
    }
    if (tjDecompressToYUVPlanes(tj.get(), data, size, bits, sw, strides, sh, TJFLAG_STOPONWARNING) != 0)
        fail(tr("JPEG ファイルが壊れているか途中で切れています"));
    // As in the RGB route, a last partial block reaches past the extent; chroma
    // planes cover the picture at their own subsampling.
    const double xs = subsamp == TJSAMP_444 ? 1 : 2, ys = subsamp == TJSAMP_420 ? 2 : 1;
    out.iccProfile = rgbProfile(embeddedIccProfile(file, PictureFormat::Jpeg));
    out.lumaExtent = QRectF(0, 0, double(w) / denom, double(h) / denom);
    out.chromaExtent = QRectF(0, 0, double(w) / denom / xs, double(h) / denom / ys);
    return out;
}

// ---- BMP ----

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;

QString truncatedBmp() { return tr("BMP ファイルが途中で切れているため読み込めません"); }

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
    Channel red, green, blue;
    std::vector<std::uint32_t> palette; // always 2^bpp entries for bpp <= 8

    bool rle() const { return compression == kBiRle8 || compression == kBiRle4; }
    std::uint32_t rgb(std::uint32_t v) const
    {
        return 0xFF000000u | (red.get(v) << 16) | (green.get(v) << 8) | blue.get(v);
    }
};

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
        fail(tr("この BMP 形式には対応していません（ヘッダ長 %1）").arg(headerSize));
    }
    bmp.topDown = bmp.height < 0;
    bmp.height = std::abs(bmp.height);
    if (bmp.width <= 0 || bmp.height <= 0)
        fail(tr("BMP ファイルの画像サイズが不正です（%1 × %2）").arg(bmp.width).arg(bmp.height));
    checkPictureSize(bmp.width, bmp.height);

    const std::uint32_t c = bmp.compression;
    bmp.bitfields = c == kBiBitfields || c == kBiAlphaBitfields;
    if (c != kBiRgb && !bmp.bitfields && !bmp.rle())
        fail(tr("圧縮された BMP（形式 %1）には対応していません").arg(c));
    const int bpp = bmp.bpp;
    if (!(bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32)
        || (bmp.bitfields && bpp != 16 && bpp != 32) || (c == kBiRle8 && bpp != 8) || (c == kBiRle4 && bpp != 4))
        fail(tr("%1 ビットの BMP（形式 %2）には対応していません").arg(bpp).arg(c));

    if (bmp.bitfields) {
        // The masks follow a 40-byte header, or sit inside a larger one.
        if (!b.has(54, 12))
            fail(truncatedBmp());
        bmp.red = Channel(b.le32(54));
        bmp.green = Channel(b.le32(58));
        bmp.blue = Channel(b.le32(62));
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

// Decodes picture row y (0 = top) into w pixels.
using RowDecoder = std::function<void(qint64 y, std::uint32_t *d)>;

// Uncompressed rows, read straight from the file. The whole pixel array is checked
// against the file's real length first, so a lying header cannot make us allocate.
RowDecoder plainRows(const ByteView &b, const BmpInfo &bmp)
{
    const qint64 w = bmp.width, h = bmp.height;
    const qint64 stride = ((w * bmp.bpp + 31) / 32) * 4;
    const qint64 lastRowBytes = (w * bmp.bpp + 7) / 8;
    if (!b.has(bmp.pixelOffset, stride * (h - 1) + lastRowBytes))
        fail(truncatedBmp());
    return [&b, &bmp, w, h, stride](qint64 y, std::uint32_t *d) {
        const std::uint8_t *s = b.p + bmp.pixelOffset + stride * (bmp.topDown ? y : h - 1 - y);
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
    };
}

// Walks an RLE8 or RLE4 stream and calls put(x, row, index) for every pixel it
// sets, rows counted in stored order. Every byte read is bounds-checked; a run or
// a move that leaves the picture, or a stream that ends before its end-of-bitmap
// mark, fails.
template <typename Put> void walkRle(const ByteView &b, const BmpInfo &bmp, const Put &put)
{
    const bool four = bmp.compression == kBiRle4;
    const qint64 w = bmp.width, h = bmp.height;
    const auto byte = [&b](qint64 at) -> unsigned {
        if (!b.has(at, 1))
            fail(truncatedBmp());
        return b.p[at];
    };
    const auto outside = [] { fail(tr("圧縮 BMP のデータが画像の範囲を超えているため読み込めません")); };
    qint64 at = bmp.pixelOffset, x = 0, row = 0;
    for (;;) {
        const unsigned count = byte(at), value = byte(at + 1);
        at += 2;
        if (count > 0) { // a run of one index (RLE4: two alternating ones)
            if (row >= h || x + count > w)
                outside();
            for (unsigned n = 0; n < count; ++n)
                put(x + n, row, !four ? value : n % 2 ? value & 0x0F : value >> 4);
            x += count;
        } else if (value == 0) { // end of line
            x = 0;
            ++row;
        } else if (value == 1) { // end of bitmap
            return;
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
            at += bytes + bytes % 2;
        }
    }
}

// RLE rows, expanded into one index per pixel. The stream is walked once without
// writing before any memory is taken, so a header that lies about the size is
// found out by its data first.
RowDecoder rleRows(const ByteView &b, const BmpInfo &bmp, std::vector<std::uint8_t> &indices)
{
    walkRle(b, bmp, [](qint64, qint64, unsigned) {});
    const qint64 w = bmp.width, h = bmp.height;
    try {
        indices.assign(static_cast<size_t>(w * h), 0);
    } catch (const std::bad_alloc &) {
        fail(tr("画像を展開するメモリが足りません（%1 × %2 ピクセル）").arg(w).arg(h));
    }
    std::uint8_t *const data = indices.data();
    walkRle(b, bmp,
            [data, w](qint64 x, qint64 row, unsigned index) { data[row * w + x] = static_cast<std::uint8_t>(index); });
    return [&bmp, data, w, h](qint64 y, std::uint32_t *d) {
        const std::uint8_t *s = data + (bmp.topDown ? y : h - 1 - y) * w;
        for (qint64 x = 0; x < w; ++x)
            d[x] = bmp.palette[s[x]];
    };
}

QImage fullRows(const RowDecoder &row, qint64 w, qint64 h)
{
    QImage img = allocate(static_cast<int>(w), static_cast<int>(h));
    for (qint64 y = 0; y < h; ++y)
        row(y, reinterpret_cast<std::uint32_t *>(img.scanLine(static_cast<int>(y))));
    return img;
}

// Each output pixel is the mean of a k x k block; the last blocks of a row or
// column hold only the w mod k (h mod k) pixels that are left.
QImage averagedRows(const RowDecoder &decodeRow, qint64 w, qint64 h, int k)
{
    const int outW = static_cast<int>((w + k - 1) / k);
    const int outH = static_cast<int>((h + k - 1) / k);
    QImage img = allocate(outW, outH);
    std::vector<std::uint32_t> row(static_cast<size_t>(w));
    std::vector<std::uint32_t> sums(static_cast<size_t>(outW) * 3);
    for (int oy = 0; oy < outH; ++oy) {
        std::fill(sums.begin(), sums.end(), 0u);
        const int rows = static_cast<int>(std::min<qint64>(k, h - qint64(oy) * k));
        for (int r = 0; r < rows; ++r) {
            decodeRow(qint64(oy) * k + r, row.data());
            const std::uint32_t *px = row.data();
            const std::uint32_t *const rowEnd = px + w;
            for (std::uint32_t *sum = sums.data(); px < rowEnd; sum += 3) {
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
        auto *d = reinterpret_cast<std::uint32_t *>(img.scanLine(oy));
        for (int ox = 0; ox < outW; ++ox) {
            const std::uint32_t cols = static_cast<std::uint32_t>(std::min<qint64>(k, w - qint64(ox) * k));
            const std::uint32_t n = cols * static_cast<std::uint32_t>(rows);
            const std::uint32_t *sum = &sums[static_cast<size_t>(ox) * 3];
            d[ox] =
                0xFF000000u | (((sum[2] + n / 2) / n) << 16) | (((sum[1] + n / 2) / n) << 8) | ((sum[0] + n / 2) / n);
        }
    }
    return img;
}

DecodedPicture decodeBmp(const ByteView &b, const NeedFunction &needFor)
{
    const BmpInfo bmp = readBmpHeader(b);
    const qint64 w = bmp.width, h = bmp.height;
    std::vector<std::uint8_t> indices; // RLE only
    const RowDecoder row = bmp.rle() ? rleRows(b, bmp, indices) : plainRows(b, bmp);

    // Shrink on load: a bitmap has no reduced decode of its own, so k x k blocks
    // are averaged while reading, which keeps a large bitmap's memory and the
    // later scaling small.
    const QSize size(static_cast<int>(w), static_cast<int>(h));
    const int k = reduction(w, h, needFor ? needFor(size) : QSize(), {4, 2});
    DecodedPicture out;
    out.image = k == 1 ? fullRows(row, w, h) : averagedRows(row, w, h, k);
    out.size = size;
    out.extent = QRectF(0, 0, double(w) / k, double(h) / k);
    return out;
}

} // namespace

void checkPictureSize(qint64 width, qint64 height)
{
    if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels)
        fail(tr("画像が大きすぎます（%1 × %2 ピクセル。扱えるのは一辺 %3 ピクセル、合計 4 億ピクセルまでです）")
                 .arg(width)
                 .arg(height)
                 .arg(kMaxPictureSide));
}

namespace {

DecodedPicture decodeBytes(const QByteArray &data, const NeedFunction &need)
{
    const ByteView b = ByteView::of(data);
    if (b.size == 0)
        fail(tr("画像ファイルが空です（0 バイト）"));
    // The content decides, never the name: a PNG saved as photo.jpg is a PNG.
    const PictureFormat format = sniffPictureFormat(data);
    switch (format) {
    case PictureFormat::Jpeg: return decodeJpeg(b, data, need);
    case PictureFormat::Bmp: return decodeBmp(b, need);
    case PictureFormat::Unknown:
        fail(tr(
            "対応していない形式のため読み込めません（JPEG、BMP、PNG、TIFF、WebP、GIF、HEIC のいずれでもありません）"));
    default: break;
    }
    FormatPicture p = decodeFormatPicture(data, format, [&need](QSize size) {
        if (need)
            need(size);
    });
    DecodedPicture out;
    out.size = p.image.size();
    out.extent = QRectF(p.image.rect());
    out.image = std::move(p.image);
    out.iccProfile = rgbProfile(p.iccProfile);
    return out;
}

} // namespace

std::optional<QSize> plainJpegSize(const QByteArray &data)
{
    const ByteView b = ByteView::of(data);
    if (!b.has(0, 3) || b.p[0] != 0xFF || b.p[1] != 0xD8 || b.p[2] != 0xFF)
        return std::nullopt;
    std::unique_ptr<void, TjDeleter> tj(tjInitDecompress());
    int w = 0, h = 0, subsamp = 0, colorspace = 0;
    if (!tj
        || tjDecompressHeader3(tj.get(), const_cast<unsigned char *>(b.p), static_cast<unsigned long>(b.size), &w, &h,
                               &subsamp, &colorspace)
               != 0
        || colorspace != TJCS_YCbCr || (subsamp != TJSAMP_420 && subsamp != TJSAMP_422 && subsamp != TJSAMP_444)
        || embeddedExifOrientation(data, PictureFormat::Jpeg) != 1)
        return std::nullopt;
    return QSize(w, h);
}

std::optional<JpegPlanes> decodeJpegPlanes(const QByteArray &data, const NeedFunction &need)
{
    const ByteView b = ByteView::of(data);
    if (!b.has(0, 3) || b.p[0] != 0xFF || b.p[1] != 0xD8 || b.p[2] != 0xFF)
        return std::nullopt;
    return decodePlanes(b, data, need);
}

NeedFunction fixedNeed(QSize reduceTo)
{
    return [reduceTo](QSize) { return reduceTo; };
}

DecodedPicture decodePictureData(const QByteArray &data, QSize reduceTo)
{
    return decodePictureData(data, fixedNeed(reduceTo));
}

DecodedPicture decodePictureData(const QByteArray &data, const NeedFunction &need) { return decodeBytes(data, need); }

DecodedPicture decodePicture(const QString &path, QSize reduceTo) { return decodePicture(path, fixedNeed(reduceTo)); }

DecodedPicture decodePicture(const QString &path, const NeedFunction &need)
{
    const QString name = QFileInfo(path).fileName();
    try {
        return decodePictureData(readSourceFile(path), need);
    } catch (const Failure &f) {
        throw Failure(tr("画像「%1」を読み込めません: %2").arg(name, f.message()));
    }
}

} // namespace kestrovia
