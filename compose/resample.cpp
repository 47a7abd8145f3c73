#include "compose/resample.h"

#include "compose/imagebuffer.h"
#include "compose/rowsplit.h"
#include "platform/stop.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <tuple>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define KESTROVIA_AVX2_DISPATCH 1
#endif

namespace kestrovia {

namespace {

// Fixed-point weights: 14 fraction bits leave headroom for the negative lobes of
// the cubic (a single weight may exceed 1 after renormalising at an image edge) in
// the 16-bit lanes that the SIMD multiply-add uses.
constexpr int kShift = 14;
constexpr int kOne = 1 << kShift;

double sinc(double x)
{
    if (x == 0.0)
        return 1.0;
    const double px = 3.14159265358979323846 * x;
    return std::sin(px) / px;
}

// Reductions: Lanczos-3. Its stopband is far deeper than the cubic's, so detail
// just above the new Nyquist limit (fine texture, a zone plate's outer rings)
// turns grey instead of into moire.
double lanczos3(double x)
{
    x = std::fabs(x);
    return x < 3.0 ? sinc(x) * sinc(x / 3.0) : 0.0;
}

// Enlargements: Catmull-Rom, which rings less than Lanczos where there is no
// detail to keep.
double catmullRom(double x)
{
    x = std::fabs(x);
    if (x < 1.0)
        return (1.5 * x - 2.5) * x * x + 1.0;
    if (x < 2.0)
        return ((-0.5 * x + 2.5) * x - 4.0) * x + 2.0;
    return 0.0;
}

// Per destination pixel along one axis: the first source pixel and its weights.
struct Weights {
    int taps = 0; // most weights any destination pixel uses
    int stride = 0; // taps rounded up to whole groups of 8, zero-padded
    std::vector<int> first; // first source pixel
    std::vector<int> count; // weights in use
    std::vector<std::int16_t> w; // stride per destination pixel
    const std::int16_t *of(int i) const { return &w[static_cast<size_t>(i) * stride]; }
};

// Destination pixels [d0, d1) of the span starting at spanFirst, sampling the
// source range starting at srcStart with `scale` source pixels per destination
// pixel, restricted to the source pixels [lo, hi).
Weights makeWeights(int d0, int d1, int spanFirst, double srcStart, double scale, int lo, int hi)
{
    Weights out;
    const bool reducing = scale > 1.0;
    const double stretch = std::max(scale, 1.0);
    const double radius = (reducing ? 3.0 : 2.0) * stretch;
    out.taps = static_cast<int>(std::ceil(radius)) * 2 + 2;
    out.stride = (out.taps + 7) / 8 * 8;
    const int n = d1 - d0;
    out.first.resize(n);
    out.count.resize(n);
    out.w.assign(static_cast<size_t>(n) * out.stride, 0);
    std::vector<double> fw(out.taps);
    for (int i = 0; i < n; ++i) {
        const double centre = srcStart + (d0 + i - spanFirst + 0.5) * scale;
        int j0 = static_cast<int>(std::floor(centre - radius));
        int j1 = static_cast<int>(std::ceil(centre + radius));
        j0 = std::max(j0, lo);
        j1 = std::min(j1, hi);
        j1 = std::min(j1, j0 + out.taps);
        double sum = 0;
        int cnt = 0;
        for (int j = j0; j < j1; ++j) {
            const double t = (j + 0.5 - centre) / stretch;
            const double v = reducing ? lanczos3(t) : catmullRom(t);
            fw[cnt++] = v;
            sum += v;
        }
        std::int16_t *wi = &out.w[static_cast<size_t>(i) * out.stride];
        double largest = 0;
        for (int k = 0; k < cnt; ++k)
            largest = std::max(largest, std::fabs(fw[k]));
        // A window cut by the image edge down to the negative lobe would need huge
        // renormalised weights; the nearest pixel is the honest answer there.
        if (cnt == 0 || sum < 1e-6 || largest / sum > 1.9) {
            // Nothing under the filter (a sliver of a rectangle at the image edge):
            // take the nearest source pixel.
            j0 = std::clamp(static_cast<int>(std::floor(centre)), lo, hi - 1);
            out.first[i] = j0;
            out.count[i] = 1;
            wi[0] = kOne;
            continue;
        }
        // Round each weight, then give the rounding remainder to the largest one
        // so that a flat area stays exactly flat.
        int total = 0;
        int biggest = 0;
        for (int k = 0; k < cnt; ++k) {
            wi[k] = static_cast<std::int16_t>(std::lround(fw[k] / sum * kOne));
            total += wi[k];
            if (wi[k] > wi[biggest])
                biggest = k;
        }
        wi[biggest] = static_cast<std::int16_t>(wi[biggest] + (kOne - total));
        out.first[i] = j0;
        out.count[i] = cnt;
    }
    return out;
}

// The weights of one axis, remembered per thread: a batch scales picture after
// picture of one size, and both colour planes of a JPEG alike. Large tables (huge
// reductions) are not kept.
const Weights &weightsFor(int d0, int d1, int spanFirst, double srcStart, double scale, int lo, int hi)
{
    struct Entry {
        std::tuple<int, int, int, double, double, int, int> key;
        Weights weights;
    };
    constexpr size_t kEntries = 8;
    constexpr size_t kLargestKept = 1 << 18; // weights, 512 KB
    thread_local std::deque<Entry> kept;
    thread_local Weights uncached;
    const auto key = std::make_tuple(d0, d1, spanFirst, srcStart, scale, lo, hi);
    for (const Entry &e : kept)
        if (e.key == key)
            return e.weights;
    Weights w = makeWeights(d0, d1, spanFirst, srcStart, scale, lo, hi);
    if (w.w.size() > kLargestKept) {
        uncached = std::move(w);
        return uncached;
    }
    if (kept.size() == kEntries)
        kept.pop_back();
    kept.push_front(Entry{key, std::move(w)});
    return kept.front().weights;
}

[[maybe_unused]] inline std::uint32_t clampPixel(int b, int g, int r)
{
    const auto c = [](int v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); };
    return 0xFF000000u | (c(r) << 16) | (c(g) << 8) | c(b);
}

// Two weights side by side, for a multiply-add over interleaved pixel pairs.
inline int weightPair(std::int16_t first, std::int16_t second)
{
    return static_cast<int>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(second)) << 16)
                            | static_cast<std::uint16_t>(first));
}

