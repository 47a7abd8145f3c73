// Every route a picture can take to its written file, against a reference made
// another way.
//
// Each source layout the program reads is made here from one photo-like scene. A
// cell is a job on it: a size that makes the decoder reduce by 1, 2, 4 or 8 (or
// enlarge), a shape (the picture filling the canvas, stretched to odd sides, on a
// band of background; unturned or turned +90°) and an output. One batch run writes
// every cell, so each job takes the route the batch chooses for it (colour planes,
// bands, a whole decode), and each output format's writer gets what that route
// makes. The written file, decoded by its format's own library, is compared with
// the source decoded whole by another decoder, resized in floats (tests/common/reference.h)
// and laid out as the job says; the preview's exact picture of the row, and a
// JPEG's first look, are compared with the written file. Each comparison needs
// 40 dB, less where the output's codec itself loses more (Output::margin) and for
// a first look (kFirstLookRequired).
//
// A new source layout is one line in layouts(), a new output one in outputs(); a
// layout whose cells cannot pass yet names the fault (knownFault).

#include "batch/batchpipeline.h"
#include "batch/batchplan.h"
#include "compose/colorprofile.h"
#include "compose/jobcompose.h"
#include "compose/quickpicture.h"
#include "export/converter.h"
#include "export/export.h"
#include "export/outputname.h"
#include "preview/previewrenderer.h"
#include "tests/common/formatpictures.h"
#include "tests/common/formatreaders.h"
#include "tests/common/reference.h"
#include "tests/common/runbatch.h"
#include "tests/common/testpictures.h"
#include "tests/common/tiffpictures.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTransform>
#include <QtTest>

#include <functional>
#include <map>
#include <tuple>

#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>

using namespace kestrovia;
using namespace testpics;
using testref::Floats;

namespace {

// ---- The scene and its source layouts ----

std::uint32_t hashOf(int x, int y)
{
    std::uint32_t h = std::uint32_t(x) * 374761393u + std::uint32_t(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

// A graded sky, textured ground with grain, and flat shapes with hard coloured
// edges: a shifted or washed-out chroma plane shows on them, lost detail on the
// texture. The red disc is exactly kDisc (a PNG colour key takes it).
const QRgb kDisc = qRgb(230, 30, 40);
QImage scene(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double fx = double(x) / w, fy = double(y) / h;
            const double t = std::sin(x * 0.7 + y * 0.23) * std::sin(y * 0.9 - x * 0.17);
            const double cloud = 25 * std::sin(fx * 11 + std::sin(fy * 9) * 2) * std::cos(fy * 6);
            const int grain = int(hashOf(x, y) % 13) - 6;
            const auto c = [grain](double v) { return std::clamp(int(v) + grain, 0, 255); };
            QRgb p = fy < 0.45 ? qRgb(c(70 + 80 * fy + cloud), c(120 + 70 * fy + cloud), c(210 - 30 * fy + cloud))
                               : qRgb(c(90 + 35 * t + 50 * fy), c(130 + 40 * t), c(60 + 20 * t));
            if (std::hypot(fx - 0.3, (fy - 0.62) * h / w) < 0.09)
                p = kDisc;
            else if (fx > 0.6 && fx < 0.8 && fy > 0.2 && fy < 0.35)
                p = qRgb(250, 220, 40);
            else if (std::abs(fx - fy - 0.1) < 0.03 && fy > 0.5)
                p = qRgb(200, 40, 200);
            else if (fx > 0.05 && fx < 0.2 && fy > 0.1 && fy < 0.3 && (x / 3) % 2)
                p = qRgb(240, 240, 255);
            img.setPixel(x, y, p);
        }
    return img;
}

// The scene with straight alpha: a ramp over the left half, the yellow box clear.
QImage withAlpha(const QImage &scene)
{
    QImage img = scene.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = img.pixel(x, y);
            const int a = p == qRgb(250, 220, 40) ? 0 : std::min(255, 510 * x / img.width());
            img.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), a));
        }
    return img;
}

