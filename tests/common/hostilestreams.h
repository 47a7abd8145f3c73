#pragma once
// Hostile files that are valid enough to reach a decoder's inner loops: a JPEG
// whose scans repeat, GIFs whose screen or frame far exceeds their data, a PNG
// chunk claiming gigabytes after the pixels, a WebP followed by endless empty
// chunks, a HEIF grid declaring 100 megapixels of one small tile, a G4 fax TIFF of
// one bit a row. Each is written as a stream here, a few kilobytes, never stored:
// the engine's tests and bench/hostile.sh make them.

#include "tests/common/formatpictures.h"
#include "tests/common/testpictures.h"

#include <QByteArray>
#include <QList>

#include <zlib.h>

#include <algorithm>
#include <cstdint>

namespace testpics {

namespace hostile {

inline QByteArray be16(int v) { return QByteArray() + char(v >> 8) + char(v); }
inline QByteArray le16(int v) { return QByteArray() + char(v) + char(v >> 8); }
inline QByteArray be32(quint32 v) { return be16(int(v >> 16)) + be16(int(v & 0xFFFF)); }
inline QByteArray le32(quint32 v) { return le16(int(v & 0xFFFF)) + le16(int(v >> 16)); }

// ---- JPEG ----

struct Scan {
    int ss, se, ah, al; // spectral band and successive approximation
};

// A progressive greyscale JPEG of w x h grey pixels: a DC scan, then the AC scans
// given, each coded as runs of empty blocks (a few hundred bytes, whatever the
// size). Every scan still visits every block when decoded.
inline QByteArray progressiveJpeg(int w, int h, const QList<Scan> &scans)
{
    QByteArray out("\xFF\xD8", 2);
    out += QByteArray("\xFF\xDB\x00\x43\x00", 5) + QByteArray(64, '\x01');
    out += QByteArray("\xFF\xC2\x00\x0B\x08", 5) + be16(h) + be16(w) + QByteArray("\x01\x01\x11\x00", 4);
    // DC: one symbol (difference 0) of one bit; AC: the end-of-band runs EOB0..EOB14
    // in four bits each.
    out += QByteArray("\xFF\xC4\x00\x14\x00\x01", 6) + QByteArray(15, '\0') + '\0';
    out += QByteArray("\xFF\xC4\x00\x22\x10\x00\x00\x00\x0F", 9) + QByteArray(12, '\0');
    for (int r = 0; r < 15; ++r)
        out += char(r << 4);
    const qint64 blocks = qint64((w + 7) / 8) * ((h + 7) / 8);
    const auto scan = [&](const Scan &s, bool dc) {
        out += QByteArray("\xFF\xDA\x00\x08\x01\x01\x00", 7) + char(s.ss) + char(s.se) + char(s.ah << 4 | s.al);
        QByteArray data;
        quint32 acc = 0;
        int n = 0;
        const auto put = [&](quint32 bits, int count) {
            for (int i = count - 1; i >= 0; --i) {
                acc = acc << 1 | ((bits >> i) & 1);
                if (++n == 8) {
                    data += char(acc);
                    if (acc == 0xFF)
                        data += '\0';
                    acc = 0;
                    n = 0;
                }
            }
        };
        if (dc) {
            data.reserve(qsizetype(blocks / 8 + 16));
            for (qint64 b = 0; b < blocks; ++b)
                put(0, 1);
        } else {
            for (qint64 left = blocks; left > 0;) {
                const qint64 run = std::min<qint64>(left, 32767);
                int r = 0;
                while ((qint64(2) << r) <= run)
                    ++r;
                put(quint32(r), 4);
                put(quint32(run - (qint64(1) << r)), r);
                left -= run;
            }
        }
        if (n)
            put(0xFF, 8 - n);
        out += data;
    };
    scan({0, 0, 0, 0}, true);
    for (const Scan &s : scans)
        scan(s, false);
    return out + QByteArray("\xFF\xD9", 2);
}

// The same AC scan `times` times: each coefficient's first scan comes once in a
// real file.
inline QByteArray repeatedScanJpeg(int w, int h, int times)
{
    return progressiveJpeg(w, h, QList<Scan>(times, {1, 63, 0, 0}));
}

// `count` distinct scans that a decoder must accept one by one: each AC
// coefficient in a band of its own, then refined bit by bit from the 13th.
inline QByteArray manyScansJpeg(int w, int h, int count)
{
    QList<Scan> scans;
    for (int k = 1; k <= 63 && scans.size() < count; ++k)
        for (int al = 13; al >= 0 && scans.size() < count; --al)
            scans.append({k, k, al == 13 ? 0 : al + 1, al});
    return progressiveJpeg(w, h, scans);
}

// A JPEG's start (SOI and a JFIF segment) and nothing after it: made as long as
// wanted with a sparse file, it has no frame anywhere.
inline QByteArray frameless()
{
    return QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);
}

// ---- GIF ----

// A GIF of a screenW x screenH logical screen without colour table and one frame
// of frameW x frameH at (left, top), whose data is `pixels` pixels of index 0
// (LZW codes of three bits: cleared every two pixels); the rest of the frame is
// missing data.
inline QByteArray gifFrame(int screenW, int screenH, int left, int top, int frameW, int frameH, int pixels)
{
    QByteArray out = "GIF89a" + le16(screenW) + le16(screenH) + QByteArray(3, '\0');
    out += ',' + le16(left) + le16(top) + le16(frameW) + le16(frameH) + '\0' + '\x02';
    QByteArray bits;
    quint32 acc = 0;
    int n = 0;
    const auto put = [&](int code) {
        acc |= quint32(code) << n;
        for (n += 3; n >= 8; n -= 8, acc >>= 8)
            bits += char(acc);
    };
    for (int i = 0; i < pixels; ++i) {
        if (i % 2 == 0)
            put(4); // clear
        put(0);
    }
    put(5); // end of information
    if (n > 0)
        bits += char(acc);
    for (int at = 0; at < bits.size(); at += 255)
        out += char(bits.mid(at, 255).size()) + bits.mid(at, 255);
    return out + '\0' + ';';
}

// ---- PNG ----

inline QByteArray pngChunk(const char *type, const QByteArray &data)
{
    const QByteArray body = QByteArray(type, 4) + data;
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size())));
    return be32(quint32(data.size())) + body + be32(crc);
}