// One output row of the horizontal pass.
void horizontalRow(const std::uint32_t *src, std::uint32_t *dst, const Weights &wx, int n)
{
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi32(1 << (kShift - 1));
    for (int i = 0; i < n; ++i) {
        const std::uint32_t *p = src + wx.first[i];
        const std::int16_t *w = wx.of(i);
        const int cnt = wx.count[i];
        __m128i acc = half;
        int k = 0;
        for (; k + 1 < cnt; k += 2) {
            // Interleave two pixels channel by channel so one multiply-add applies
            // both weights: lanes (b0,b1,g0,g1,r0,r1,x0,x1).
            const __m128i a = _mm_cvtsi32_si128(static_cast<int>(p[k]));
            const __m128i b = _mm_cvtsi32_si128(static_cast<int>(p[k + 1]));
            const __m128i ab = _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, b), zero);
            const __m128i ww = _mm_set1_epi32(weightPair(w[k], w[k + 1]));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(ab, ww));
        }
        if (k < cnt) {
            const __m128i a = _mm_cvtsi32_si128(static_cast<int>(p[k]));
            const __m128i a0 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, zero), zero);
            const __m128i ww = _mm_set1_epi32(static_cast<std::uint16_t>(w[k]));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(a0, ww));
        }
        acc = _mm_srai_epi32(acc, kShift);
        acc = _mm_packs_epi32(acc, acc);
        acc = _mm_packus_epi16(acc, acc);
        dst[i] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(acc)) | 0xFF000000u;
    }
#else
    for (int i = 0; i < n; ++i) {
        const std::uint32_t *p = src + wx.first[i];
        const std::int16_t *w = wx.of(i);
        int b = 1 << (kShift - 1), g = b, r = b;
        for (int k = 0; k < wx.count[i]; ++k) {
            b += w[k] * int(p[k] & 0xFF);
            g += w[k] * int((p[k] >> 8) & 0xFF);
            r += w[k] * int((p[k] >> 16) & 0xFF);
        }
        dst[i] = clampPixel(b >> kShift, g >> kShift, r >> kShift);
    }
#endif
}