// The scene without its grain and texture, for sources of a few levels a sample:
// posterised, those would be noise of the largest amplitude there is, where two
// sound resamplers part by how they clip their ringing between passes, not by
// where the picture lands.
QImage smooth(const QImage &scene)
{
    return scene.scaled(scene.size() / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .scaled(scene.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The scene over a palette of 2, 4, 16 or 252 colours (a colour cube), as indices.
QImage indexed(const QImage &scene, int bits)
{
    QList<QRgb> table;
    if (bits == 1)
        table = {qRgb(20, 30, 80), qRgb(230, 220, 190)};
    else if (bits == 2)
        table = {qRgb(20, 30, 60), qRgb(110, 150, 220), qRgb(90, 140, 60), qRgb(230, 60, 50)};
    else {
        const int r = bits == 4 ? 2 : 6, g = bits == 4 ? 4 : 7, b = bits == 4 ? 2 : 6;
        for (int i = 0; i < r * g * b; ++i)
            table << qRgb(i / (g * b) * 255 / (r - 1), i / b % g * 255 / (g - 1), i % b * 255 / (b - 1));
    }
    return (bits < 8 ? smooth(scene) : scene).convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither);
}

// A PNG from libpng of every colour type and depth: samples(x, y) gives the
// pixel's samples at that depth; plte and trns fill the palette chunks.
QByteArray pngFile(int w, int h, int type, int depth, bool interlaced,
                   const std::function<std::array<int, 4>(int x, int y)> &samples, const QList<QRgb> &plte = {},
                   const QByteArray &trns = {}, const png_color_16 *key = nullptr)
{
    const int channels = type == PNG_COLOR_TYPE_RGB_ALPHA    ? 4
                         : type == PNG_COLOR_TYPE_RGB        ? 3
                         : type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                             : 1;
    std::vector<std::vector<png_byte>> rows(size_t(h), std::vector<png_byte>(size_t(w * channels * depth + 7) / 8));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::array<int, 4> s = samples(x, y);
            for (int c = 0; c < channels; ++c) {
                const int bit = (x * channels + c) * depth;
                png_byte *at = &rows[size_t(y)][size_t(bit / 8)];
                if (depth == 16) {
                    at[0] = png_byte(s[size_t(c)] >> 8);
                    at[1] = png_byte(s[size_t(c)]);
                } else
                    *at |= png_byte(s[size_t(c)] << (8 - depth - bit % 8));
            }
        }
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep d, png_size_t n) {
            static_cast<QByteArray *>(png_get_io_ptr(p))->append(reinterpret_cast<const char *>(d), qsizetype(n));
        },
        nullptr);
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), depth, type,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (QRgb c : plte)
        palette.push_back({png_byte(qRed(c)), png_byte(qGreen(c)), png_byte(qBlue(c))});
    if (!palette.empty())
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
    if (!trns.isEmpty() || key)
        png_set_tRNS(png, info, reinterpret_cast<png_const_bytep>(trns.constData()), int(trns.size()), key);
    std::vector<png_bytep> pointers;
    for (auto &r : rows)
        pointers.push_back(r.data());
    png_set_rows(png, info, pointers.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

QByteArray png(const QImage &picture, int type, int depth, bool interlaced = false)
{
    const QImage scene = depth < 8 ? smooth(picture) : picture;
    const QImage a = withAlpha(scene);
    return pngFile(scene.width(), scene.height(), type, depth, interlaced, [&](int x, int y) {
        const QRgb p = (type & PNG_COLOR_MASK_ALPHA) ? a.pixel(x, y) : scene.pixel(x, y);
        // 16 bits that hold more than 8: the low byte carries detail of its own.
        const int low = depth == 16 ? int(hashOf(x, y) % 255) : 0;
        const auto at = [&](int v) { return depth == 16 ? v * 256 + low : v >> (8 - std::min(depth, 8)); };
        if (!(type & PNG_COLOR_MASK_COLOR))
            return std::array<int, 4>{at(qGray(p)), at(qAlpha(p)), 0, 0};
        return std::array<int, 4>{at(qRed(p)), at(qGreen(p)), at(qBlue(p)), at(qAlpha(p))};
    });
}

QByteArray pngPalette(const QImage &scene, int bits, bool transparent = false)
{
    const QImage i = indexed(scene, bits);
    QByteArray trns;
    for (int k = 0; transparent && k < i.colorCount(); ++k)
        trns += char(255 - k % 4 * 85);
    return pngFile(
        i.width(), i.height(), PNG_COLOR_TYPE_PALETTE, bits, false,
        [&](int x, int y) {
            return std::array<int, 4>{i.pixelIndex(x, y), 0, 0, 0};
        },
        i.colorTable(), trns);
}

QByteArray pngColourKey(const QImage &scene)
{
    const png_color_16 key{0, png_uint_16(qRed(kDisc)), png_uint_16(qGreen(kDisc)), png_uint_16(qBlue(kDisc)), 0};
    return pngFile(
        scene.width(), scene.height(), PNG_COLOR_TYPE_RGB, 8, false,
        [&](int x, int y) {
            const QRgb p = scene.pixel(x, y);
            return std::array<int, 4>{qRed(p), qGreen(p), qBlue(p), 0};
        },
        {}, {}, &key);
}

// CMYK ink for the scene: grey component replaced by half its black.
std::array<int, 4> cmykInk(QRgb p)
{
    const int c = 255 - qRed(p), m = 255 - qGreen(p), y = 255 - qBlue(p), k = std::min({c, m, y}) / 2;
    return {c - k, m - k, y - k, k};
}

// The scene in a layout of tiffPicture's (strips of 16 rows unless said): its grey,
// RGB (with alpha, withAlpha's) or CMYK ink (cmykInk), in 8 or 16 bits (the low byte
// detail of its own), 32-bit floats from 0 to 1 (as vips writes them), or 1 bit of
// min-is-white (the smooth scene, thresholded).
QByteArray tiffIn(const QImage &scene, TiffLayout l)
{
    const QImage picture = l.bits == 1 ? smooth(scene) : l.alpha >= 0 ? withAlpha(scene) : scene;
    l.width = picture.width();
    l.height = picture.height();
    return tiffPicture(l, [&](int y, std::uint8_t *row) {
        std::memset(row, 0, size_t(l.width * l.samples * l.bits + 7) / 8);
        for (int x = 0; x < l.width; ++x)
            for (int s = 0; s < l.samples; ++s) {
                const QRgb p = picture.pixel(x, y);
                const int v = l.photometric == PHOTOMETRIC_SEPARATED ? cmykInk(p)[size_t(s)]
                              : l.samples == 1                       ? qGray(p)
                              : s == 3                               ? qAlpha(p)
                                                                     : (p >> (16 - 8 * s)) & 255;
                const size_t i = size_t(x * l.samples + s);
                if (l.bits == 1) {
                    row[i / 8] |= std::uint8_t(v < 128 ? 0x80 >> (i % 8) : 0);
                } else if (l.sampleFormat == SAMPLEFORMAT_IEEEFP) {
                    const float f = float(v) / 255.0f;
                    std::memcpy(row + 4 * i, &f, 4);
                } else if (l.bits == 16) {
                    const std::uint16_t wide = std::uint16_t(v * 256 + int(hashOf(x, y + s) % 255));
                    std::memcpy(row + 2 * i, &wide, 2);
                } else {
                    row[i] = std::uint8_t(v);
                }
            }
    });
}

// BMP's run-length codings, runs of one index only: RLE8 gives each run a byte, RLE4
// a nibble twice.
QByteArray bmpRle(const QImage &scene, int bits)
{
    const QImage i = indexed(scene, bits == 8 ? 8 : 4);
    QByteArray data;
    for (int y = i.height() - 1; y >= 0; --y) {
        for (int x = 0; x < i.width();) {
            int n = 1;
            while (x + n < i.width() && n < 255 && i.pixelIndex(x + n, y) == i.pixelIndex(x, y))
                ++n;
            const int v = i.pixelIndex(x, y);
            data += char(n);
            data += char(bits == 8 ? v : v << 4 | v);
            x += n;
        }
        if (y > 0)
            data += QByteArray("\0\0", 2); // end of the row
    }
    data += QByteArray("\0\x01", 2);
    return bmpFile(40, i.width(), i.height(), bits, bits == 8 ? 1 : 2, data, i.colorTable());
}

QByteArray webp(const QImage &scene, bool lossless, bool alpha)
{
    const QImage img = alpha ? withAlpha(scene) : scene;
    std::uint8_t *out = nullptr;
    const size_t n =
        lossless ? WebPEncodeLosslessBGRA(img.constBits(), img.width(), img.height(), int(img.bytesPerLine()), &out)
                 : WebPEncodeBGRA(img.constBits(), img.width(), img.height(), int(img.bytesPerLine()), 90, &out);
    const QByteArray data(reinterpret_cast<const char *>(out), qsizetype(n));
    WebPFree(out);
    return data;
}

// ---- Whole decodes by other decoders ----

QImage qtDecoded(const QByteArray &data)
{
    QBuffer b;
    b.setData(data);
    QImageReader r(&b);
    r.setAutoTransform(false);
    return r.read();
}

// Inverted CMYK (255 = no ink, as Adobe stores it in JPEG) or plain CMYK through the
// given profile or the standard press profile, relative colorimetric with black
// point compensation.
QImage cmykToRgb(const std::uint8_t *cmyk, int w, int h, bool inverted, const QByteArray &profile = {})
{
    cmsHPROFILE in = profile.isEmpty()
                         ? cmsOpenProfileFromFile(QFile::encodeName(standardCmykProfilePath()).constData(), "r")
                         : cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    cmsHPROFILE out = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(in, inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8, out, TYPE_BGRA_8,
                                         INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION);
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    for (int y = 0; y < h; ++y)
        cmsDoTransform(t, cmyk + size_t(y) * size_t(w) * 4, img.scanLine(y), cmsUInt32Number(w));
    cmsDeleteTransform(t);
    cmsCloseProfile(in);
    cmsCloseProfile(out);
    return img;
}

// TurboJPEG's full decode with the accurate inverse DCT, turned by the EXIF
// orientation 6 when told.
QImage tjDecoded(const QByteArray &data, bool orientation6 = false)
{
    tjhandle tj = tjInitDecompress();
    const auto *p = reinterpret_cast<const unsigned char *>(data.constData());
    int w = 0, h = 0, sub = 0, space = 0;
    tjDecompressHeader3(tj, p, static_cast<unsigned long>(data.size()), &w, &h, &sub, &space);
    const bool cmyk = space == TJCS_CMYK || space == TJCS_YCCK;
    QImage img(w, h, QImage::Format_RGB32);
    std::vector<std::uint8_t> ink(size_t(w) * size_t(h) * 4);
    tjDecompress2(tj, p, static_cast<unsigned long>(data.size()), cmyk ? ink.data() : img.bits(), w,
                  cmyk ? w * 4 : int(img.bytesPerLine()), h, cmyk ? TJPF_CMYK : TJPF_BGRX, TJFLAG_ACCURATEDCT);
    tjDestroy(tj);
    if (cmyk)
        img = cmykToRgb(ink.data(), w, h, true);
    return orientation6 ? img.transformed(QTransform().rotate(90)) : img;
}

QImage tiffCmykDecoded(const QByteArray &data)
{
    const TiffSamples t = tiffSamples(data);
    return cmykToRgb(t.bytes.data(), int(t.width), int(t.height), false, t.icc);
}

// Floats from 0 to 1 by libtiff's scanlines, clamped into 8 bits.
QImage tiffFloatDecoded(const QByteArray &data)
{
    const TiffSamples t = tiffSamples(data);
    const auto *f = reinterpret_cast<const float *>(t.bytes.data());
    QImage img(int(t.width), int(t.height), QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const float *p = f + (size_t(y) * t.width + size_t(x)) * t.samples;
            const auto c = [&](int s) {
                return int(std::lround(std::clamp(p[t.samples == 1 ? 0 : s], 0.0f, 1.0f) * 255));
            };
            img.setPixel(x, y, qRgb(c(0), c(1), c(2)));
        }
    return img;
}

// A grey picture (read by Qt) through a grey profile into sRGB, by lcms2.
QImage throughGreyProfile(const QImage &grey, const QByteArray &profile)
{
    const QImage g = grey.convertToFormat(QImage::Format_Grayscale8);
    cmsHPROFILE in = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    cmsHPROFILE out = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(in, TYPE_GRAY_8, out, TYPE_BGRA_8, INTENT_RELATIVE_COLORIMETRIC,
                                         cmsFLAGS_BLACKPOINTCOMPENSATION);
    QImage img(g.width(), g.height(), QImage::Format_RGB32);
    img.fill(Qt::white);
    for (int y = 0; y < g.height(); ++y)
        cmsDoTransform(t, g.constScanLine(y), img.scanLine(y), cmsUInt32Number(g.width()));
    cmsDeleteTransform(t);
    cmsCloseProfile(in);
    cmsCloseProfile(out);
    return img;
}

// An uncompressed 16-bit BMP by its masks, each channel scaled to its full range
// (Qt's reader leaves 5 bits at 0..248).
QImage bmp16Decoded(const QByteArray &d)
{
    const auto le = [&](int at) {
        return quint32(quint8(d[at]) | quint8(d[at + 1]) << 8 | quint8(d[at + 2]) << 16 | quint8(d[at + 3]) << 24);
    };
    const int w = int(le(18)), h = int(le(22)), stride = (w * 2 + 3) / 4 * 4;
    const bool fields = le(30) == 3;
    const quint32 masks[3] = {fields ? le(54) : 0x7C00, fields ? le(58) : 0x03E0, fields ? le(62) : 0x001F};
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int at = int(le(10)) + (h - 1 - y) * stride + 2 * x;
            const quint32 v = quint8(d[at]) | quint8(d[at + 1]) << 8;
            int c[3];
            for (int i = 0; i < 3; ++i) {
                const int shift = std::countr_zero(masks[i]);
                c[i] = int(std::lround(((v & masks[i]) >> shift) * 255.0 / (masks[i] >> shift)));
            }
            img.setPixel(x, y, qRgb(c[0], c[1], c[2]));
        }
    return img;
}

