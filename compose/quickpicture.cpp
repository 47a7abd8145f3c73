#include "compose/quickpicture.h"

#include "compose/colorprofile.h"
#include "compose/imagebuffer.h"
#include "compose/jpegrules.h"
#include "compose/jpegscans.h"
#include "compose/picturedecoder.h"
#include "compose/pictureformat.h"
#include "platform/failure.h"
#include "platform/stop.h"

#include <algorithm>
#include <array>
#include <csetjmp>

namespace kestrovia {

namespace {

// libjpeg reports errors by calling error_exit, which must not return; it jumps
// back to the call that was guarded. A warning that means lost or invented data
// (jpegWarningLosesData) is taken as an error, as the full decode takes it: a first
// look that ends in grey is no look.
struct ErrorTrap {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
    const QByteArray *data = nullptr;
};

void trapError(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorTrap *>(info->err)->jump, 1); }

void trapWarning(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    const QByteArray &data = *reinterpret_cast<ErrorTrap *>(info->err)->data;
    const auto *d = reinterpret_cast<j_decompress_ptr>(info);
    const qint64 at = d->src->next_input_byte - reinterpret_cast<const JOCTET *>(data.constData());
    const bool loses =
        jpegWarningLosesData(info, [&](qint64 n) { return at >= n ? data.mid(at - n, n) : QByteArray(); });
    if (loses)
        trapError(info);
}

void stayQuiet(j_common_ptr) { }

struct Decompressor {
    jpeg_decompress_struct info{};
    ErrorTrap trap;
    JpegScanGuard scans; // a file of endless scans gives no first look
    bool created = false;

    Decompressor()
    {
        info.err = jpeg_std_error(&trap.manager);
        trap.manager.error_exit = trapError;
        trap.manager.emit_message = trapWarning;
        trap.manager.output_message = stayQuiet;
    }
    ~Decompressor()
    {
        if (created)
            jpeg_destroy_decompress(&info);
    }
    Decompressor(const Decompressor &) = delete;
    Decompressor &operator=(const Decompressor &) = delete;

    // Runs the libjpeg calls in step; false when libjpeg gave up. Nothing between
    // the jump's target and libjpeg holds an object with a destructor, so the jump
    // skips no clean-up.
    template <typename Step> [[gnu::noinline]] bool guarded(const Step &step)
    {
        if (setjmp(trap.jump) != 0)
            return false;
        step();
        return true;
    }
};

} // namespace

std::optional<DecodedPicture> decodeQuickJpeg(const QByteArray &data, const NeedFunction &cover, int minReduction)
{
    if (!cover || sniffPictureFormat(data) != PictureFormat::Jpeg)
        return std::nullopt;
    Decompressor d;
    d.trap.data = &data;
    if (!d.guarded([&] { jpeg_create_decompress(&d.info); }))
        return std::nullopt;
    d.created = true;
    d.scans.attach(d.info);
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    if (!d.guarded([&] {
            jpeg_mem_src(&d.info, bytes, static_cast<unsigned long>(data.size()));
            jpeg_read_header(&d.info, TRUE);
        }))
        return std::nullopt;
    if (d.info.jpeg_color_space == JCS_CMYK || d.info.jpeg_color_space == JCS_YCCK)
        return std::nullopt;
    // Nor a grey one under a grey profile: the full decode converts its greys.
    if (d.info.jpeg_color_space == JCS_GRAYSCALE
        && iccColourSpace(embeddedIccProfile(data, PictureFormat::Jpeg)) == IccSpace::Gray)
        return std::nullopt;
    const qint64 afterHeader = data.size() - qint64(d.info.src->bytes_in_buffer);
    if (!JpegScanGuard::checkScans(PictureSource::memory(data), afterHeader, d.info).isEmpty())
        return std::nullopt;
    const int w = int(d.info.image_width);
    const int h = int(d.info.image_height);
    try {
        checkPictureSize(w, h);
    } catch (const Failure &) {
        return std::nullopt;
    }

    const int orientation = embeddedExifOrientation(data, PictureFormat::Jpeg);
    const bool sideways = orientation >= 5;
    QSize want = cover(sideways ? QSize(h, w) : QSize(w, h));
    if (!want.isValid() || want.isEmpty())
        return std::nullopt;
    if (sideways)
        want.transpose();
    // The reduced picture's extent (w / denom, the last block partial) must reach the
    // size it is drawn at, or the first look would be blurred where the exact one is
    // not; so must its chroma, which libjpeg repeats at 1/8 rather than interpolates.
    int denom = 1;
    if (!d.guarded([&] { denom = setJpegReduction(&d.info, want, 1, 1, minReduction); }) || denom == 1)
        return std::nullopt;
    // Format_RGB32 is 0xFFRRGGBB in native order; the alpha layouts make libjpeg
    // write the 0xFF Qt expects in the fourth byte.
    d.info.out_color_space = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRA : JCS_EXT_ARGB;
    if (!d.guarded([&] { jpeg_start_decompress(&d.info); }))
        return std::nullopt;

    QImage img;
    try {
        img = newImage(int(d.info.output_width), int(d.info.output_height));
    } catch (const Failure &) {
        return std::nullopt;
    }
    // In bands, so that a newer request stops this one within a few rows.
    constexpr int kBand = 16;
    std::array<JSAMPROW, kBand> rows{};
    while (d.info.output_scanline < d.info.output_height) {
        checkPoint();
        const int first = int(d.info.output_scanline);
        const int count = std::min(kBand, int(d.info.output_height) - first);
        for (int i = 0; i < count; ++i)
            rows[size_t(i)] = img.scanLine(first + i);
        if (!d.guarded([&] { jpeg_read_scanlines(&d.info, rows.data(), JDIMENSION(count)); }))
            return std::nullopt;
    }
    if (!d.guarded([&] { jpeg_finish_decompress(&d.info); }))
        return std::nullopt;

    DecodedPicture out;
    out.image = orientImage(img, orientation);
    out.size = sideways ? QSize(h, w) : QSize(w, h);
    out.extent = orientRect(QRectF(0, 0, double(w) / denom, double(h) / denom), img.size(), orientation);
    return out;
}

} // namespace kestrovia