// A small PNG whose text chunk after the pixel data claims `claimed` bytes, with
// IEND after the few it holds.
inline QByteArray pngTextAfterPixels(quint32 claimed)
{
    const QByteArray png = qtEncoded(quadrants(16, 16), "png");
    const qsizetype iend = png.lastIndexOf("IEND") - 4;
    return png.left(iend) + be32(claimed) + "tEXtComment" + QByteArray(1, '\0') + "x" + png.mid(iend);
}

// ---- WebP ----

// A small WebP followed by `count` empty chunks, the RIFF size covering them all.
inline QByteArray webpWithEmptyChunks(qint64 count)
{
    QByteArray webp = qtEncoded(quadrants(16, 16), "webp", 90);
    webp.reserve(qsizetype(webp.size() + count * 8));
    for (qint64 i = 0; i < count; ++i)
        webp += QByteArray("JUNK\0\0\0\0", 8);
    const quint32 riff = quint32(webp.size() - 8);
    webp.replace(4, 4, le32(riff));
    return webp;
}

// ---- HEIF ----

inline QByteArray box(const char *type, const QByteArray &body) { return be32(quint32(8 + body.size())) + type + body; }
inline QByteArray fullBox(const char *type, int version, int flags, const QByteArray &body)
{
    return box(type, QByteArray() + char(version) + char(flags >> 16) + char(flags >> 8) + char(flags) + body);
}

// The body of the first box of `type` in data (searched as bytes), or empty.
inline QByteArray boxNamed(const QByteArray &data, const char *type, bool whole = false)
{
    const qsizetype at = data.indexOf(type);
    if (at < 4)
        return {};
    const quint32 size = quint32(uchar(data[at - 4])) << 24 | quint32(uchar(data[at - 3])) << 16
                         | quint32(uchar(data[at - 2])) << 8 | uchar(data[at - 1]);
    return whole ? data.mid(at - 4, size) : data.mid(at + 4, size - 8);
}

// The HEIF "ftyp" box of a still picture.
inline QByteArray heifFtyp() { return box("ftyp", QByteArray("heic\0\0\0\0mif1heic", 16)); }