QImage heifDecoded(const QByteArray &data)
{
    heif_context *ctx = heif_context_alloc();
    heif_context_read_from_memory_without_copy(ctx, data.constData(), size_t(data.size()), nullptr);
    heif_image_handle *handle = nullptr;
    heif_context_get_primary_image_handle(ctx, &handle);
    heif_image *img = nullptr;
    heif_decode_image(handle, &img, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr);
    int stride = 0;
    const std::uint8_t *p = heif_image_get_plane_readonly(img, heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(img, heif_channel_interleaved);
    const QImage out =
        QImage(p, w, heif_image_get_height(img, heif_channel_interleaved), stride, QImage::Format_RGB888).copy();
    heif_image_release(img);
    heif_image_handle_release(handle);
    heif_context_free(ctx);
    return out;
}

struct Layout {
    QString name; // the cell's name starts with it
    QString file; // the source's file name
    std::function<QByteArray(const QImage &scene)> make;
    std::function<QImage(const QByteArray &file)> decode; // the whole picture, upright, another way
    const char *knownFault = nullptr; // why its cells cannot pass yet
};

std::vector<Layout> layouts()
{
    using S = const QImage &;
    const auto jpegOf = [](int sub, int flags = 0) { return [=](S s) { return jpeg(s, 92, sub, flags); }; };
    const auto oneStrip = [](TiffLayout l) { return [=](S s) { return tiffIn(s, l); }; };
    const auto tiffOf = [&](TiffLayout l) {
        l.rowsPerStrip = l.tileSide ? 0 : 16;
        return oneStrip(l);
    };
    const auto bmpOf = [](int bits, bool indexedColours, bool topDown = false, int header = 40,
                          QList<quint32> masks = {}) {
        return [=](S s) { return bmp(indexedColours ? indexed(s, bits) : s, bits, topDown, header, masks); };
    };
    const auto pngOf = [](int type, int depth, bool interlaced = false) {
        return [=](S s) { return png(s, type, depth, interlaced); };
    };
    const auto tj = [](const QByteArray &d) { return tjDecoded(d); };
    const auto qt = qtDecoded;
    return {
        {"jpeg 4:2:0", "jpeg-420.jpg", jpegOf(TJSAMP_420), tj},
        {"jpeg 4:2:2", "jpeg-422.jpg", jpegOf(TJSAMP_422), tj},
        {"jpeg 4:4:4", "jpeg-444.jpg", jpegOf(TJSAMP_444), tj},
        {"jpeg 4:1:1", "jpeg-411.jpg", jpegOf(TJSAMP_411), tj},
        {"jpeg 4:4:0", "jpeg-440.jpg", jpegOf(TJSAMP_440), tj},
        {"jpeg grey", "jpeg-grey.jpg", jpegOf(TJSAMP_GRAY), tj},
        {"jpeg cmyk adobe", "jpeg-cmyk.jpg", cmykJpeg, tj},
        {"jpeg progressive", "jpeg-progressive.jpg", jpegOf(TJSAMP_420, TJFLAG_PROGRESSIVE), tj},
        {"jpeg arithmetic", "jpeg-arithmetic.jpg", [](S s) { return libjpegFile(s, {.arithmetic = true}); }, tj},
        {"jpeg restart markers", "jpeg-restarts.jpg", [](S s) { return libjpegFile(s, {.restarts = true}); }, tj},
        {"jpeg exif 6", "jpeg-exif6.jpg", [](S s) { return withExifOrientation(jpeg(s, 92, TJSAMP_420), 6); },
         [](const QByteArray &d) { return tjDecoded(d, true); }},
        {"png grey 1-bit", "png-grey1.png", pngOf(PNG_COLOR_TYPE_GRAY, 1), qt},
        {"png grey 2-bit", "png-grey2.png", pngOf(PNG_COLOR_TYPE_GRAY, 2), qt},
        {"png grey 4-bit", "png-grey4.png", pngOf(PNG_COLOR_TYPE_GRAY, 4), qt},
        {"png grey 8-bit", "png-grey8.png", pngOf(PNG_COLOR_TYPE_GRAY, 8), qt},
        {"png grey 16-bit", "png-grey16.png", pngOf(PNG_COLOR_TYPE_GRAY, 16), qt},
        {"png grey alpha", "png-greyalpha.png", pngOf(PNG_COLOR_TYPE_GRAY_ALPHA, 8), qt},
        {"png rgb 8-bit", "png-rgb8.png", pngOf(PNG_COLOR_TYPE_RGB, 8), qt},
        {"png rgb 16-bit", "png-rgb16.png", pngOf(PNG_COLOR_TYPE_RGB, 16), qt},
        {"png rgba 8-bit", "png-rgba8.png", pngOf(PNG_COLOR_TYPE_RGB_ALPHA, 8), qt},
        {"png rgba 16-bit", "png-rgba16.png", pngOf(PNG_COLOR_TYPE_RGB_ALPHA, 16), qt},
        {"png palette 1-bit", "png-palette1.png", [](S s) { return pngPalette(s, 1); }, qt},
        {"png palette 2-bit", "png-palette2.png", [](S s) { return pngPalette(s, 2); }, qt},
        {"png palette 4-bit", "png-palette4.png", [](S s) { return pngPalette(s, 4); }, qt},
        {"png palette 8-bit", "png-palette8.png", [](S s) { return pngPalette(s, 8); }, qt},
        {"png palette trns", "png-palettetrns.png", [](S s) { return pngPalette(s, 8, true); }, qt},
        {"png rgb trns", "png-rgbtrns.png", pngColourKey, qt},
        {"png interlaced", "png-interlaced.png", pngOf(PNG_COLOR_TYPE_RGB, 8, true), qt},
        {"png interlaced rgba 16-bit", "png-interlaced16.png", pngOf(PNG_COLOR_TYPE_RGB_ALPHA, 16, true), qt},
        {"tiff strips", "tiff-strips.tif", tiffOf({}), qt},
        {"tiff lzw", "tiff-lzw.tif", tiffOf({.compression = COMPRESSION_LZW}), qt},
        {"tiff deflate", "tiff-deflate.tif", tiffOf({.compression = COMPRESSION_ADOBE_DEFLATE}), qt},
        {"tiff packbits", "tiff-packbits.tif", tiffOf({.compression = COMPRESSION_PACKBITS}), qt},
        {"tiff jpeg", "tiff-jpeg.tif", tiffOf({.photometric = PHOTOMETRIC_YCBCR, .compression = COMPRESSION_JPEG}), qt},
        {"tiff tiles lzw", "tiff-tiles.tif", tiffOf({.compression = COMPRESSION_LZW, .tileSide = 64}), qt},
        {"tiff 16-bit", "tiff-16.tif", tiffOf({.bits = 16, .compression = COMPRESSION_ADOBE_DEFLATE}), qt},
        {"tiff planar", "tiff-planar.tif", tiffOf({.compression = COMPRESSION_LZW, .planes = true}), qt},
        {"tiff rgba", "tiff-rgba.tif",
         tiffOf({.samples = 4, .compression = COMPRESSION_LZW, .alpha = EXTRASAMPLE_UNASSALPHA}), qt},
        {"tiff grey", "tiff-grey.tif", tiffOf({.photometric = PHOTOMETRIC_MINISBLACK, .samples = 1}), qt},
        {"tiff cmyk", "tiff-cmyk.tif",
         tiffOf({.photometric = PHOTOMETRIC_SEPARATED, .samples = 4, .compression = COMPRESSION_LZW}), tiffCmykDecoded},
        // clang-format off
        {"tiff cmyk, own profile", "tiff-cmyk-profile.tif", tiffOf({.photometric = PHOTOMETRIC_SEPARATED,
         .samples = 4, .compression = COMPRESSION_LZW, .icc = pressProfile()}), tiffCmykDecoded},
        {"tiff one lzw strip", "tiff-one-strip.tif", oneStrip({.compression = COMPRESSION_LZW}), qt},
        // (Qt's reader mixes up 16-bit planes.)
        {"tiff one deflate strip 16-bit, planes", "tiff-one-strip16.tif", oneStrip({.bits = 16,
         .compression = COMPRESSION_ADOBE_DEFLATE, .predictor = PREDICTOR_HORIZONTAL, .planes = true}), libtiffPicture},
        {"tiff float", "tiff-float.tif", tiffOf({.bits = 32, .sampleFormat = SAMPLEFORMAT_IEEEFP,
         .compression = COMPRESSION_LZW, .predictor = PREDICTOR_FLOATINGPOINT}), tiffFloatDecoded},
        {"tiff fax g4", "tiff-g4.tif", oneStrip({.photometric = PHOTOMETRIC_MINISWHITE, .samples = 1, .bits = 1,
         .compression = COMPRESSION_CCITTFAX4}), qt},
        {"tiff grey, grey profile", "tiff-greyprofile.tif", tiffOf({.photometric = PHOTOMETRIC_MINISBLACK,
         .samples = 1, .compression = COMPRESSION_LZW, .icc = greyProfile(1.0)}),
         [](const QByteArray &d) { return throughGreyProfile(qtDecoded(d), greyProfile(1.0)); }},
        {"jpeg grey, grey profile", "jpeg-greyprofile.jpg", [](S s) {
             const QByteArray profile = dotGainProfile(), plain = jpeg(s, 92, TJSAMP_GRAY);
             return plain.left(2) + "\xFF\xE2" + char((16 + profile.size()) >> 8) + char(16 + profile.size())
                    + QByteArray("ICC_PROFILE\0\x01\x01", 14) + profile + plain.mid(2);
         },
         [](const QByteArray &d) { return throughGreyProfile(tjDecoded(d), dotGainProfile()); }},
        // clang-format on
        {"bmp 1-bit", "bmp-1.bmp", bmpOf(1, true), qt},
        {"bmp 4-bit", "bmp-4.bmp", bmpOf(4, true), qt},
        {"bmp 8-bit", "bmp-8.bmp", bmpOf(8, true), qt},
        {"bmp 16-bit", "bmp-16.bmp", bmpOf(16, false), bmp16Decoded},
        {"bmp 16-bit 5-6-5", "bmp-565.bmp", bmpOf(16, false, false, 40, {0xF800, 0x07E0, 0x001F}), bmp16Decoded},
        {"bmp 24-bit", "bmp-24.bmp", bmpOf(24, false), qt},
        {"bmp 32-bit", "bmp-32.bmp", bmpOf(32, false), qt},
        {"bmp top-down", "bmp-topdown.bmp", bmpOf(24, false, true), qt},
        {"bmp os/2", "bmp-os2.bmp", bmpOf(24, false, false, 12), qt},
        {"bmp rle8", "bmp-rle8.bmp", [](S s) { return bmpRle(s, 8); }, qt},
        {"bmp rle4", "bmp-rle4.bmp", [](S s) { return bmpRle(s, 4); }, qt},
        {"webp lossy", "webp-lossy.webp", [](S s) { return webp(s, false, false); }, qt},
        {"webp lossless", "webp-lossless.webp", [](S s) { return webp(s, true, false); }, qt},
        {"webp alpha", "webp-alpha.webp", [](S s) { return webp(s, false, true); }, qt},
        // An animation's first frame: on the whole canvas, and within it (the canvas
        // around it clear).
        {"webp animation", "webp-animation.webp",
         [](S s) {
             return webpAnimation(s.size(), {{s, {}}, {withAlpha(s), {}}}, 90);
         },
         qt},
        {"webp animation, frame inside", "webp-animation-inside.webp",
         [](S s) {
             return webpAnimation(s.size(), {{s.copy(0, 0, s.width() - 40, s.height() - 30), {20, 14}}, {s, {}}}, 100);
         },
         qt},
        {"gif", "gif.gif", [](S s) { return gif(s.width(), s.height(), {indexed(s, 8)}); }, qt},
        {"heic", "heic.heic", [](S s) { return heic(s); }, heifDecoded},
    };
}

// ---- Cells ----

// The canvas's sides are the upright picture's (4:3 or 3:4) times k, so that a
// picture filling it is fitted without a rounding: the need is then at most a
// third of the picture divided by the reduction, as a reduced decode asks.
struct Size {
    const char *name;
    int k;
};
const Size kSizes[] = {{"1", 36}, {"1/2", 18}, {"1/4", 10}, {"1/8", 6}, {"x1.17", 170}};

struct Shape {
    const char *name;
    bool turned; // +90°
    bool stretched; // "ON" to sides one pixel short of the fit (odd at every size)
    int band; // background pixels added to the longer side, half of them each side
};
const Shape kShapes[] = {{"fills", false, false, 0}, {"stretched, odd", false, true, 0}, {"+90, band", true, false, 6}};

// An output the batch writes, and the same codec at the same setting for the
// loss it cannot avoid. Every output is read back by its format's own library.
struct Output {
    const char *name;
    const char *level;
    OutputFormat format;
    std::function<QImage(const QImage &canvas)> roundTrip;
    // How far, in dB, the written file may lie below what the same codec makes of
    // the reference.
    double margin = 1;
};
std::vector<Output> outputs()
{
    const auto jpegAt = [](int level) {
        return [level](const QImage &canvas) {
            const int q = jpegQuality(std::int16_t(level));
            return QImage::fromData(jpeg(canvas, q, fullChroma(q) ? TJSAMP_444 : TJSAMP_420, TJFLAG_ACCURATEDCT));
        };
    };
    // The other formats take the RGB canvas of whatever route the source takes.
    const auto writerAt = [](OutputFormat format, int level) {
        return [format, level](const QImage &canvas) {
            Job job;
            job.format = format;
            job.level = std::int16_t(level);
            return decodedByItsLibrary(format, encodeJob(canvas, job));
        };
    };
    // AVIF's loss at level 5 lies near the 40 dB a route must keep on its own, so
    // the route's small error adds to it: two errors of 40 and 44 dB make 38.5.
    // Lossy WebP at level 5 lies as near on a fax's hard black edges.
    return {{"level 0", "0", OutputFormat::Jpeg, jpegAt(0)},
            {"level 5", "5", OutputFormat::Jpeg, jpegAt(5)},
            {"WebP level 5", "5", OutputFormat::WebP, writerAt(OutputFormat::WebP, 5), 2},
            {"AVIF level 5", "5", OutputFormat::Avif, writerAt(OutputFormat::Avif, 5), 2},
            {"PNG level 5", "5", OutputFormat::Png, writerAt(OutputFormat::Png, 5)}};
}

// Whether the job is written as a 4:2:0 JPEG.
bool halvesChroma(const Job &job) { return job.format == OutputFormat::Jpeg && !fullChroma(jpegQuality(job.level)); }

constexpr int kSide = 145; // the scene is 4 x 3 of these: 580 x 435, no side a whole block
const QRgb kBackground = qRgb(0x33, 0x66, 0x99);
// The written file against the reference: 40 dB, or where the codec itself loses
// more (a lossy level), within the output's margin of what the same codec makes
// of the reference.
constexpr double kRequired = 40;
// A first look is a reduced decode with its chroma repeated, not interpolated,
// shown only until the exact picture comes.
constexpr double kFirstLookRequired = 30;
// Two independent errors add as their squares: the dB of both together.
double together(double dbA, double dbB) { return -10 * std::log10(std::pow(10, -dbA / 10) + std::pow(10, -dbB / 10)); }

struct Cell {
    QSize canvas;
    QRect drawn;
    JobRow row;
};

Cell cellOf(QSize upright, const Size &size, const Shape &shape, const QString &path, const QString &folder,
            const Output &output)
{
    const QSize unit = shape.turned ? (upright / kSide).transposed() : upright / kSide;
    Cell c;
    c.drawn = QRect(QPoint(0, 0), unit * size.k - (shape.stretched ? QSize(1, 1) : QSize(0, 0)));
    c.canvas = c.drawn.size();
    const bool wide = c.canvas.width() > c.canvas.height();
    c.canvas += wide ? QSize(shape.band, 0) : QSize(0, shape.band);
    c.drawn.translate(wide ? shape.band / 2 : 0, wide ? 0 : shape.band / 2);
    c.row.fileName = QFileInfo(path).fileName();
    c.row.path = path;
    c.row.newSize = sizeText(c.canvas);
    c.row.fit = (shape.stretched ? celltext::FitStretch : celltext::FitKeep).toString();
    c.row.backColor = QString::number(qRgb(qBlue(kBackground), qGreen(kBackground), qRed(kBackground)) & 0xFFFFFF);
    c.row.position = celltext::Center.toString();
    c.row.rotation = shape.turned ? celltext::TurnRight.toString() : QString();
    c.row.saveFolder = folder;
    c.row.compression = QString::fromLatin1(output.level);
    RowSettings written;
    written.format = output.format;
    writeRowField(c.row, RowField::Format, written);
    return c;
}

} // namespace