#if defined(KESTROVIA_AVX2_DISPATCH)
// The vertical pass 32 bytes at a time on processors with AVX2, with the sums of
// the 16-byte pass below, so both give the same pixels. The unpacks and packs work
// within 128-bit lanes and so keep the bytes in order. Returns the bytes done.
__attribute__((target("avx2"))) int verticalRowAvx2(const std::uint8_t *const *rows, const std::int16_t *w, int cnt,
                                                    std::uint8_t *dst, int bytes)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i half = _mm256_set1_epi32(1 << (kShift - 1));
    int x = 0;
    for (; x + 32 <= bytes; x += 32) {
        __m256i a0 = half, a1 = half, a2 = half, a3 = half;
        int k = 0;
        for (; k + 1 < cnt; k += 2) {
            const __m256i r0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(rows[k] + x));
            const __m256i r1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(rows[k + 1] + x));
            const __m256i ww = _mm256_set1_epi32(weightPair(w[k], w[k + 1]));
            const __m256i lo = _mm256_unpacklo_epi8(r0, r1);
            const __m256i hi = _mm256_unpackhi_epi8(r0, r1);
            a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, zero), ww));
            a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, zero), ww));
            a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, zero), ww));
            a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, zero), ww));
        }
        if (k < cnt) {
            const __m256i r0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(rows[k] + x));
            const __m256i ww = _mm256_set1_epi32(static_cast<std::uint16_t>(w[k]));
            const __m256i lo = _mm256_unpacklo_epi8(r0, zero);
            const __m256i hi = _mm256_unpackhi_epi8(r0, zero);
            a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(_mm256_unpacklo_epi16(lo, zero), ww));
            a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(_mm256_unpackhi_epi16(lo, zero), ww));
            a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(_mm256_unpacklo_epi16(hi, zero), ww));
            a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(_mm256_unpackhi_epi16(hi, zero), ww));
        }
        a0 = _mm256_srai_epi32(a0, kShift);
        a1 = _mm256_srai_epi32(a1, kShift);
        a2 = _mm256_srai_epi32(a2, kShift);
        a3 = _mm256_srai_epi32(a3, kShift);
        const __m256i packed = _mm256_packus_epi16(_mm256_packs_epi32(a0, a1), _mm256_packs_epi32(a2, a3));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x), packed);
    }
    return x;
}

const bool kHasAvx2 = __builtin_cpu_supports("avx2");
#endif

// One output row of the vertical pass: rows[k] weighted by w[k], `bytes` long.
void verticalRow(const std::uint8_t *const *rows, const std::int16_t *w, int cnt, std::uint8_t *dst, int bytes)
{
    int x = 0;
#if defined(KESTROVIA_AVX2_DISPATCH)
    if (kHasAvx2)
        x = verticalRowAvx2(rows, w, cnt, dst, bytes);
#endif
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi32(1 << (kShift - 1));
    for (; x + 16 <= bytes; x += 16) {
        __m128i a0 = half, a1 = half, a2 = half, a3 = half;
        int k = 0;
        for (; k + 1 < cnt; k += 2) {
            const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k] + x));
            const __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k + 1] + x));
            const __m128i ww = _mm_set1_epi32(weightPair(w[k], w[k + 1]));
            const __m128i lo = _mm_unpacklo_epi8(r0, r1);
            const __m128i hi = _mm_unpackhi_epi8(r0, r1);
            a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), ww));
            a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), ww));
            a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), ww));
            a3 = _mm_add_epi32(a3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), ww));
        }
        if (k < cnt) {
            const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k] + x));
            const __m128i ww = _mm_set1_epi32(static_cast<std::uint16_t>(w[k]));
            const __m128i lo = _mm_unpacklo_epi8(r0, zero);
            const __m128i hi = _mm_unpackhi_epi8(r0, zero);
            a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_unpacklo_epi16(lo, zero), ww));
            a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_unpackhi_epi16(lo, zero), ww));
            a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_unpacklo_epi16(hi, zero), ww));
            a3 = _mm_add_epi32(a3, _mm_madd_epi16(_mm_unpackhi_epi16(hi, zero), ww));
        }
        a0 = _mm_srai_epi32(a0, kShift);
        a1 = _mm_srai_epi32(a1, kShift);
        a2 = _mm_srai_epi32(a2, kShift);
        a3 = _mm_srai_epi32(a3, kShift);
        const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(a0, a1), _mm_packs_epi32(a2, a3));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x), packed);
    }
#endif
    for (; x < bytes; ++x) {
        int acc = 1 << (kShift - 1);
        for (int k = 0; k < cnt; ++k)
            acc += w[k] * int(rows[k][x]);
        dst[x] = static_cast<std::uint8_t>(std::clamp(acc >> kShift, 0, 255));
    }
}

int clampToInt(double v)
{
    constexpr double lim = std::numeric_limits<int>::max() / 2;
    return static_cast<int>(std::clamp(v, -lim, lim));
}

