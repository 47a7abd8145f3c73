#include "export/writers.h"

#include "compose/memorybudget.h"
#include "platform/failure.h"
#include "platform/japanese.h"

#include <libheif/heif.h>
#include <png.h>
#include <webp/encode.h>
#include <webp/mux.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace kestrovia {

namespace {

[[noreturn]] void encoderFailed(const char *format)
{
    throw Failure(ja("%1 に変換できません（画像を圧縮できませんでした）").arg(QLatin1String(format)));
}

// What an encoder holds besides the canvas, reserved from the process's budget
// before it starts, so that a huge canvas is refused with its size rather than
// ending the process. Bytes a pixel, from the peak resident size of one picture of
// 1600x1200 over a JPEG's: WebP 8 (lossless 39), AVIF 27 (libaom at speed 6 or 9), PNG 5;
// rounded up.
MemoryReservation encoderMemory(const QImage &canvas, qint64 bytesPerPixel)
{
    return MemoryReservation(qint64(canvas.width()) * canvas.height() * bytesPerPixel, canvas.width(), canvas.height());
}

// Byte-ordered pixels (R, G, B[, A] straight) as every encoder here takes them,
// whatever the machine's byte order: Qt's conversion is one fast pass.
QImage bytePixels(const QImage &canvas, bool alpha, bool padded)
{
    const QImage::Format format = alpha    ? QImage::Format_RGBA8888
                                  : padded ? QImage::Format_RGBX8888
                                           : QImage::Format_RGB888;
    return canvas.format() == format ? canvas : canvas.convertToFormat(format);
}

// ---- WebP ----

// The largest side a WebP holds (14 bits).
constexpr int kWebpMaxSide = 16383;

struct WebpPicture {
    WebPPicture p;
    WebpPicture() { WebPPictureInit(&p); }
    ~WebpPicture() { WebPPictureFree(&p); }
};

struct WebpWriter {
    WebPMemoryWriter w;
    WebpWriter() { WebPMemoryWriterInit(&w); }
    ~WebpWriter() { WebPMemoryWriterClear(&w); }
};

struct WebpMux {
    WebPMux *mux = WebPMuxNew();
    ~WebpMux() { WebPMuxDelete(mux); }
};

WebPData webpData(const QByteArray &bytes)
{
    return WebPData{reinterpret_cast<const std::uint8_t *>(bytes.constData()), size_t(bytes.size())};
}

// ---- AVIF ----

template <typename T, auto Free> struct HeifPtr {
    T *p = nullptr;
    HeifPtr() = default;
    explicit HeifPtr(T *t)
        : p(t)
    {
    }
    HeifPtr(const HeifPtr &) = delete;
    HeifPtr &operator=(const HeifPtr &) = delete;
    ~HeifPtr()
    {
        if (p)
            Free(p);
    }
};

void heifCheck(heif_error e)
{
    if (e.code != heif_error_Ok)
        encoderFailed("AVIF");
}

heif_error appendTo(heif_context *, const void *data, size_t size, void *buffer)
{
    static_cast<QByteArray *>(buffer)->append(static_cast<const char *>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

// ---- PNG ----

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    QByteArray out;
    ~PngWriter() { png_destroy_write_struct(&png, &info); }

    static void onError(png_structp, png_const_charp) { encoderFailed("PNG"); }
    static void onWarning(png_structp, png_const_charp) { }
    static void onWrite(png_structp png, png_bytep data, png_size_t length)
    {
        static_cast<PngWriter *>(png_get_io_ptr(png))
            ->out.append(reinterpret_cast<const char *>(data), qsizetype(length));
    }
    static void onFlush(png_structp) { }
};

} // namespace

bool hasTransparency(const QImage &canvas)
{
    if (!canvas.hasAlphaChannel())
        return false;
    const QImage straight =
        canvas.format() == QImage::Format_ARGB32 ? canvas : canvas.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < straight.height(); ++y) {
        const auto *p = reinterpret_cast<const std::uint32_t *>(straight.constScanLine(y));
        if (std::any_of(p, p + straight.width(), [](std::uint32_t v) { return v < 0xFF000000u; }))
            return true;
    }
    return false;
}

