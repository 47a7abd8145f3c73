#include "compose/tiffcodings.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include <tiffio.h>
#include <zlib.h>

namespace kestrovia {

namespace {

// A strip's bytes as they are read from the file, a piece at a time.
class StripBytes {
public:
    StripBytes(const PictureSource &source, qint64 offset, qint64 count, bool reverseBits)
        : m_source(source)
        , m_at(offset)
        , m_left(count)
        , m_reverse(reverseBits)
    {
    }

    const std::uint8_t *p = nullptr, *end = nullptr; // the piece not yet used

    // Reads the next piece; false at the strip's end.
    bool refill()
    {
        if (m_left <= 0)
            return false;
        constexpr qint64 kPiece = 64 * 1024;
        m_piece.resize(size_t(std::min(kPiece, m_left)));
        const qint64 got = m_source.read(m_at, m_piece.data(), qint64(m_piece.size()));
        if (got <= 0) {
            m_left = 0;
            return false;
        }
        if (m_reverse)
            TIFFReverseBits(m_piece.data(), tmsize_t(got));
        m_at += got;
        m_left -= got;
        p = m_piece.data();
        end = p + got;
        return true;
    }
    // The next byte, or -1 at the strip's end.
    int byte()
    {
        if (p == end && !refill())
            return -1;
        return *p++;
    }

private:
    PictureSource m_source;
    qint64 m_at, m_left;
    bool m_reverse;
    std::vector<std::uint8_t> m_piece;
};

class RawDecoder final : public StripDecoder {
public:
    explicit RawDecoder(StripBytes in)
        : m_in(std::move(in))
    {
    }
    bool decode(std::uint8_t *to, size_t n) override
    {
        while (n > 0) {
            if (m_in.p == m_in.end && !m_in.refill())
                return false;
            const size_t k = std::min(n, size_t(m_in.end - m_in.p));
            std::memcpy(to, m_in.p, k);
            m_in.p += k;
            to += k;
            n -= k;
        }
        return true;
    }

private:
    StripBytes m_in;
};

// Runs of a repeated byte and runs of literal bytes, each after a count byte. A
// run may go on past the end of a row, as it may when a strip is decoded whole.
class PackBitsDecoder final : public StripDecoder {
public:
    explicit PackBitsDecoder(StripBytes in)
        : m_in(std::move(in))
    {
    }
    bool decode(std::uint8_t *to, size_t n) override
    {
        while (n > 0) {
            if (m_run == 0) {
                const int count = m_in.byte();
                if (count < 0)
                    return false;
                if (count == 128)
                    continue; // no operation
                m_literal = count < 128;
                m_run = m_literal ? size_t(count) + 1 : size_t(257 - count);
                if (!m_literal) {
                    const int value = m_in.byte();
                    if (value < 0)
                        return false;
                    m_value = std::uint8_t(value);
                }
            }
            size_t k = std::min(n, m_run);
            if (m_literal) {
                if (m_in.p == m_in.end && !m_in.refill())
                    return false;
                k = std::min(k, size_t(m_in.end - m_in.p));
                std::memcpy(to, m_in.p, k);
                m_in.p += k;
            } else {
                std::memset(to, m_value, k);
            }
            to += k;
            n -= k;
            m_run -= k;
        }
        return true;
    }

private:
    StripBytes m_in;
    size_t m_run = 0;
    bool m_literal = false;
    std::uint8_t m_value = 0;
};

// TIFF's LZW: codes of 9 to 12 bits, highest bit first; 256 clears the table, 257
// ends the data, and the code width grows one code earlier than GIF's.
class LzwDecoder final : public StripDecoder {
public:
    explicit LzwDecoder(StripBytes in)
        : m_in(std::move(in))
    {
        for (int i = 0; i < 256; ++i)
            m_table[size_t(i)] = {0, 1, std::uint8_t(i), std::uint8_t(i), 0};
    }
    bool decode(std::uint8_t *to, size_t n) override
    {
        if (m_pendingAt < m_pending.size()) {
            const size_t k = std::min(n, m_pending.size() - m_pendingAt);
            std::memcpy(to, m_pending.data() + m_pendingAt, k);
            m_pendingAt += k;
            to += k;
            n -= k;
        }
        // The state in locals for the loop, written back however it ends.
        std::uint64_t bits = m_bits;
        int count = m_bitCount, width = m_width, free = m_free, previous = m_previous;
        const auto keep = [&] {
            m_bits = bits;
            m_bitCount = count;
            m_width = width;
            m_free = free;
            m_previous = previous;
        };
        while (n > 0) {
            if (count < width) {
                if (m_in.end - m_in.p >= 8) {
                    // Whole bytes up to 56 bits at once: most codes need no test of
                    // the piece's end.
                    while (count <= 56) {
                        bits = (bits << 8) | *m_in.p++;
                        count += 8;
                    }
                } else {
                    while (count < width) {
                        const int b = m_in.byte();
                        if (b < 0) {
                            keep();
                            return false;
                        }
                        bits = (bits << 8) | std::uint64_t(b);
                        count += 8;
                    }
                }
            }
            count -= width;
            const int code = int((bits >> count) & ((1u << width) - 1));
            if (code == kClear) {
                free = kFirst;
                width = 9;
                previous = -1;
                continue;
            }
            if (code == kEnd) {
                keep();
                return false;
            }
            if (previous < 0) {
                if (code > 255) {
                    keep();
                    return false;
                }
                previous = code;
                *to++ = std::uint8_t(code);
                --n;
                continue;
            }
            // A code not yet in the table can only be the one about to be added:
            // the previous string and its own first byte.
            if (code > free) {
                keep();
                return false;
            }
            if (free < kTableSize) {
                const Entry &p = m_table[size_t(previous)];
                const std::uint8_t first = code == free ? p.first : m_table[size_t(code)].first;
                m_table[size_t(free)] = {std::uint16_t(previous), std::uint16_t(p.length + 1), first, p.first, 0};
            }
            // libtiff keeps counting past a full table until a clear code comes.
            ++free;
            if (free >= (1 << width) - 1 && width < 12)
                ++width;
            previous = code;
            const size_t length = m_table[size_t(code)].length;
            if (length <= n) {
                write(code, to, length);
                to += length;
                n -= length;
            } else {
                m_pending.resize(length);
                write(code, m_pending.data(), length);
                std::memcpy(to, m_pending.data(), n);
                m_pendingAt = n;
                n = 0;
            }
        }
        keep();
        return true;
    }

private:
    static constexpr int kClear = 256, kEnd = 257, kFirst = 258, kTableSize = 4096;
    // Eight bytes, so that an entry's place is a shift of its code.
    struct Entry {
        std::uint16_t prefix, length;
        std::uint8_t last, first;
        std::uint16_t unused;
    };