// One output row of the horizontal pass over a single-channel plane whose source
// row holds `width` pixels.
void horizontalRowGray(const std::uint8_t *src, int width, std::uint8_t *dst, const Weights &wx, int n)
{
    int i = 0;
#if defined(__SSE2__)
    // Four outputs at a time, each over groups of 8 weights and a last group of 4
    // when no more are left: the weights past an output's count are zero, so the
    // extra pixels read add nothing. Outputs whose groups would reach past the row
    // are left to the loop below.
    const __m128i zero = _mm_setzero_si128();
    const auto padded = [](int count) { return count / 8 * 8 + (count % 8 == 0 ? 0 : count % 8 <= 4 ? 4 : 8); };
    const auto fits = [&](int o) { return wx.first[o] + padded(wx.count[o]) <= width; };
    const auto sums = [&](int o) {
        const std::uint8_t *p = src + wx.first[o];
        const std::int16_t *w = wx.of(o);
        const int count = wx.count[o];
        __m128i sum = zero;
        int k = 0;
        for (; k < count - 4; k += 8) {
            const __m128i px = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + k)), zero);
            sum = _mm_add_epi32(sum, _mm_madd_epi16(px, _mm_loadu_si128(reinterpret_cast<const __m128i *>(w + k))));
        }
        if (k < count) {
            int four;
            std::memcpy(&four, p + k, sizeof four);
            const __m128i px = _mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero);
            sum = _mm_add_epi32(sum, _mm_madd_epi16(px, _mm_loadl_epi64(reinterpret_cast<const __m128i *>(w + k))));
        }
        return sum;
    };
    const __m128i half = _mm_set1_epi32(1 << (kShift - 1));
    for (; i + 4 <= n && fits(i) && fits(i + 1) && fits(i + 2) && fits(i + 3); i += 4) {
        const __m128i s0 = sums(i), s1 = sums(i + 1), s2 = sums(i + 2), s3 = sums(i + 3);
        // Lane k of the total is the sum of the lanes of sk.
        const __m128i t01 = _mm_add_epi32(_mm_unpacklo_epi32(s0, s1), _mm_unpackhi_epi32(s0, s1));
        const __m128i t23 = _mm_add_epi32(_mm_unpacklo_epi32(s2, s3), _mm_unpackhi_epi32(s2, s3));
        __m128i total = _mm_add_epi32(_mm_unpacklo_epi64(t01, t23), _mm_unpackhi_epi64(t01, t23));
        total = _mm_srai_epi32(_mm_add_epi32(total, half), kShift);
        total = _mm_packus_epi16(_mm_packs_epi32(total, total), total);
        const int four = _mm_cvtsi128_si32(total);
        std::memcpy(dst + i, &four, sizeof four);
    }
#endif
    for (; i < n; ++i) {
        const std::uint8_t *p = src + wx.first[i];
        const std::int16_t *w = wx.of(i);
        int acc = 1 << (kShift - 1);
        for (int k = 0; k < wx.count[i]; ++k)
            acc += w[k] * int(p[k]);
        dst[i] = static_cast<std::uint8_t>(std::clamp(acc >> kShift, 0, 255));
    }
}

// Pixels of 4 bytes (Format_RGB32) or 1 byte (Format_Grayscale8).
template <int Bytes> struct PixelKind;
template <> struct PixelKind<4> {
    using Type = std::uint32_t;
    static constexpr QImage::Format format = QImage::Format_RGB32;
    static void horizontal(const Type *src, int, Type *dst, const Weights &wx, int n)
    {
        horizontalRow(src, dst, wx, n);
    }
};
template <> struct PixelKind<1> {
    using Type = std::uint8_t;
    static constexpr QImage::Format format = QImage::Format_Grayscale8;
    static void horizontal(const Type *src, int width, Type *dst, const Weights &wx, int n)
    {
        horizontalRowGray(src, width, dst, wx, n);
    }
};

} // namespace

PixelSpan pixelSpan(double start, double length)
{
    if (!std::isfinite(start) || !std::isfinite(length) || length <= 0)
        return {};
    // nearbyint: nearest boundary, ties to even under the default rounding mode.
    const int first = clampToInt(std::nearbyint(start));
    const int end = clampToInt(std::nearbyint(start + length));
    return end > first ? PixelSpan{first, end} : PixelSpan{first, first};
}