class TestRoutes : public QObject {
    Q_OBJECT

    // Thousands of outputs, each made durable by the writer: on a file system in
    // memory that costs nothing.
    QTemporaryDir m_dir{QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                            ? QStringLiteral("/dev/shm/routes-XXXXXX")
                            : QDir::tempPath() + QStringLiteral("/routes-XXXXXX")};
    std::vector<Layout> m_layouts = layouts();
    std::vector<Output> m_outputs = outputs();
    std::vector<QByteArray> m_sources;
    std::vector<QImage> m_upright; // each source decoded whole another way
    std::map<QString, RowOutcome> m_written; // by output path
    // What a cell's outputs are compared with, by size and shape, made for one layout
    // at a time (the cells come layout by layout).
    struct Expected {
        Floats reference, preview;
        std::optional<Floats> firstLook; // a JPEG's, where the renderer makes one
        std::map<std::pair<bool, int>, double> bounds;
        std::optional<double> halvedChroma;
        // What a decoder shows of the reference with its chroma halved both ways (the
        // file's other loss next to nothing): the least a preview of a 4:2:0 output
        // loses, as it shows the chroma the written file keeps.
        double halvedChromaFloor()
        {
            if (!halvedChroma)
                halvedChroma = testref::psnr(
                    reference,
                    QImage::fromData(jpeg(testref::image(reference), 100, TJSAMP_420, TJFLAG_ACCURATEDCT)));
            return *halvedChroma;
        }
        // What the same codec at the same setting makes of the reference or the
        // preview: the loss no route can avoid.
        double floor(bool ofReference, int output, const std::vector<Output> &outputs)
        {
            const auto [at, added] = bounds.try_emplace({ofReference, output}, 0.0);
            if (added) {
                const Floats &of = ofReference ? reference : preview;
                const QImage coded = outputs[size_t(output)].roundTrip(testref::image(of));
                at->second = testref::psnr(of, coded);
            }
            return at->second;
        }
    };
    int m_expectedLayout = -1;
    std::optional<Floats> m_laid[2]; // the picture on the background, unturned and turned
    // By size, shape and whether the output halves the chroma (which the preview shows).
    std::map<std::tuple<int, int, bool>, Expected> m_expected;
    Expected &expected(int l, int s, int sh, const Job &job, const Cell &c)
    {
        if (l != m_expectedLayout) {
            m_expectedLayout = l;
            m_laid[0] = m_laid[1] = std::nullopt;
            m_expected.clear();
        }
        const auto [at, added] = m_expected.try_emplace({s, sh, halvesChroma(job)});
        if (added) {
            std::optional<Floats> &laid = m_laid[kShapes[sh].turned];
            if (!laid)
                laid = testref::laidOn(testref::floats(m_upright[size_t(l)]), kBackground, kShapes[sh].turned);
            at->second.reference = testref::canvas(*laid, c.canvas, c.drawn, kBackground);
            at->second.preview = testref::floats(preview(job));
            // The renderer's own call for a first look.
            const auto quick = decodeQuickJpeg(
                m_sources[size_t(l)], [&](QSize upright) { return drawnSize(job, upright, true); }, 4);
            if (quick)
                at->second.firstLook = testref::floats(composeJob(job, *quick, true));
        }
        return at->second;
    }
    PreviewRenderer m_renderer;

