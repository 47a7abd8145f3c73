#pragma once
// The program's outputs read back by each format's own library (libjpeg-turbo,
// libwebp, libheif, libpng), never by the program's decoder, so that a writer and
// a reader of ours cannot agree on a mistake. Tests that include this link libwebp,
// libheif and libpng.

#include "compose/jobrow.h"

#include <QByteArray>
#include <QImage>

#include <libheif/heif.h>
#include <png.h>
#include <turbojpeg.h>
#include <webp/decode.h>

#include <cstring>
#include <memory>

namespace testpics {

// The picture in file as Format_ARGB32 with straight alpha (opaque where the
// format has none); a null image when the library refuses the data.
inline QImage decodedByItsLibrary(kestrovia::OutputFormat format, const QByteArray &file)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(file.constData());
    QImage out;
    switch (format) {
    case kestrovia::OutputFormat::Jpeg: {
        tjhandle tj = tjInitDecompress();
        int w = 0, h = 0, subsamp = 0, space = 0;
        if (tjDecompressHeader3(tj, bytes, (unsigned long)file.size(), &w, &h, &subsamp, &space) == 0) {
            out = QImage(w, h, QImage::Format_RGBA8888);
            if (tjDecompress2(tj, bytes, (unsigned long)file.size(), out.bits(), w, int(out.bytesPerLine()), h,
                              TJPF_RGBA, 0)
                != 0)
                out = QImage();
        }
        tjDestroy(tj);
        break;
    }
    case kestrovia::OutputFormat::WebP: {
        int w = 0, h = 0;
        uint8_t *rgba = WebPDecodeRGBA(bytes, size_t(file.size()), &w, &h);
        if (rgba) {
            out = QImage(rgba, w, h, w * 4, QImage::Format_RGBA8888).copy();
            WebPFree(rgba);
        }
        break;
    }
    case kestrovia::OutputFormat::Avif: {
        heif_context *ctx = heif_context_alloc();
        heif_image_handle *handle = nullptr;
        heif_image *img = nullptr;
        if (heif_context_read_from_memory_without_copy(ctx, file.constData(), size_t(file.size()), nullptr).code
                == heif_error_Ok
            && heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok
            && heif_decode_image(handle, &img, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr).code
                   == heif_error_Ok) {
            int stride = 0;
            const uint8_t *p = heif_image_get_plane_readonly(img, heif_channel_interleaved, &stride);
            const int w = heif_image_get_width(img, heif_channel_interleaved);
            const int h = heif_image_get_height(img, heif_channel_interleaved);
            out = QImage(p, w, h, stride, QImage::Format_RGBA8888).copy();
        }
        heif_image_release(img);
        heif_image_handle_release(handle);
        heif_context_free(ctx);
        break;
    }
    case kestrovia::OutputFormat::Png: {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (png_image_begin_read_from_memory(&image, file.constData(), size_t(file.size()))) {
            image.format = PNG_FORMAT_RGBA;
            out = QImage(int(image.width), int(image.height), QImage::Format_RGBA8888);
            if (!png_image_finish_read(&image, nullptr, out.bits(), png_int_32(out.bytesPerLine()), nullptr))
                out = QImage();
        }
        png_image_free(&image);
        break;
    }
    }
    return out.isNull() ? out : out.convertToFormat(QImage::Format_ARGB32);
}

// Whether the file stores an alpha channel at all, by its own library.
inline bool storesAlpha(kestrovia::OutputFormat format, const QByteArray &file)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(file.constData());
    switch (format) {
    case kestrovia::OutputFormat::WebP: {
        WebPBitstreamFeatures features;
        return WebPGetFeatures(bytes, size_t(file.size()), &features) == VP8_STATUS_OK && features.has_alpha;
    }
    case kestrovia::OutputFormat::Avif: {
        heif_context *ctx = heif_context_alloc();
        heif_image_handle *handle = nullptr;
        bool alpha = false;
        if (heif_context_read_from_memory_without_copy(ctx, file.constData(), size_t(file.size()), nullptr).code
                == heif_error_Ok
            && heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok)
            alpha = heif_image_handle_has_alpha_channel(handle);
        heif_image_handle_release(handle);
        heif_context_free(ctx);
        return alpha;
    }
    case kestrovia::OutputFormat::Png: {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        const bool alpha = png_image_begin_read_from_memory(&image, file.constData(), size_t(file.size()))
                           && (image.format & PNG_FORMAT_FLAG_ALPHA);
        png_image_free(&image);
        return alpha;
    }
    case kestrovia::OutputFormat::Jpeg: break;
    }
    return false;
}

} // namespace testpics