    // The string of code (length bytes), written backwards from its end.
    void write(int code, std::uint8_t *begin, size_t length) const
    {
        for (std::uint8_t *p = begin + length; p > begin; code = m_table[size_t(code)].prefix)
            *--p = m_table[size_t(code)].last;
    }

    StripBytes m_in;
    std::array<Entry, kTableSize> m_table{};
    int m_free = kFirst, m_width = 9, m_previous = -1;
    std::uint64_t m_bits = 0;
    int m_bitCount = 0;
    std::vector<std::uint8_t> m_pending; // the rest of a string the last call had no room for
    size_t m_pendingAt = 0;
};

// zlib's data (with its header), inflated as far as each call asks.
class DeflateDecoder final : public StripDecoder {
public:
    explicit DeflateDecoder(StripBytes in)
        : m_in(std::move(in))
    {
        m_open = inflateInit(&m_z) == Z_OK;
        m_broken = !m_open;
    }
    ~DeflateDecoder() override
    {
        if (m_open)
            inflateEnd(&m_z);
    }
    DeflateDecoder(const DeflateDecoder &) = delete;
    DeflateDecoder &operator=(const DeflateDecoder &) = delete;

    bool decode(std::uint8_t *to, size_t n) override
    {
        if (m_broken)
            return false;
        m_z.next_out = to;
        m_z.avail_out = uInt(n);
        while (m_z.avail_out > 0) {
            if (m_in.p == m_in.end && !m_in.refill())
                return false;
            m_z.next_in = const_cast<Bytef *>(m_in.p);
            m_z.avail_in = uInt(m_in.end - m_in.p);
            const int status = inflate(&m_z, Z_NO_FLUSH);
            m_in.p = m_z.next_in;
            // The data ends before the rows do, or it is broken.
            if ((status == Z_STREAM_END && m_z.avail_out > 0) || (status != Z_OK && status != Z_STREAM_END))
                return !(m_broken = true);
        }
        return true;
    }

private:
    StripBytes m_in;
    z_stream m_z{};
    bool m_open = false; // zlib's state is to be freed
    bool m_broken = false;
};

template <typename T> void swapped(std::uint8_t *row, size_t bytes)
{
    for (size_t i = 0; i + sizeof(T) <= bytes; i += sizeof(T))
        std::reverse(row + i, row + i + sizeof(T));
}

// Each sample after the first `stride` is stored as its difference from the one a
// pixel before it (modulo its width).
template <typename T> void accumulate(std::uint8_t *row, size_t bytes, int stride)
{
    const size_t n = bytes / sizeof(T);
    for (size_t i = size_t(stride); i < n; ++i) {
        T a, b;
        std::memcpy(&a, row + (i - size_t(stride)) * sizeof(T), sizeof(T));
        std::memcpy(&b, row + i * sizeof(T), sizeof(T));
        b = T(a + b);
        std::memcpy(row + i * sizeof(T), &b, sizeof(T));
    }
}

} // namespace

bool decodesStrips(int compression)
{
    return compression == COMPRESSION_NONE || compression == COMPRESSION_PACKBITS || compression == COMPRESSION_LZW
           || compression == COMPRESSION_DEFLATE || compression == COMPRESSION_ADOBE_DEFLATE;
}

bool isOldStyleLzw(const std::uint8_t first[2]) { return first[0] == 0 && (first[1] & 1); }

std::unique_ptr<StripDecoder> stripDecoder(int compression, const PictureSource &source, qint64 offset, qint64 count,
                                           bool reverseBits)
{
    StripBytes in(source, offset, count, reverseBits);
    switch (compression) {
    case COMPRESSION_NONE: return std::make_unique<RawDecoder>(std::move(in));
    case COMPRESSION_PACKBITS: return std::make_unique<PackBitsDecoder>(std::move(in));
    case COMPRESSION_LZW: return std::make_unique<LzwDecoder>(std::move(in));
    case COMPRESSION_DEFLATE:
    case COMPRESSION_ADOBE_DEFLATE: return std::make_unique<DeflateDecoder>(std::move(in));
    default: return nullptr;
    }
}

bool undoPredictor(std::uint8_t *row, size_t bytes, int predictor, int bits, int stride, bool swap)
{
    if (predictor == PREDICTOR_FLOATINGPOINT) {
        // Differences of bytes, then the bytes of each sample stored apart, most
        // significant first: the result is in the machine's order whatever the file's.
        if (bits % 8 != 0 || bits < 16 || bits > 64)
            return false;
        const size_t width = size_t(bits) / 8, count = bytes / width;
        for (size_t i = size_t(stride); i < count * width; ++i)
            row[i] = std::uint8_t(row[i] + row[i - size_t(stride)]);
        std::vector<std::uint8_t> planes(row, row + count * width);
        for (size_t s = 0; s < count; ++s)
            for (size_t b = 0; b < width; ++b)
                row[s * width + b] = planes[(Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? width - 1 - b : b) * count + s];
        return true;
    }
    if (swap) {
        switch (bits) {
        case 16: swapped<std::uint16_t>(row, bytes); break;
        case 32: swapped<std::uint32_t>(row, bytes); break;
        case 64: swapped<std::uint64_t>(row, bytes); break;
        default: break;
        }
    }
    if (predictor != PREDICTOR_HORIZONTAL)
        return predictor == PREDICTOR_NONE;
    switch (bits) {
    case 8: accumulate<std::uint8_t>(row, bytes, stride); return true;
    case 16: accumulate<std::uint16_t>(row, bytes, stride); return true;
    case 32: accumulate<std::uint32_t>(row, bytes, stride); return true;
    case 64: accumulate<std::uint64_t>(row, bytes, stride); return true;
    default: return false;
    }
}

} // namespace kestrovia
