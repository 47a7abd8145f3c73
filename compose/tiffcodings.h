#pragma once
// The common TIFF codings (none, PackBits, LZW, Deflate) decoded while a strip's
// bytes are read, a piece at a time. libtiff reads a strip whole before it decodes
// its first row, so a picture stored in one strip of a hundred megabytes would cost
// the strip; decoded here it costs a piece of it and the rows asked for.

#include "compose/sourcefile.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kestrovia {

// The decoded bytes of one strip, in order.
class StripDecoder {
public:
    virtual ~StripDecoder() = default;
    // The next n decoded bytes into to. false when the strip's data ends or breaks
    // before n bytes come out (damaged data); throws Failure when the file can no
    // longer be read.
    virtual bool decode(std::uint8_t *to, size_t n) = 0;
};

// Whether the TIFF compression is decoded here.
bool decodesStrips(int compression);

// Whether LZW data starts in the old form that libtiff's first releases wrote
// (codes stored from the low bit): only libtiff reads it.
bool isOldStyleLzw(const std::uint8_t first[2]);

// A decoder for the count bytes at offset in source, stored with compression
// (decodesStrips). reverseBits: the bits of each byte are stored lowest first
// (FillOrder 2).
std::unique_ptr<StripDecoder> stripDecoder(int compression, const PictureSource &source, qint64 offset, qint64 count,
                                           bool reverseBits);

// What a decoder holds while it decodes: its piece of the strip and its tables.
constexpr qint64 kStripDecoderBytes = 256 * 1024;

// Undoes the TIFF predictor on one decoded row of `bytes` bytes (samples of `bits`
// bits, `stride` of them a pixel) and leaves samples of 16 bits or more in the
// machine's byte order (swap: the file's order differs). Horizontal differencing
// (2) works on whole samples, the floating point predictor (3) on the bytes of
// each sample apart. false for a predictor these samples cannot have.
bool undoPredictor(std::uint8_t *row, size_t bytes, int predictor, int bits, int stride, bool swap);

} // namespace kestrovia