namespace {

template <int Bytes>
void drawScaledImpl(QImage &dest, const QRectF &destRect, const QImage &srcIn, const QRectF &srcRect)
{
    using Pixel = typename PixelKind<Bytes>::Type;
    constexpr QImage::Format format = PixelKind<Bytes>::format;
    if (dest.isNull() || srcIn.isNull() || !(srcRect.width() > 0) || !(srcRect.height() > 0))
        return;
    if (dest.format() != format)
        dest = dest.convertToFormat(format);
    const QImage src = srcIn.format() == format ? srcIn : srcIn.convertToFormat(format);

    const PixelSpan sx = pixelSpan(destRect.x(), destRect.width());
    const PixelSpan sy = pixelSpan(destRect.y(), destRect.height());
    const int cx0 = std::max(sx.first, 0), cx1 = std::min(sx.end, dest.width());
    const int cy0 = std::max(sy.first, 0), cy1 = std::min(sy.end, dest.height());
    if (cx0 >= cx1 || cy0 >= cy1)
        return;

    // Source pixels the rectangle touches; nothing outside it bleeds in.
    const int lox = std::max(0, clampToInt(std::floor(srcRect.left())));
    const int hix = std::min(src.width(), clampToInt(std::ceil(srcRect.right())));
    const int loy = std::max(0, clampToInt(std::floor(srcRect.top())));
    const int hiy = std::min(src.height(), clampToInt(std::ceil(srcRect.bottom())));
    if (lox >= hix || loy >= hiy)
        return;

    const double scaleX = srcRect.width() / (sx.end - sx.first);
    const double scaleY = srcRect.height() / (sy.end - sy.first);

    // One to one at a whole-pixel offset: a plain block copy.
    if (scaleX == 1.0 && scaleY == 1.0 && srcRect.left() == std::floor(srcRect.left())
        && srcRect.top() == std::floor(srcRect.top())) {
        const int offX = clampToInt(srcRect.left()) - sx.first;
        const int offY = clampToInt(srcRect.top()) - sy.first;
        const int x0 = std::max(cx0, lox - offX), x1 = std::min(cx1, hix - offX);
        const int y0 = std::max(cy0, loy - offY), y1 = std::min(cy1, hiy - offY);
        for (int y = y0; y < y1; ++y) {
            const auto *s = reinterpret_cast<const Pixel *>(src.constScanLine(y + offY));
            auto *d = reinterpret_cast<Pixel *>(dest.scanLine(y));
            if (x1 > x0)
                std::memcpy(d + x0, s + x0 + offX, sizeof(Pixel) * (x1 - x0));
        }
        return;
    }

    const Weights wx = weightsFor(cx0, cx1, sx.first, srcRect.left(), scaleX, lox, hix);
    const Weights wy = weightsFor(cy0, cy1, sy.first, srcRect.top(), scaleY, loy, hiy);
    const int outW = cx1 - cx0;
    const int outH = cy1 - cy0;

    const uchar *srcBits = src.constBits();
    const qsizetype srcStride = src.bytesPerLine();
    std::uint8_t *destBits = dest.bits();
    const qsizetype destStride = dest.bytesPerLine();

    // Source rows and columns that any destination pixel needs.
    int rowLo = std::numeric_limits<int>::max(), rowHi = 0;
    for (int j = 0; j < outH; ++j) {
        rowLo = std::min(rowLo, wy.first[j]);
        rowHi = std::max(rowHi, wy.first[j] + wy.count[j]);
    }
    int colLo = std::numeric_limits<int>::max(), colHi = 0;
    for (int i = 0; i < outW; ++i) {
        colLo = std::min(colLo, wx.first[i]);
        colHi = std::max(colHi, wx.first[i] + wx.count[i]);
    }
    const int midH = rowHi - rowLo;
    const int midW = colHi - colLo;

    // The vertical pass runs straight along whole rows, the horizontal one gathers
    // a window for every pixel and costs more per weight: when the picture shrinks
    // in height, running the vertical pass first over the full source width leaves
    // the slower pass far fewer rows.
    constexpr double kHorizontalCost = Bytes == 4 ? 4 : 2;
    const double horizontalFirst = double(midH) * outW * wx.taps * kHorizontalCost + double(outH) * outW * wy.taps;
    const double verticalFirst = double(outH) * midW * wy.taps + double(outH) * outW * wx.taps * kHorizontalCost;
    if (verticalFirst < horizontalFirst) {
        const auto midBuffer = newBuffer(static_cast<size_t>(midW) * outH * Bytes);
        auto *mid = reinterpret_cast<Pixel *>(midBuffer.get());
        Weights wxMid = wx; // columns counted from colLo in the intermediate rows
        for (int &f : wxMid.first)
            f -= colLo;
        splitRows(outH, double(outH) * midW * wy.taps, [&](int first, int end) {
            std::vector<const std::uint8_t *> rows(wy.taps);
            for (int j = first; j < end; ++j) {
                for (int k = 0; k < wy.count[j]; ++k)
                    rows[k] = srcBits + (wy.first[j] + k) * srcStride + static_cast<size_t>(colLo) * Bytes;
                auto *m = reinterpret_cast<std::uint8_t *>(mid + static_cast<size_t>(j) * midW);
                verticalRow(rows.data(), wy.of(j), wy.count[j], m, midW * Bytes);
            }
        });
        splitRows(outH, double(outH) * outW * wx.taps * kHorizontalCost, [&](int first, int end) {
            for (int j = first; j < end; ++j)
                PixelKind<Bytes>::horizontal(
                    mid + static_cast<size_t>(j) * midW, midW,
                    reinterpret_cast<Pixel *>(destBits + static_cast<size_t>(cy0 + j) * destStride) + cx0, wxMid, outW);
        });
        return;
    }

    // Otherwise the horizontal pass runs once for each source row needed.
    const auto midBuffer = newBuffer(static_cast<size_t>(outW) * midH * Bytes);
    auto *mid = reinterpret_cast<Pixel *>(midBuffer.get());
    splitRows(midH, double(midH) * outW * wx.taps, [&](int first, int end) {
        for (int r = first; r < end; ++r)
            PixelKind<Bytes>::horizontal(reinterpret_cast<const Pixel *>(srcBits + (rowLo + r) * srcStride),
                                         src.width(), mid + static_cast<size_t>(r) * outW, wx, outW);
    });

    splitRows(outH, double(outH) * outW * 4 * wy.taps, [&](int first, int end) {
        std::vector<const std::uint8_t *> rows(wy.taps);
        for (int j = first; j < end; ++j) {
            for (int k = 0; k < wy.count[j]; ++k)
                rows[k] =
                    reinterpret_cast<const std::uint8_t *>(mid + static_cast<size_t>(wy.first[j] - rowLo + k) * outW);
            auto *d = destBits + static_cast<size_t>(cy0 + j) * destStride + static_cast<size_t>(cx0) * Bytes;
            verticalRow(rows.data(), wy.of(j), wy.count[j], d, outW * Bytes);
        }
    });
}

} // namespace