QByteArray encodeWebp(const QImage &canvas, const WebpSettings &settings, const OutputMetadata &metadata)
{
    if (canvas.width() > kWebpMaxSide || canvas.height() > kWebpMaxSide)
        throw Failure(ja("WebP に書き込めるのは 1 辺 %1 ピクセルまでです（%2×%3 ピクセル）")
                          .arg(kWebpMaxSide)
                          .arg(canvas.width())
                          .arg(canvas.height()));
    WebPConfig config;
    if (!WebPConfigInit(&config))
        encoderFailed("WebP");
    config.lossless = settings.lossless ? 1 : 0;
    config.quality = float(std::clamp(settings.quality, 0, 100));
    config.method = std::clamp(settings.method, 0, 6);
    if (!WebPValidateConfig(&config))
        encoderFailed("WebP");
    const MemoryReservation memory = encoderMemory(canvas, settings.lossless ? 40 : 10);

    const bool alpha = hasTransparency(canvas);
    const QImage pixels = bytePixels(canvas, alpha, true);
    WebpPicture picture;
    // Lossless codes ARGB; lossy converts to its YUV 4:2:0 on import.
    picture.p.use_argb = settings.lossless ? 1 : 0;
    picture.p.width = pixels.width();
    picture.p.height = pixels.height();
    const int stride = int(pixels.bytesPerLine());
    if (!(alpha ? WebPPictureImportRGBA(&picture.p, pixels.constBits(), stride)
                : WebPPictureImportRGBX(&picture.p, pixels.constBits(), stride)))
        encoderFailed("WebP");
    WebpWriter writer;
    picture.p.writer = WebPMemoryWrite;
    picture.p.custom_ptr = &writer.w;
    if (!WebPEncode(&config, &picture.p))
        encoderFailed("WebP");
    const QByteArray plain(reinterpret_cast<const char *>(writer.w.mem), qsizetype(writer.w.size));
    if (metadata.exif.isEmpty() && metadata.xmp.isEmpty() && metadata.icc.isEmpty())
        return plain;

    // The chunks around the bitstream, and VP8X saying which there are.
    WebpMux mux;
    const WebPData image = webpData(plain);
    if (!mux.mux || WebPMuxSetImage(mux.mux, &image, 1) != WEBP_MUX_OK)
        encoderFailed("WebP");
    const std::pair<const char *, const QByteArray *> chunks[] = {
        {"ICCP", &metadata.icc}, {"EXIF", &metadata.exif}, {"XMP ", &metadata.xmp}};
    for (const auto &[fourcc, bytes] : chunks) {
        const WebPData data = webpData(*bytes);
        if (!bytes->isEmpty() && WebPMuxSetChunk(mux.mux, fourcc, &data, 1) != WEBP_MUX_OK)
            encoderFailed("WebP");
    }
    WebPData assembled;
    WebPDataInit(&assembled);
    if (WebPMuxAssemble(mux.mux, &assembled) != WEBP_MUX_OK)
        encoderFailed("WebP");
    const QByteArray out(reinterpret_cast<const char *>(assembled.bytes), qsizetype(assembled.size));
    WebPDataClear(&assembled);
    return out;
}

QByteArray encodeAvif(const QImage &canvas, const AvifSettings &settings, const OutputMetadata &metadata)
{
    const MemoryReservation memory = encoderMemory(canvas, 30);
    const HeifPtr<heif_context, heif_context_free> context(heif_context_alloc());
    if (!context.p)
        encoderFailed("AVIF");
    HeifPtr<heif_encoder, heif_encoder_release> encoder;
    heifCheck(heif_context_get_encoder_for_format(context.p, heif_compression_AV1, &encoder.p));
    if (settings.lossless) {
        heifCheck(heif_encoder_set_lossless(encoder.p, 1));
    } else {
        heifCheck(heif_encoder_set_lossless(encoder.p, 0));
        heifCheck(heif_encoder_set_lossy_quality(encoder.p, std::clamp(settings.quality, 0, 100)));
    }
    const bool fullChroma = settings.lossless || settings.fullChroma;
    heifCheck(heif_encoder_set_parameter_string(encoder.p, "chroma", fullChroma ? "444" : "420"));
    heifCheck(heif_encoder_set_parameter_integer(encoder.p, "speed", std::clamp(settings.speed, 0, 9)));
    // The batch already encodes one picture per core: threads of libaom's own
    // would only wait for each other.
    heifCheck(heif_encoder_set_parameter_integer(encoder.p, "threads", 1));

    const bool alpha = hasTransparency(canvas);
    const QImage pixels = bytePixels(canvas, alpha, false);
    HeifPtr<heif_image, heif_image_release> image;
    heifCheck(heif_image_create(pixels.width(), pixels.height(), heif_colorspace_RGB,
                                alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &image.p));
    heifCheck(heif_image_add_plane(image.p, heif_channel_interleaved, pixels.width(), pixels.height(), 8));
    int stride = 0;
    std::uint8_t *plane = heif_image_get_plane(image.p, heif_channel_interleaved, &stride);
    if (!plane)
        encoderFailed("AVIF");
    const size_t rowBytes = size_t(pixels.width()) * (alpha ? 4 : 3);
    for (int y = 0; y < pixels.height(); ++y)
        std::memcpy(plane + size_t(y) * size_t(stride), pixels.constScanLine(y), rowBytes);
    if (!metadata.icc.isEmpty())
        heifCheck(
            heif_image_set_raw_color_profile(image.p, "prof", metadata.icc.constData(), size_t(metadata.icc.size())));

    // The colours as JPEG's YCbCr holds them (BT.601 matrix, full range) in sRGB;
    // lossless AVIF keeps RGB itself (identity matrix), or it would not be lossless.
    // libheif converts by the nclx the picture carries and writes that one.
    const HeifPtr<heif_color_profile_nclx, heif_nclx_color_profile_free> nclx(heif_nclx_color_profile_alloc());
    if (!nclx.p)
        encoderFailed("AVIF");
    heifCheck(heif_nclx_color_profile_set_color_primaries(nclx.p, heif_color_primaries_ITU_R_BT_709_5));
    heifCheck(heif_nclx_color_profile_set_transfer_characteristics(nclx.p, heif_transfer_characteristic_IEC_61966_2_1));
    heifCheck(heif_nclx_color_profile_set_matrix_coefficients(
        nclx.p, settings.lossless ? heif_matrix_coefficients_RGB_GBR : heif_matrix_coefficients_ITU_R_BT_601_6));
    nclx.p->full_range_flag = 1;
    heifCheck(heif_image_set_nclx_color_profile(image.p, nclx.p));
    const HeifPtr<heif_encoding_options, heif_encoding_options_free> options(heif_encoding_options_alloc());
    options.p->output_nclx_profile = nclx.p;
    // Without it a profile would replace the nclx box, and readers that go by the
    // nclx alone would guess the matrix.
    options.p->save_two_colr_boxes_when_ICC_and_nclx_available = 1;
    options.p->save_alpha_channel = alpha ? 1 : 0;
    HeifPtr<heif_image_handle, heif_image_handle_release> handle;
    heifCheck(heif_context_encode_image(context.p, image.p, encoder.p, options.p, &handle.p));
    if (!metadata.exif.isEmpty())
        heifCheck(
            heif_context_add_exif_metadata(context.p, handle.p, metadata.exif.constData(), int(metadata.exif.size())));
    if (!metadata.xmp.isEmpty())
        heifCheck(
            heif_context_add_XMP_metadata(context.p, handle.p, metadata.xmp.constData(), int(metadata.xmp.size())));
    QByteArray out;
    heif_writer writer{1, appendTo};
    heifCheck(heif_context_write(context.p, &writer, &out));
    return out;
}

