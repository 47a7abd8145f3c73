#include "compose/jpegrules.h"

#include <algorithm>

namespace kestrovia {

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