void drawScaled(QImage &dest, const QRectF &destRect, const QImage &src, const QRectF &srcRect)
{
    drawScaledImpl<4>(dest, destRect, src, srcRect);
}

void drawScaledPlane(QImage &dest, const QRectF &destRect, const QImage &src, const QRectF &srcRect)
{
    drawScaledImpl<1>(dest, destRect, src, srcRect);
}

// drawScaledImpl for a source that arrives row by row, top to bottom: the same
// weights, the same choice of pass order and the same row routines, so the pixels
// are those of drawScaled over the whole picture; only the filter's window of rows
// (source rows vertical-first, horizontally reduced rows horizontal-first) is held.
struct RowScaler::Plan {
    int bytes = 4;
    int srcW = 0;
    size_t srcRowBytes = 0;
    int chunk = 16;
    QImage *dest = nullptr;
    std::uint8_t *destBits = nullptr;
    qsizetype destStride = 0;
    bool copy = false; // one to one at a whole-pixel offset
    int offX = 0, offY = 0, x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    Weights wx, wxMid, wy;
    int cx0 = 0, cy0 = 0, outW = 0, outH = 0, rowLo = 0, rowHi = 0, colLo = 0, midW = 0;
    bool verticalFirst = true;
    std::vector<int> endUpTo, firstFrom;
    int cap = 0;
    std::vector<std::uint8_t> ring, scratch, band;
    std::vector<std::uint8_t *> ptrs;
    int pulled = 0; // source rows in
    int nextOut = 0; // output rows made
    bool empty = true;

    std::uint8_t *slot(int r)
    {
        const size_t rowBytes = verticalFirst ? srcRowBytes : size_t(outW) * bytes;
        return ring.data() + size_t((r - rowLo) % cap) * rowBytes;
    }
    template <int Bytes> void put(int n);
    template <int Bytes> void setUp(QImage &d, const QRectF &destRect, QSize srcSize, const QRectF &srcRect);
};