    QString folderOf(int s, int sh, int o) const
    {
        return m_dir.filePath(QStringLiteral("%1-%2-%3/").arg(s).arg(sh).arg(o));
    }
    Cell cell(int l, int s, int sh, int o) const
    {
        return cellOf(m_upright[size_t(l)].size(), kSizes[s], kShapes[sh], m_dir.filePath(m_layouts[size_t(l)].file),
                      folderOf(s, sh, o), m_outputs[size_t(o)]);
    }

    // The renderer's exact picture of the row, with the turn (完全プレビュー).
    QImage preview(const Job &job)
    {
        QImage shown;
        QEventLoop loop;
        const auto a = connect(&m_renderer, &PreviewRenderer::picture, &loop, [&](quint64, const QImage &c) {
            shown = c;
            loop.quit();
        });
        const auto b = connect(&m_renderer, &PreviewRenderer::failed, &loop, [&](quint64, const QString &why) {
            qWarning("no preview: %s", qPrintable(why));
            loop.quit();
        });
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        m_renderer.request(PreviewRequest{job, true, false});
        loop.exec();
        return shown;
    }

private slots:
    void initTestCase()
    {
        const QImage photo = scene(4 * kSide, 3 * kSide);
        QList<std::pair<int, JobRow>> rows;
        for (const Layout &l : m_layouts) {
            m_sources.push_back(l.make(photo));
            writeFile(m_dir.filePath(l.file), m_sources.back());
            m_upright.push_back(m_sources.back().isEmpty() ? QImage() : l.decode(m_sources.back()));
        }
        for (int o = 0; o < int(m_outputs.size()); ++o)
            for (int s = 0; s < int(std::size(kSizes)); ++s)
                for (int sh = 0; sh < int(std::size(kShapes)); ++sh) {
                    QVERIFY(QDir().mkpath(folderOf(s, sh, o)));
                    for (int l = 0; l < int(m_layouts.size()); ++l)
                        if (!m_sources[size_t(l)].isEmpty())
                            rows.append({int(rows.size()) + 1, cell(l, s, sh, o).row});
                }
        const BatchPlan plan = planBatch(rows);
        BatchPipeline pipeline;
        QSignalSpy done(&pipeline, &BatchPipeline::rowDone);
        testbatch::runBatch(pipeline, plan);
        for (const QList<QVariant> &signal : done) {
            const RowOutcome r = signal.at(0).value<RowOutcome>();
            m_written[r.output] = r;
        }
    }

