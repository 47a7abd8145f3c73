#pragma once
// Test pictures beyond JPEG and BMP, made on the fly: anything Qt writes (PNG,
// TIFF, WebP), HEIC through libheif's own encoder, and ICC profiles from lcms2.

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <lcms2.h>
#include <libheif/heif.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace testpics {

inline QByteArray qtEncoded(const QImage &img, const char *format, int quality = -1,
                            QImageIOHandler::Transformations turn = QImageIOHandler::TransformationNone)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setTransformation(turn);
    if (!writer.write(img))
        throw std::runtime_error(writer.errorString().toStdString());
    return buffer.data();
}

// A HEIC from libheif's encoder (x265 on Debian), stored turned by `orientation`,
// with the given profile and metadata (exif: a TIFF structure; xmp: a packet).
// Empty when libheif has no HEVC encoder.
inline QByteArray heic(const QImage &src, heif_orientation orientation = heif_orientation_normal,
                       const QByteArray &icc = {}, const QByteArray &exif = {}, const QByteArray &xmp = {})
{
    heif_context *ctx = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    if (heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder).code != heif_error_Ok) {
        heif_context_free(ctx);
        return {};
    }
    heif_encoder_set_lossy_quality(encoder, 95);
    const bool alpha = src.hasAlphaChannel();
    const QImage rgb = src.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    heif_image *img = nullptr;
    heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB,
                      alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &img);
    heif_image_add_plane(img, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t *p = heif_image_get_plane(img, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(p + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * (alpha ? 4 : 3));
    if (!icc.isEmpty())
        heif_image_set_raw_color_profile(img, "prof", icc.constData(), size_t(icc.size()));
    heif_encoding_options *options = heif_encoding_options_alloc();
    options->image_orientation = orientation;
    heif_image_handle *handle = nullptr;
    heif_context_encode_image(ctx, img, encoder, options, &handle);
    if (!exif.isEmpty())
        heif_context_add_exif_metadata(ctx, handle, exif.constData(), int(exif.size()));
    if (!xmp.isEmpty())
        heif_context_add_XMP_metadata(ctx, handle, xmp.constData(), int(xmp.size()));
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_image_release(img);
    heif_encoder_release(encoder);
    QByteArray out;
    heif_writer writer{1, [](heif_context *, const void *data, size_t size, void *user) {
                           static_cast<QByteArray *>(user)->append(static_cast<const char *>(data), qsizetype(size));
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                       }};
    heif_context_write(ctx, &writer, &out);
    heif_context_free(ctx);
    return out;
}

// A PNG of img written by libpng in colour type `type` (PNG_COLOR_TYPE_GRAY, _GRAY_ALPHA,
// _RGB, _RGB_ALPHA, _PALETTE) at `depth` bits, Adam7-interlaced on request. Grey
// is taken from the green channel; a palette picture indexes its 256 levels of green
// (lower depths keep the top bits), with transparency on even levels when
// transparentEven.
inline QByteArray pngFile(const QImage &img, int type, int depth, bool interlaced, bool transparentEven = false)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    QByteArray out;
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t n) {
            static_cast<QByteArray *>(png_get_io_ptr(p))->append(reinterpret_cast<const char *>(data), qsizetype(n));
        },
        nullptr);
    const int w = img.width(), h = img.height();
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), depth, type,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    const int levels = 1 << std::min(depth, 8);
    if (type == PNG_COLOR_TYPE_PALETTE) {
        std::vector<png_color> palette(static_cast<size_t>(levels));
        std::vector<png_byte> alpha(static_cast<size_t>(levels));
        for (int i = 0; i < levels; ++i) {
            const int v = i * 255 / (levels - 1);
            palette[size_t(i)] = {png_byte(v), png_byte(v), png_byte(255 - v)};
            alpha[size_t(i)] = png_byte(i % 2 ? 255 : v / 2);
        }
        png_set_PLTE(png, info, palette.data(), levels);
        if (transparentEven)
            png_set_tRNS(png, info, alpha.data(), levels, nullptr);
    }
    png_write_info(png, info);
    if (depth == 16)
        png_set_swap(png); // the rows below are in native order
    const int channels = type == PNG_COLOR_TYPE_RGB_ALPHA    ? 4
                         : type == PNG_COLOR_TYPE_RGB        ? 3
                         : type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                             : 1;
    const int samples = depth == 16 ? 2 : 1;
    std::vector<std::vector<png_byte>> rows(size_t(h), std::vector<png_byte>(size_t(w * channels * samples + 1)));
    for (int y = 0; y < h; ++y) {
        png_byte *row = rows[size_t(y)].data();
        std::fill(row, row + w * channels * samples + 1, png_byte(0));
        for (int x = 0; x < w; ++x) {
            const QRgb c = img.pixel(x, y);
            const int values[4] = {channels >= 3 ? qRed(c) : qGreen(c), channels >= 3 ? qGreen(c) : qAlpha(c), qBlue(c),
                                   qAlpha(c)};
            if (depth < 8) { // packed, most significant bits first
                const int v = qGreen(c) >> (8 - depth);
                row[x * depth / 8] |= png_byte(v << (8 - depth - x * depth % 8));
                continue;
            }
            for (int k = 0; k < channels; ++k) {
                if (depth == 16) {
                    const quint16 v = quint16(values[k] * 257 + (x * 37 + y * 11) % 199); // below 8 bits too
                    std::memcpy(row + (x * channels + k) * 2, &v, 2);
                } else {
                    row[x * channels + k] = png_byte(values[k]);
                }
            }
        }
    }
    std::vector<png_bytep> pointers;
    for (auto &r : rows)
        pointers.push_back(r.data());
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// An animated WebP of frames (each encoded by Qt at quality, placed at an even
// position) on a clear canvas.
inline QByteArray webpAnimation(QSize canvas, const QList<QPair<QImage, QPoint>> &frames, int quality)
{
    const auto le24 = [](int v) { return QByteArray() + char(v) + char(v >> 8) + char(v >> 16); };
    const auto le32 = [&](qsizetype v) { return le24(int(v)) + char(v >> 24); };
    QByteArray body = "VP8X" + le32(10) + char(0x12) + QByteArray(3, '\0') + le24(canvas.width() - 1)
                      + le24(canvas.height() - 1) + "ANIM" + le32(6) + QByteArray(6, '\0');
    for (const auto &[image, at] : frames) {
        QByteArray chunks = qtEncoded(image, "webp", quality).mid(12);
        if (chunks.startsWith("VP8X"))
            chunks = chunks.mid(18);
        const QByteArray frame = le24(at.x() / 2) + le24(at.y() / 2) + le24(image.width() - 1)
                                 + le24(image.height() - 1) + le24(100) + '\0' + chunks;
        body += "ANMF" + le32(frame.size()) + frame;
    }
    return "RIFF" + le32(4 + body.size()) + "WEBP" + body;
}