// A HEIF grid of rows x columns tiles of one small grey tile, declaring
// width x height pixels: every tile item points at the same coded tile, so the
// file stays a few kilobytes. Empty without an HEVC encoder.
inline QByteArray heifGrid(int tile, int rows, int columns, int width, int height)
{
    QImage grey(tile, tile, QImage::Format_RGB32);
    grey.fill(qRgb(128, 128, 128));
    const QByteArray one = heic(grey);
    if (one.isEmpty())
        return {};
    const QByteArray hvcC = boxNamed(one, "hvcC", true), coded = boxNamed(one, "mdat");
    const int tiles = rows * columns;
    const auto id = [](int i) { return be16(i + 1); }; // 1: the grid, 2...: the tiles
    QByteArray infe, dimg, ipma, iloc;
    infe += fullBox("infe", 2, 0, id(0) + be16(0) + "grid" + '\0');
    for (int t = 1; t <= tiles; ++t) {
        infe += fullBox("infe", 2, 1, id(t) + be16(0) + "hvc1" + '\0'); // hidden
        dimg += id(t);
    }
    const QByteArray ispeTile = fullBox("ispe", 0, 0, be32(quint32(tile)) + be32(quint32(tile)));
    const QByteArray ispeGrid = fullBox("ispe", 0, 0, be32(quint32(width)) + be32(quint32(height)));
    const QByteArray ipco = box("ipco", hvcC + ispeTile + ispeGrid);
    ipma += id(0) + '\x01' + '\x03';
    for (int t = 1; t <= tiles; ++t)
        ipma += id(t) + '\x02' + '\x81' + '\x02';
    const QByteArray gridData = QByteArray(2, '\0') + char(rows - 1) + char(columns - 1) + be16(width) + be16(height);
    // iloc before mdat is sized first, then the offsets into mdat are known.
    const auto meta = [&](quint32 mdatData) {
        QByteArray locations = be16(tiles + 1) + id(0) + be16(0) + be16(1) + be32(mdatData + quint32(coded.size()))
                               + be32(quint32(gridData.size()));
        for (int t = 1; t <= tiles; ++t)
            locations += id(t) + be16(0) + be16(1) + be32(mdatData) + be32(quint32(coded.size()));
        return fullBox("meta", 0, 0,
                       fullBox("hdlr", 0, 0, QByteArray(4, '\0') + "pict" + QByteArray(13, '\0'))
                           + fullBox("pitm", 0, 0, id(0)) + fullBox("iloc", 0, 0, QByteArray("\x44\x00", 2) + locations)
                           + fullBox("iinf", 0, 0, be16(tiles + 1) + infe)
                           + fullBox("iref", 0, 0, box("dimg", id(0) + be16(tiles) + dimg))
                           + box("iprp", ipco + fullBox("ipma", 0, 0, be32(quint32(tiles + 1)) + ipma)));
    };
    const QByteArray head = heifFtyp();
    const quint32 mdatData = quint32(head.size() + meta(0).size() + 8);
    return head + meta(mdatData) + box("mdat", coded + gridData);
}

// ---- TIFF ----

inline QByteArray tiffEntry(int tag, int type, quint32 value)
{
    return le16(tag) + le16(type) + le32(1) + (type == 3 ? le16(int(value)) + QByteArray(2, '\0') : le32(value));
}

// A one-strip TIFF of w x h pixels around strip data, with the given compression,
// photometric interpretation and bits per sample (one sample a pixel).
inline QByteArray tiffStrip(quint32 w, quint32 h, int compression, int photometric, int bits, const QByteArray &strip)
{
    const quint32 dataAt = 8 + 2 + 9 * 12 + 4;
    return QByteArray("II*\0", 4) + le32(8) + le16(9) + tiffEntry(256, 4, w) + tiffEntry(257, 4, h)
           + tiffEntry(258, 3, quint32(bits)) + tiffEntry(259, 3, quint32(compression))
           + tiffEntry(262, 3, quint32(photometric)) + tiffEntry(273, 4, dataAt) + tiffEntry(277, 3, 1)
           + tiffEntry(278, 4, h) + tiffEntry(279, 4, quint32(strip.size())) + le32(0) + strip;
}

// A white fax page of w x h in G4 (T.6) coding: each row repeats the one above,
// one bit.
inline QByteArray g4White(quint32 w, quint32 h)
{
    QByteArray strip(qsizetype((h + 7) / 8), '\xFF');
    if (h % 8)
        strip.back() = char(0xFF << (8 - h % 8));
    strip += QByteArray("\x00\x10\x01", 3); // end of facsimile block, byte aligned
    return tiffStrip(w, h, 4, 0, 1, strip);
}

// A w x h grey TIFF of one Deflate strip (zlib packs a flat picture about a
// thousand to one).
inline QByteArray deflateGrey(quint32 w, quint32 h)
{
    z_stream z{};
    deflateInit(&z, 9);
    const QByteArray row(qsizetype(w) * 64, '\x80');
    QByteArray packed;
    char buffer[1 << 16];
    for (quint32 y = 0; y <= h; y += 64) {
        const bool last = y + 64 > h;
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(row.constData()));
        z.avail_in = uInt(qsizetype(w) * (last ? h - y : 64));
        do {
            z.next_out = reinterpret_cast<Bytef *>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            packed.append(buffer, qsizetype(sizeof buffer - z.avail_out));
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return tiffStrip(w, h, 8, 1, 8, packed);
}

} // namespace hostile

} // namespace testpics