    void routes_data()
    {
        QTest::addColumn<int>("layout");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("shape");
        QTest::addColumn<int>("output");
        for (int l = 0; l < int(m_layouts.size()); ++l)
            for (int s = 0; s < int(std::size(kSizes)); ++s)
                for (int sh = 0; sh < int(std::size(kShapes)); ++sh)
                    for (int o = 0; o < int(m_outputs.size()); ++o)
                        QTest::addRow("%s | %s | %s | %s", qPrintable(m_layouts[size_t(l)].name), kSizes[s].name,
                                      kShapes[sh].name, m_outputs[size_t(o)].name)
                            << l << s << sh << o;
    }
    void routes()
    {
        QFETCH(int, layout);
        QFETCH(int, size);
        QFETCH(int, shape);
        QFETCH(int, output);
        const Layout &l = m_layouts[size_t(layout)];
        if (m_sources[size_t(layout)].isEmpty())
            QSKIP("this layout cannot be made here");
        const Cell c = cell(layout, size, shape, output);
        const Job job = readJob(c.row);
        const QString out = c.row.saveFolder + outputFileName(c.row.fileName, job.format);
        const auto w = m_written.find(out);
        QVERIFY2(w != m_written.end(), "the batch reported no such row");
        QVERIFY2(w->second.status == RowOutcome::Status::Saved, qPrintable(w->second.reason));
        const QImage written = decodedByItsLibrary(job.format, readFile(out));
        QCOMPARE(written.size(), c.canvas);

        Expected &e = expected(layout, size, shape, job, c);
        const Floats &reference = e.reference, &shown = e.preview;
        const double referenceFloor = e.floor(true, output, m_outputs),
                     previewFloor = e.floor(false, output, m_outputs);
        const double margin = m_outputs[size_t(output)].margin;
        const double referenceBound = std::min(kRequired, referenceFloor - margin),
                     previewBound = std::min(kRequired, previewFloor - margin);
        QStringList faults;
        const auto require = [&](const char *what, double got, double need) {
            if (!(got >= need))
                faults << QStringLiteral("%1 %2 dB (needs %3)")
                              .arg(QLatin1String(what))
                              .arg(got, 0, 'f', 1)
                              .arg(need, 0, 'f', 1);
        };
        require("written file against the reference", testref::psnr(reference, written), referenceBound);
        require("preview against the reference", testref::psnr(reference, shown),
                halvesChroma(job) ? std::min(kRequired, e.halvedChromaFloor() - margin) : kRequired);
        require("written file against the preview", testref::psnr(shown, written), previewBound);
        if (e.firstLook) {
            require("first look against the reference", testref::psnr(reference, *e.firstLook), kFirstLookRequired);
            require("written file against the first look", testref::psnr(*e.firstLook, written),
                    together(kFirstLookRequired, referenceFloor));
        }
        if (l.knownFault)
            QEXPECT_FAIL("", l.knownFault, Continue);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
    }
};

QTEST_MAIN(TestRoutes)
#include "tst_routes.moc"