// The profile's bytes; closes it.
inline QByteArray savedProfile(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray out(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, out.data(), &size);
    cmsCloseProfile(profile);
    return out;
}

// Adobe RGB (1998) primaries and white, gamma 563/256; padded with a private tag of
// `padding` bytes on request (to exceed one JPEG segment).
inline QByteArray adobeLikeProfile(int padding = 0)
{
    const cmsCIExyY d65{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
    cmsToneCurve *gamma = cmsBuildGamma(nullptr, 563.0 / 256);
    cmsToneCurve *curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE profile = cmsCreateRGBProfile(&d65, &primaries, curves);
    cmsFreeToneCurve(gamma);
    if (padding) {
        const QByteArray blob(padding, 'k');
        cmsWriteRawTag(profile, cmsTagSignature(0x6b737476), blob.constData(), cmsUInt32Number(blob.size()));
    }
    return savedProfile(profile);
}

// The ink of the patch: 50 % cyan, 30 % magenta, 10 % yellow, 20 % black.
inline const double kInk[4] = {0.5, 0.3, 0.1, 0.2};

// A press no standard profile resembles: ink spreads (coverage sqrt(ink)), so a
// mid-tone comes out far darker than the plain formula says.
inline QRgb pressModel(const double ink[4])
{
    const auto channel = [&](int i) {
        return int(std::lround(255 * (1 - std::sqrt(ink[i])) * (1 - std::sqrt(ink[3]))));
    };
    return qRgb(channel(0), channel(1), channel(2));
}

// A CMYK printer profile (CMYK to Lab table, 17 points a side) of pressModel.
inline QByteArray pressProfile()
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile(), lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsStage *table = cmsStageAllocCLut16bit(nullptr, 17, 4, 3, nullptr);
    cmsStageSampleCLut16bit(
        table,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void *transform) -> cmsInt32Number {
            const double ink[4] = {in[0] / 65535.0, in[1] / 65535.0, in[2] / 65535.0, in[3] / 65535.0};
            const QRgb c = pressModel(ink);
            const double rgb[3] = {qRed(c) / 255.0, qGreen(c) / 255.0, qBlue(c) / 255.0};
            cmsCIELab lab;
            cmsDoTransform(transform, rgb, &lab, 1);
            cmsFloat2LabEncoded(out, &lab);
            return 1;
        },
        toLab, 0);
    cmsPipeline *pipeline = cmsPipelineAlloc(nullptr, 4, 3);
    // lutAtoBType wants input and output curves around the table: plain ones here.
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END, table);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsHPROFILE press = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(press, 4.3);
    cmsSetDeviceClass(press, cmsSigOutputClass);
    cmsSetColorSpace(press, cmsSigCmykData);
    cmsSetPCS(press, cmsSigLabData);
    cmsWriteTag(press, cmsSigAToB0Tag, pipeline);
    cmsPipelineFree(pipeline);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    return savedProfile(press);
}

