#include "compose/jpegrules.h"

#include <algorithm>

#include <jerror.h>

namespace kestrovia {

namespace {

// Warnings about the header alone: every pixel is as encoded.
constexpr int kHeaderWarnings[] = {JWRN_JFIF_MAJOR, JWRN_ADOBE_XFORM, JWRN_BOGUS_ICC};

} // namespace

bool jpegWarningLosesData(j_common_ptr c, const std::function<QByteArray(qint64 n)> &skippedBefore)
{
    const int code = c->err->msg_code;
    if (std::find(std::begin(kHeaderWarnings), std::end(kHeaderWarnings), code) != std::end(kHeaderWarnings))
        return false;
    if (code != JWRN_EXTRANEOUS_DATA)
        return true;
    // Before the first scan, stray bytes stand between header segments. After a
    // scan they follow its entropy-coded data, whose decoding took every MCU and
    // stopped there: a decoding that lost step leaves data of the scan behind (the
    // same warning before the end marker), fill leaves zeros.
    if (!c->is_decompressor || reinterpret_cast<j_decompress_ptr>(c)->input_scan_number == 0)
        return false;
    const qint64 count = c->err->msg_parm.i[0];
    const QByteArray skipped = skippedBefore(count);
    return skipped.size() != count || std::any_of(skipped.begin(), skipped.end(), [](char b) { return b != 0; });
}

bool jpegWarningTextLosesData(const QByteArray &text)
{
    // A header warning is known by the text libjpeg's own table gives it, up to the
    // first value put in.
    jpeg_error_mgr err{};
    jpeg_std_error(&err);
    for (const int code : kHeaderWarnings) {
        const QByteArray format(err.jpeg_message_table[code]);
        if (text.startsWith(format.indexOf('%') < 0 ? format : format.left(format.indexOf('%'))))
            return false;
    }
    return true;
}

QSizeF jpegComponentExtent(j_decompress_ptr c, int ci)
{
    const jpeg_component_info &k = c->comp_info[ci];
    const double scale = double(k.DCT_scaled_size) / DCTSIZE;
    return QSizeF(double(c->image_width) * k.h_samp_factor / c->max_h_samp_factor * scale,
                  double(c->image_height) * k.v_samp_factor / c->max_v_samp_factor * scale);
}

int setJpegReduction(j_decompress_ptr c, QSize need, double lumaPerDrawn, double chromaPerDrawn, int smallest)
{
    const auto keeps = [&](int d) {
        c->scale_num = 1;
        c->scale_denom = unsigned(d);
        jpeg_calc_output_dimensions(c);
        for (int ci = 0; ci < c->num_components; ++ci) {
            const QSizeF extent = jpegComponentExtent(c, ci);
            const double per = ci == 0 ? lumaPerDrawn : chromaPerDrawn;
            if (extent.width() < per * need.width() || extent.height() < per * need.height())
                return false;
        }
        return true;
    };
    if (need.isValid() && !need.isEmpty())
        for (int d = 8; d >= std::max(2, smallest); d /= 2)
            if (keeps(d))
                return d;
    c->scale_num = 1;
    c->scale_denom = 1;
    jpeg_calc_output_dimensions(c);
    return 1;
}

} // namespace kestrovia
