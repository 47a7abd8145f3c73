#pragma once
// What an output should hold, worked out without the engine: a picture as floats,
// reduced by a Lanczos-3 written here, laid out as the job says, and the distance
// of a written picture from it in dB.

#include <QImage>
#include <QRect>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace testref {

// Straight RGBA, each sample 0..255 as a float, row by row.
struct Floats {
    int w = 0, h = 0;
    std::vector<float> p;
    Floats() = default;
    Floats(int width, int height)
        : w(width)
        , h(height)
        , p(size_t(width) * size_t(height) * 4)
    {
    }
    float *at(int x, int y) { return &p[(size_t(y) * size_t(w) + size_t(x)) * 4]; }
    const float *at(int x, int y) const { return &p[(size_t(y) * size_t(w) + size_t(x)) * 4]; }
};

// Every bit of the image kept: 16-bit samples stay 16-bit.
inline Floats floats(const QImage &image)
{
    const QImage i = image.convertToFormat(QImage::Format_RGBA64);
    Floats f(i.width(), i.height());
    float *to = f.p.data();
    for (int y = 0; y < f.h; ++y) {
        const auto *s = reinterpret_cast<const quint16 *>(i.constScanLine(y));
        for (int k = 0; k < f.w * 4; ++k)
            *to++ = s[k] / 257.0f;
    }
    return f;
}

inline double lanczos3(double x)
{
    x = std::fabs(x);
    if (x < 1e-9)
        return 1;
    if (x >= 3)
        return 0;
    const double a = std::numbers::pi * x;
    return 3 * std::sin(a) * std::sin(a / 3) / (a * a);
}

// Enlargements interpolate with the Catmull-Rom cubic, the smooth interpolation
// the program promises for them: Lanczos-3's ringing on a hard edge alone would
// differ from it by more than a route may.
inline double catmullRom(double x)
{
    x = std::fabs(x);
    return x < 1 ? (1.5 * x - 2.5) * x * x + 1 : x < 2 ? ((-0.5 * x + 2.5) * x - 4) * x + 2 : 0;
}

// One axis of n samples resized to m: output i is centred on source position
// (i + 0.5) n / m, a reduction's filter widened by it, the weights normalised over
// the samples inside the picture (as ImageMagick does at the edges).
struct Tap {
    int first = 0;
    std::vector<double> w;
};
inline std::vector<Tap> axis(int n, int m)
{
    const double scale = double(n) / m, stretch = std::max(1.0, scale), radius = (scale > 1 ? 3 : 2) * stretch;
    std::vector<Tap> taps(static_cast<size_t>(m));
    for (int i = 0; i < m; ++i) {
        const double centre = (i + 0.5) * scale;
        const int j0 = std::max(0, int(std::floor(centre - radius))), j1 = std::min(n, int(std::ceil(centre + radius)));
        Tap &t = taps[size_t(i)];
        t.first = j0;
        double sum = 0;
        for (int j = j0; j < j1; ++j)
            sum += t.w.emplace_back(scale > 1 ? lanczos3((j + 0.5 - centre) / stretch) : catmullRom(j + 0.5 - centre));
        for (double &v : t.w)
            v /= sum;
    }
    return taps;
}

// An opaque picture resized (its alpha is left at 0).
inline Floats resized(const Floats &src, int w, int h)
{
    const std::vector<Tap> across = axis(src.w, w), down = axis(src.h, h);
    Floats mid(w, src.h), out(w, h);
    for (int y = 0; y < src.h; ++y)
        for (int x = 0; x < w; ++x) {
            const Tap &t = across[size_t(x)];
            float *to = mid.at(x, y);
            for (size_t k = 0; k < t.w.size(); ++k) {
                const float *from = src.at(t.first + int(k), y), v = float(t.w[k]);
                to[0] += v * from[0];
                to[1] += v * from[1];
                to[2] += v * from[2];
            }
        }
    for (int y = 0; y < h; ++y) {
        const Tap &t = down[size_t(y)];
        for (size_t k = 0; k < t.w.size(); ++k) {
            const float *from = mid.at(0, t.first + int(k)), v = float(t.w[k]);
            float *to = out.at(0, y);
            for (int i = 0; i < w * 4; ++i)
                to[i] += v * from[i];
        }
    }
    return out;
}