template <int Bytes>
void RowScaler::Plan::setUp(QImage &d, const QRectF &destRect, QSize srcSize, const QRectF &srcRect)
{
    constexpr QImage::Format format = PixelKind<Bytes>::format;
    bytes = Bytes;
    srcRowBytes = size_t(std::max(srcSize.width(), 1)) * Bytes;
    scratch.resize(size_t(chunk) * srcRowBytes);
    ptrs.resize(size_t(chunk));
    if (d.isNull() || srcSize.isEmpty() || !(srcRect.width() > 0) || !(srcRect.height() > 0))
        return;
    if (d.format() != format)
        d = d.convertToFormat(format);
    dest = &d;
    srcW = srcSize.width();
    const int srcH = srcSize.height();
    destBits = d.bits();
    destStride = d.bytesPerLine();

    const PixelSpan sx = pixelSpan(destRect.x(), destRect.width());
    const PixelSpan sy = pixelSpan(destRect.y(), destRect.height());
    cx0 = std::max(sx.first, 0);
    cy0 = std::max(sy.first, 0);
    const int cx1 = std::min(sx.end, d.width()), cy1 = std::min(sy.end, d.height());
    if (cx0 >= cx1 || cy0 >= cy1)
        return;
    const int lox = std::max(0, clampToInt(std::floor(srcRect.left())));
    const int hix = std::min(srcW, clampToInt(std::ceil(srcRect.right())));
    const int loy = std::max(0, clampToInt(std::floor(srcRect.top())));
    const int hiy = std::min(srcH, clampToInt(std::ceil(srcRect.bottom())));
    if (lox >= hix || loy >= hiy)
        return;
    const double scaleX = srcRect.width() / (sx.end - sx.first);
    const double scaleY = srcRect.height() / (sy.end - sy.first);
    empty = false;

    if (scaleX == 1.0 && scaleY == 1.0 && srcRect.left() == std::floor(srcRect.left())
        && srcRect.top() == std::floor(srcRect.top())) {
        copy = true;
        offX = clampToInt(srcRect.left()) - sx.first;
        offY = clampToInt(srcRect.top()) - sy.first;
        x0 = std::max(cx0, lox - offX);
        x1 = std::min(cx1, hix - offX);
        y0 = std::max(cy0, loy - offY);
        y1 = std::min(cy1, hiy - offY);
        rowLo = y0 + offY;
        rowHi = std::max(rowLo, y1 + offY);
        return;
    }

    wx = weightsFor(cx0, cx1, sx.first, srcRect.left(), scaleX, lox, hix);
    wy = weightsFor(cy0, cy1, sy.first, srcRect.top(), scaleY, loy, hiy);
    outW = cx1 - cx0;
    outH = cy1 - cy0;
    rowLo = std::numeric_limits<int>::max();
    for (int j = 0; j < outH; ++j) {
        rowLo = std::min(rowLo, wy.first[j]);
        rowHi = std::max(rowHi, wy.first[j] + wy.count[j]);
    }
    colLo = std::numeric_limits<int>::max();
    int colHi = 0;
    for (int i = 0; i < outW; ++i) {
        colLo = std::min(colLo, wx.first[i]);
        colHi = std::max(colHi, wx.first[i] + wx.count[i]);
    }
    const int midH = rowHi - rowLo;
    midW = colHi - colLo;
    constexpr double kHorizontalCost = Bytes == 4 ? 4 : 2;
    const double horizontalFirst = double(midH) * outW * wx.taps * kHorizontalCost + double(outH) * outW * wy.taps;
    const double vertical = double(outH) * midW * wy.taps + double(outH) * outW * wx.taps * kHorizontalCost;
    verticalFirst = vertical < horizontalFirst;
    wxMid = wx;
    for (int &f : wxMid.first)
        f -= colLo;

    // The window an output row needs: from the lowest first row of the rows still to
    // come to the highest end so far.
    endUpTo.resize(size_t(outH));
    firstFrom.resize(size_t(outH));
    for (int j = 0, end = 0; j < outH; ++j)
        endUpTo[size_t(j)] = end = std::max(end, wy.first[j] + wy.count[j]);
    for (int j = outH - 1, first = std::numeric_limits<int>::max(); j >= 0; --j)
        firstFrom[size_t(j)] = first = std::min(first, wy.first[j]);
    int window = 0;
    for (int j = 0; j < outH; ++j)
        window = std::max(window, endUpTo[size_t(j)] - firstFrom[size_t(j)]);
    cap = window + chunk;
    ring.resize(size_t(cap) * (verticalFirst ? srcRowBytes : size_t(outW) * Bytes));
    if (!verticalFirst)
        band.resize(size_t(chunk) * srcRowBytes);
}