// What lcms2 itself makes of the patch through profile.
inline QRgb lcmsPatch(const QByteArray &profile)
{
    unsigned char cmyk[4];
    for (int i = 0; i < 4; ++i)
        cmyk[i] = static_cast<unsigned char>(std::lround(255 * (1 - kInk[i])));
    cmsHPROFILE in = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(in, TYPE_CMYK_8_REV, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC,
                                         cmsFLAGS_BLACKPOINTCOMPENSATION);
    unsigned char rgb[3] = {};
    cmsDoTransform(t, cmyk, rgb, 1);
    cmsDeleteTransform(t);
    cmsCloseProfile(in);
    cmsCloseProfile(srgb);
    return qRgb(rgb[0], rgb[1], rgb[2]);
}

// A grey profile of gamma `gamma` (1: linear light, so that a stored 127 means sRGB's
// 187).
inline QByteArray greyProfile(double gamma)
{
    cmsToneCurve *curve = cmsBuildGamma(nullptr, gamma);
    cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsFreeToneCurve(curve);
    return savedProfile(profile);
}

// A press grey like Photoshop's "Dot Gain 20%": ink spreads, so that 50 % ink
// covers 70 % of the paper and the stored grey prints darker than it reads.
inline QByteArray dotGainProfile()
{
    float table[256];
    for (int v = 0; v < 256; ++v) {
        const double ink = 1 - v / 255.0;
        table[v] = float(1 - (ink + 0.8 * ink * (1 - ink)));
    }
    cmsToneCurve *curve = cmsBuildTabulatedToneCurveFloat(nullptr, 256, table);
    cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsFreeToneCurve(curve);
    return savedProfile(profile);
}

// What lcms2 makes of a stored grey through a grey profile, in sRGB.
inline QRgb lcmsGrey(const QByteArray &profile, int grey)
{
    cmsHPROFILE in = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(in, TYPE_GRAY_8, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC,
                                         cmsFLAGS_BLACKPOINTCOMPENSATION);
    const unsigned char g = static_cast<unsigned char>(grey);
    unsigned char rgb[3] = {};
    cmsDoTransform(t, &g, rgb, 1);
    cmsDeleteTransform(t);
    cmsCloseProfile(in);
    cmsCloseProfile(srgb);
    return qRgb(rgb[0], rgb[1], rgb[2]);
}

// A GIF of 8-bit frames over a 256-colour table; LZW codes stay 9 bits wide
// because the table is cleared every 100 pixels.
inline QByteArray gif(int w, int h, const QList<QImage> &frames, int transparent = -1, int screenW = 0)
{
    const auto le16 = [](int v) { return QByteArray() + char(v) + char(v >> 8); };
    QByteArray out = "GIF89a" + le16(screenW ? screenW : w) + le16(h) + "\xF7" + '\0' + '\0';
    const QList<QRgb> table = frames.first().colorTable();
    for (int i = 0; i < 256; ++i)
        out += QByteArray() + char(qRed(table.value(i))) + char(qGreen(table.value(i))) + char(qBlue(table.value(i)));
    for (const QImage &f : frames) {
        if (transparent >= 0)
            out += QByteArray("\x21\xF9\x04\x01\x00\x00", 6) + char(transparent) + '\0';
        out += ',' + le16(0) + le16(0) + le16(w) + le16(h) + '\0' + '\x08';
        QByteArray bits;
        quint32 acc = 0;
        int n = 0;
        const auto put = [&](int code) {
            acc |= quint32(code) << n;
            for (n += 9; n >= 8; n -= 8, acc >>= 8)
                bits += char(acc);
        };
        for (int i = 0; i < w * h; ++i) {
            if (i % 100 == 0)
                put(256);
            put(f.pixelIndex(i % w, i / w));
        }
        put(257);
        if (n > 0)
            bits += char(acc);
        for (int at = 0; at < bits.size(); at += 255)
            out += char(bits.mid(at, 255).size()) + bits.mid(at, 255);
        out += '\0';
    }
    return out + ';';
}

} // namespace testpics