// The picture laid on a background colour, as a job lays a picture with
// transparency, turned a quarter clockwise when asked: opaque, ready for canvas().
inline Floats laidOn(const Floats &picture, QRgb background, bool quarter)
{
    const float bg[3] = {float(qRed(background)), float(qGreen(background)), float(qBlue(background))};
    Floats out(quarter ? picture.h : picture.w, quarter ? picture.w : picture.h);
    for (int y = 0; y < out.h; ++y)
        for (int x = 0; x < out.w; ++x) {
            const float *s = quarter ? picture.at(y, picture.h - 1 - x) : picture.at(x, y);
            const float a = s[3] / 255;
            for (int c = 0; c < 3; ++c)
                out.at(x, y)[c] = s[c] * a + bg[c] * (1 - a);
            out.at(x, y)[3] = 255;
        }
    return out;
}

// The canvas of a job: the background everywhere, the opaque picture resized into
// rect.
inline Floats canvas(const Floats &opaque, QSize size, QRect rect, QRgb background)
{
    const float bg[3] = {float(qRed(background)), float(qGreen(background)), float(qBlue(background))};
    const Floats drawn = resized(opaque, rect.width(), rect.height());
    Floats out(size.width(), size.height());
    for (int y = 0; y < out.h; ++y)
        for (int x = 0; x < out.w; ++x) {
            const bool in = rect.contains(x, y);
            for (int c = 0; c < 3; ++c)
                out.at(x, y)[c] = in ? drawn.at(x - rect.x(), y - rect.y())[c] : bg[c];
            out.at(x, y)[3] = 255;
        }
    // A picture holds 0..255: the filter's overshoot on a hard edge is cut there.
    for (float &v : out.p)
        v = std::clamp(v, 0.0f, 255.0f);
    return out;
}

// The floats as an 8-bit picture, each sample rounded and held to 0..255.
inline QImage image(const Floats &f)
{
    QImage out(f.w, f.h, QImage::Format_RGB32);
    const float *p = f.p.data();
    for (int y = 0; y < f.h; ++y) {
        auto *to = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < f.w; ++x, p += 4) {
            const auto v = [p](int c) { return int(std::clamp(p[c], 0.0f, 255.0f) + 0.5f); };
            to[x] = qRgb(v(0), v(1), v(2));
        }
    }
    return out;
}

// Peak signal to noise over the red, green and blue of two pictures of one size;
// 0 when the sizes differ, 99 when they are equal.
inline double psnrOf(double squares, qint64 pixels)
{
    const double mse = squares / (double(pixels) * 3);
    return mse < 1e-10 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}
inline double psnr(const Floats &a, const Floats &b)
{
    if (a.w != b.w || a.h != b.h || a.p.empty())
        return 0;
    double sum = 0;
    for (size_t i = 0; i < a.p.size(); i += 4)
        for (size_t c = 0; c < 3; ++c)
            sum += double(a.p[i + c] - b.p[i + c]) * (a.p[i + c] - b.p[i + c]);
    return psnrOf(sum, qint64(a.w) * a.h);
}
// The same against an 8-bit picture.
inline double psnr(const Floats &a, const QImage &b)
{
    if (a.w != b.width() || a.h != b.height() || a.p.empty())
        return 0;
    const QImage i = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    const float *p = a.p.data();
    for (int y = 0; y < a.h; ++y) {
        const auto *s = reinterpret_cast<const QRgb *>(i.constScanLine(y));
        for (int x = 0; x < a.w; ++x, p += 4) {
            const float d[3] = {p[0] - qRed(s[x]), p[1] - qGreen(s[x]), p[2] - qBlue(s[x])};
            sum += double(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        }
    }
    return psnrOf(sum, qint64(a.w) * a.h);
}

} // namespace testref