template <int Bytes> void RowScaler::Plan::put(int n)
{
    using Pixel = typename PixelKind<Bytes>::Type;
    constexpr double kHorizontalCost = Bytes == 4 ? 4 : 2;
    const int at = pulled;
    pulled += n;
    if (copy) {
        for (int r = at; r < pulled; ++r) {
            const int y = r - offY;
            if (y < y0 || y >= y1 || x1 <= x0)
                continue;
            std::memcpy(destBits + size_t(y) * destStride + size_t(x0) * Bytes,
                        ptrs[size_t(r - at)] + size_t(x0 + offX) * Bytes, size_t(x1 - x0) * Bytes);
        }
        return;
    }
    if (!verticalFirst) {
        // Each source row needed is reduced as it comes.
        const int first = std::max(at, rowLo), end = std::min(pulled, rowHi);
        if (end > first)
            splitRows(end - first, double(end - first) * outW * wx.taps, [&](int f, int e) {
                for (int r = first + f; r < first + e; ++r)
                    PixelKind<Bytes>::horizontal(reinterpret_cast<const Pixel *>(ptrs[size_t(r - at)]), srcW,
                                                 reinterpret_cast<Pixel *>(slot(r)), wx, outW);
            });
    }
    int jEnd = nextOut;
    while (jEnd < outH && endUpTo[size_t(jEnd)] <= pulled)
        ++jEnd;
    const int j = nextOut;
    if (jEnd == j)
        return;
    if (verticalFirst) {
        splitRows(jEnd - j, double(jEnd - j) * (double(midW) * wy.taps + double(outW) * wx.taps * kHorizontalCost),
                  [&](int first, int end) {
                      std::vector<const std::uint8_t *> rows(size_t(wy.taps));
                      std::vector<Pixel> mid(static_cast<size_t>(midW));
                      for (int jj = j + first; jj < j + end; ++jj) {
                          for (int k = 0; k < wy.count[jj]; ++k)
                              rows[size_t(k)] = slot(wy.first[jj] + k) + size_t(colLo) * Bytes;
                          verticalRow(rows.data(), wy.of(jj), wy.count[jj],
                                      reinterpret_cast<std::uint8_t *>(mid.data()), midW * Bytes);
                          PixelKind<Bytes>::horizontal(
                              mid.data(), midW,
                              reinterpret_cast<Pixel *>(destBits + size_t(cy0 + jj) * destStride) + cx0, wxMid, outW);
                      }
                  });
    } else {
        splitRows(jEnd - j, double(jEnd - j) * outW * 4 * wy.taps, [&](int first, int end) {
            std::vector<const std::uint8_t *> rows(size_t(wy.taps));
            for (int jj = j + first; jj < j + end; ++jj) {
                for (int k = 0; k < wy.count[jj]; ++k)
                    rows[size_t(k)] = slot(wy.first[jj] + k);
                verticalRow(rows.data(), wy.of(jj), wy.count[jj],
                            destBits + size_t(cy0 + jj) * destStride + size_t(cx0) * Bytes, outW * Bytes);
            }
        });
    }
    nextOut = jEnd;
}

RowScaler::RowScaler(QImage &dest, const QRectF &destRect, QSize srcSize, const QRectF &srcRect, int bytesPerPixel,
                     int chunk)
    : m(std::make_unique<Plan>())
{
    m->chunk = std::max(1, chunk);
    if (bytesPerPixel == 1)
        m->setUp<1>(dest, destRect, srcSize, srcRect);
    else
        m->setUp<4>(dest, destRect, srcSize, srcRect);
}

RowScaler::~RowScaler() = default;

bool RowScaler::wantsMore() const { return !m->empty && m->pulled < m->rowHi; }

int RowScaler::nextRow() const { return m->pulled; }

std::uint8_t *const *RowScaler::take(int n)
{
    Plan &p = *m;
    for (int i = 0; i < n; ++i) {
        const int r = p.pulled + i;
        std::uint8_t *to = p.scratch.data() + size_t(i) * p.srcRowBytes;
        if (!p.copy && r >= p.rowLo && r < p.rowHi)
            to = p.verticalFirst ? p.slot(r) : p.band.data() + size_t(i) * p.srcRowBytes;
        p.ptrs[size_t(i)] = to;
    }
    return p.ptrs.data();
}

void RowScaler::put(int n)
{
    if (m->empty) {
        m->pulled += n;
        return;
    }
    if (m->bytes == 1)
        m->put<1>(n);
    else
        m->put<4>(n);
    checkPoint();
}

namespace {

template <int Bytes>
void drawScaledRowsImpl(QImage &dest, const QRectF &destRect, QSize srcSize, const QRectF &srcRect, const RowPull &pull)
{
    constexpr int kBand = 16;
    RowScaler scaler(dest, destRect, srcSize, srcRect, Bytes, kBand);
    while (scaler.wantsMore()) {
        const int n = std::min(kBand, srcSize.height() - scaler.nextRow());
        pull(scaler.take(n), n);
        scaler.put(n);
    }
}

} // namespace

void drawScaledRows(QImage &dest, const QRectF &destRect, QSize srcSize, const QRectF &srcRect, const RowPull &pull)
{
    drawScaledRowsImpl<4>(dest, destRect, srcSize, srcRect, pull);
}

void drawScaledPlaneRows(QImage &dest, const QRectF &destRect, QSize srcSize, const QRectF &srcRect,
                         const RowPull &pull)
{
    drawScaledRowsImpl<1>(dest, destRect, srcSize, srcRect, pull);
}

qint64 scaledRowsMemory(QSize srcSize, int bytesPerPixel, QSize destSize, double scaleY)
{
    // The ring: the filter's rows (Lanczos-3 widened by the reduction) and a band,
    // of the wider of a source and an output row.
    const int taps = int(std::ceil(3.0 * std::max(scaleY, 1.0))) * 2 + 2;
    const qint64 row = qint64(std::max(srcSize.width(), destSize.width())) * bytesPerPixel;
    return row * (taps + 3 * 16) + qint64(destSize.width()) * 4 * 16;
}

} // namespace kestrovia