QByteArray encodePng(const QImage &canvas, const PngSettings &settings, const OutputMetadata &metadata)
{
    const MemoryReservation memory = encoderMemory(canvas, 6);
    const bool alpha = hasTransparency(canvas);
    const QImage pixels = bytePixels(canvas, alpha, false);
    PngWriter w;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w, PngWriter::onError, PngWriter::onWarning);
    if (!w.png)
        encoderFailed("PNG");
    w.info = png_create_info_struct(w.png);
    if (!w.info)
        encoderFailed("PNG");
    png_set_write_fn(w.png, &w, PngWriter::onWrite, PngWriter::onFlush);
    // A profile libpng finds fault with is left out, not the picture.
    png_set_benign_errors(w.png, 1);
    png_set_compression_level(w.png, std::clamp(settings.zlibLevel, 1, 9));
    // libpng's own choice for filtered rows, Z_FILTERED, gives photos 5% more bytes
    // at zlib 6 and above.
    png_set_compression_strategy(w.png, Z_DEFAULT_STRATEGY);
    png_set_filter(w.png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
    png_set_IHDR(w.png, w.info, png_uint_32(pixels.width()), png_uint_32(pixels.height()), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
    if (!metadata.icc.isEmpty())
        png_set_iCCP(w.png, w.info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE,
                     reinterpret_cast<png_const_bytep>(metadata.icc.constData()), png_uint_32(metadata.icc.size()));
    QByteArray exif = metadata.exif;
    if (!exif.isEmpty())
        png_set_eXIf_1(w.png, w.info, png_uint_32(exif.size()), reinterpret_cast<png_bytep>(exif.data()));
    QByteArray xmp = metadata.xmp;
    char key[] = "XML:com.adobe.xmp";
    char none[] = "";
    png_text text{};
    if (!xmp.isEmpty()) {
        // Uncompressed, as XMP readers that scan a file for the packet expect.
        text.compression = PNG_ITXT_COMPRESSION_NONE;
        text.key = key;
        text.text = xmp.data();
        text.itxt_length = size_t(xmp.size());
        text.lang = none;
        text.lang_key = none;
        png_set_text(w.png, w.info, &text, 1);
    }
    // Everything above goes before the pixels.
    png_write_info(w.png, w.info);
    for (int y = 0; y < pixels.height(); ++y)
        png_write_row(w.png, pixels.constScanLine(y));
    // No info here: the chunks above are written once, before IDAT.
    png_write_end(w.png, nullptr);
    return std::move(w.out);
}

} // namespace kestrovia
