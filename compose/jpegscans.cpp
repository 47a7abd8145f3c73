#include "compose/jpegscans.h"

#include "platform/japanese.h"
#include "platform/stop.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kestrovia {

void JpegScanGuard::attach(jpeg_decompress_struct &cinfo)
{
    m_monitor.manager.progress_monitor = [](j_common_ptr c) {
        auto *monitor = reinterpret_cast<Monitor *>(c->progress);
        if (!monitor->guard->check(*reinterpret_cast<j_decompress_ptr>(c)))
            (*c->err->error_exit)(c);
    };
    cinfo.progress = &m_monitor.manager;
}

bool JpegScanGuard::check(const jpeg_decompress_struct &cinfo)
{
    if (refused())
        return false;
    if (cinfo.input_scan_number == m_scan || cinfo.comps_in_scan <= 0)
        return true;
    int components[MAX_COMPS_IN_SCAN];
    const int count = std::min(cinfo.comps_in_scan, MAX_COMPS_IN_SCAN);
    for (int i = 0; i < count; ++i)
        components[i] = cinfo.cur_comp_info[i]->component_index;
    return take(cinfo.input_scan_number, components, count, cinfo.Ss, cinfo.Se, cinfo.Ah);
}

bool JpegScanGuard::take(int number, const int *components, int count, int ss, int se, int ah)
{
    m_scan = number;
    if (number > kMaxJpegScans) {
        m_reason = ja("JPEG ファイルのスキャンが多すぎるため読み込めません（%1 個を超えています）").arg(kMaxJpegScans);
        return false;
    }
    // A first scan (no bits coded before) of coefficients that a first scan coded
    // already: the file repeats itself.
    const int first = std::max(0, ss), last = std::min(63, se);
    if (ah != 0 || first > last)
        return true;
    const std::uint64_t ones = last - first == 63 ? ~std::uint64_t(0) : (std::uint64_t(1) << (last - first + 1)) - 1;
    const std::uint64_t band = ones << first;
    for (int i = 0; i < count; ++i) {
        const int c = components[i];
        if (c < 0 || c >= MAX_COMPONENTS)
            continue;
        if (m_coded[size_t(c)] & band) {
            m_reason = ja("JPEG ファイルが壊れているため読み込めません（同じスキャンが繰り返されています）");
            return false;
        }
        m_coded[size_t(c)] |= band;
    }
    return true;
}

QString JpegScanGuard::checkScans(const PictureSource &source, qint64 from, const jpeg_decompress_struct &cinfo)
{
    if (!jpeg_has_multiple_scans(const_cast<j_decompress_ptr>(&cinfo)))
        return {};
    JpegScanGuard guard;
    const auto indexOf = [&](int id) {
        for (int c = 0; c < cinfo.num_components; ++c)
            if (cinfo.comp_info[c].component_id == id)
                return c;
        return -1;
    };
    {
        int components[MAX_COMPS_IN_SCAN];
        const int count = std::min(cinfo.comps_in_scan, MAX_COMPS_IN_SCAN);
        for (int i = 0; i < count; ++i)
            components[i] = cinfo.cur_comp_info[i]->component_index;
        if (!guard.take(1, components, count, cinfo.Ss, cinfo.Se, cinfo.Ah))
            return guard.reason();
    }
    // The markers after each scan's entropy-coded data: a 0xFF that is no stuffed
    // byte, no fill and no restart marker. Read in large pieces; a segment's length
    // jumps over its body.
    constexpr qint64 kPiece = 256 * 1024;
    std::vector<std::uint8_t> piece(static_cast<size_t>(kPiece));
    qint64 pieceAt = -1, pieceSize = 0;
    const auto at = [&](qint64 offset) -> int {
        if (offset < pieceAt || offset >= pieceAt + pieceSize) {
            checkPoint();
            pieceAt = offset;
            pieceSize = source.read(offset, piece.data(), kPiece);
            if (pieceSize <= 0)
                return -1;
        }
        return piece[size_t(offset - pieceAt)];
    };
    int scans = 1;
    for (qint64 i = from;;) {
        // The next 0xFF, a piece at a time.
        int b = at(i);
        while (b >= 0 && b != 0xFF) {
            const auto *p = piece.data() + (i - pieceAt);
            const auto *ff = static_cast<const std::uint8_t *>(std::memchr(p, 0xFF, size_t(pieceAt + pieceSize - i)));
            i = ff ? pieceAt + (ff - piece.data()) : pieceAt + pieceSize;
            b = at(i);
        }
        if (b < 0)
            return {}; // the file ends: the decode says it is cut
        int marker = at(i + 1);
        while (marker == 0xFF)
            marker = at(++i + 1);
        if (marker < 0)
            return {};
        if (marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01 || marker == 0xD8) {
            i += 2;
            continue;
        }
        if (marker == 0xD9)
            return {};
        const int hi = at(i + 2), lo = at(i + 3);
        if (hi < 0 || lo < 0)
            return {};
        const qint64 length = hi << 8 | lo;
        if (marker == 0xDA) {
            const int count = at(i + 4);
            if (count < 1 || count > MAX_COMPS_IN_SCAN)
                return {}; // libjpeg refuses the scan itself
            int components[MAX_COMPS_IN_SCAN];
            for (int k = 0; k < count; ++k)
                components[k] = indexOf(at(i + 5 + 2 * k));
            const qint64 band = i + 5 + 2 * count;
            const int ss = at(band), se = at(band + 1), approximation = at(band + 2);
            if (ss < 0 || se < 0 || approximation < 0)
                return {};
            if (!guard.take(++scans, components, count, ss, se, approximation >> 4))
                return guard.reason();
        }
        i += 2 + length;
    }
}

} // namespace kestrovia
