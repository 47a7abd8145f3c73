#pragma once
// The scans of a JPEG. Each scan of a progressive (or non-interleaved) JPEG is a
// pass over every block of the components it holds, however few bytes it takes:
// a file of 2 MB repeating one scan of a 20000 x 20000 picture 2,000 times keeps
// a decoder busy for minutes, with every coefficient of the picture in memory.
// Real encoders write a dozen scans at most (libjpeg's progressive script: 10),
// and each coefficient's first scan comes once; a file beyond either is refused
// before its scans are decoded.

#include "compose/sourcefile.h"

#include <QString>

#include <array>
#include <cstdint>
#include <cstdio> // jpeglib.h needs FILE

#include <jpeglib.h>

namespace kestrovia {

// Far above the scans any encoder writes, and few enough that the passes they
// cost stay within seconds for the largest picture taken.
inline constexpr int kMaxJpegScans = 100;

class JpegScanGuard {
public:
    // The scans of the JPEG in source, read from their headers before any is
    // decoded: from offset `from`, just past the first scan's header, which cinfo
    // has read (with the frame). Reads the entropy-coded data only to find the
    // markers after it. Empty when the scans are acceptable, else the Japanese
    // reason. For a picture of one scan there is nothing to read. Answers stop
    // requests between the pieces it reads (Stopped).
    static QString checkScans(const PictureSource &source, qint64 from, const jpeg_decompress_struct &cinfo);

    // Watches cinfo's scans from its progress monitor as libjpeg reads them too,
    // should it find a scan the reading above did not: a scan refused there ends
    // the decode through cinfo's error_exit. The guard must outlive the
    // decompressor's use.
    void attach(jpeg_decompress_struct &cinfo);
    // The same check for the caller of jpeg_consume_input, after each call: false
    // when the scan now read is refused (reason()).
    bool check(const jpeg_decompress_struct &cinfo);
    bool refused() const { return !m_reason.isEmpty(); }
    // Japanese, for the row's failure.
    QString reason() const { return m_reason; }

private:
    // Takes the scan numbered `number` over the components given (indexes into
    // the frame's) with its band and successive approximation; false when refused.
    bool take(int number, const int *components, int count, int ss, int se, int ah);

    struct Monitor {
        jpeg_progress_mgr manager; // first: libjpeg hands back its address
        JpegScanGuard *guard;
    };
    Monitor m_monitor{{}, this};
    int m_scan = 0;
    // Per component, the coefficients a first scan (no earlier bits) has coded.
    std::array<std::uint64_t, MAX_COMPONENTS> m_coded{};
    QString m_reason;
};

} // namespace kestrovia
