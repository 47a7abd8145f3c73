#include "compose/rowreaders.h"

#include "compose/byteview.h"
#include "compose/colorprofile.h"
#include "compose/jpegrules.h"
#include "compose/jpegscans.h"
#include "compose/memorybudget.h"
#include "platform/failure.h"
#include "platform/japanese.h"
#include "platform/stop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <webp/decode.h>

#include <sys/mman.h>
#include <unistd.h>

namespace kestrovia {

namespace {

[[noreturn]] void fail(const QString &reason) { throw Failure(reason); }

} // namespace

void failTooLittleData(PictureFormat format, qint64 w, qint64 h)
{
    fail(ja("%1 ファイルが壊れているか途中で切れています（%2 × %3 ピクセルに対してデータが少なすぎます）")
             .arg(pictureFormatName(format))
             .arg(w)
             .arg(h));
}

namespace {

// Shrink on load divides the picture by d with a box (see picturedecoder.cpp): only
// with three reduced pixels for every pixel drawn are its folds faint enough. A
// JPEG's chroma keeps half as many, as a 4:2:0 photo's has at full size.
constexpr qint64 kReducedPerDrawn = 3;
constexpr double kChromaPerDrawn = kReducedPerDrawn / 2.0;

} // namespace

int reductionFor(qint64 w, qint64 h, QSize need, std::initializer_list<int> factors)
{
    if (!need.isValid() || need.isEmpty())
        return 1;
    for (int d : factors) {
        if (w >= kReducedPerDrawn * d * need.width() && h >= kReducedPerDrawn * d * need.height())
            return d;
    }
    return 1;
}

QByteArray rgbOnly(const QByteArray &profile)
{
    return !profile.isEmpty() && iccColourSpace(profile) == IccSpace::Rgb ? profile : QByteArray();
}

QSize storedNeed(const NeedFunction &need, QSize stored, int orientation)
{
    const bool sideways = orientation >= 5;
    QSize n = need ? need(sideways ? stored.transposed() : stored) : QSize();
    if (sideways && n.isValid())
        n.transpose();
    return n;
}

namespace {

// ---- JPEG (libjpeg) ----

// What a JPEG holds before its first scan (metadata segments, profiles, tables):
// real files keep it within a few megabytes.
constexpr qint64 kMaxJpegHeaderBytes = qint64(16) << 20;

struct JpegSession {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    jpeg_source_mgr src{};
    PictureSource source;
    qint64 offset = 0;
    std::vector<JOCTET> buffer = std::vector<JOCTET>(64 * 1024);
    bool created = false;
    bool started = false; // the header is read: failures now mean damaged data
    bool damaged = false;
    bool buffered = false; // the scans are gathered before the output (begin)
    JOCTET eoi[2] = {0xFF, JPEG_EOI};
    JpegScanGuard scans;

    explicit JpegSession(const PictureSource &s)
        : source(s)
    {
        cinfo.err = jpeg_std_error(&err);
        err.error_exit = [](j_common_ptr c) {
            auto *self = static_cast<JpegSession *>(c->client_data);
            if (self->scans.refused())
                fail(self->scans.reason());
            if (c->err->msg_code == JERR_OUT_OF_MEMORY)
                fail(ja("JPEG を展開するメモリが足りません"));
            fail(self->started ? ja("JPEG ファイルが壊れているか途中で切れています")
                               : ja("JPEG ファイルが壊れているため読み込めません"));
        };
        err.emit_message = [](j_common_ptr c, int level) {
            if (level >= 0)
                return; // trace messages
            auto *self = static_cast<JpegSession *>(c->client_data);
            self->damaged = self->damaged || jpegWarningLosesData(c, [self](qint64 n) {
                                const qint64 at = self->offset - qint64(self->cinfo.src->bytes_in_buffer);
                                return at >= n ? self->source.bytes(at - n, n) : QByteArray();
                            });
        };
        err.output_message = [](j_common_ptr) {};
        jpeg_create_decompress(&cinfo);
        created = true;
        scans.attach(cinfo);
        cinfo.client_data = this;
        src.init_source = [](j_decompress_ptr) {};
        src.fill_input_buffer = [](j_decompress_ptr c) -> boolean {
            auto *self = static_cast<JpegSession *>(c->client_data);
            // libjpeg looks for the frame through any bytes that are no marker: a
            // file of a JPEG start and hundreds of megabytes of anything else would
            // be read to its end.
            if (!self->started && self->offset >= kMaxJpegHeaderBytes)
                fail(ja("JPEG ファイルが壊れているため読み込めません（先頭 %1 MB に画像の始まりがありません）")
                         .arg(kMaxJpegHeaderBytes >> 20));
            const qint64 n = self->source.read(self->offset, self->buffer.data(), qint64(self->buffer.size()));
            self->offset += n;
            if (n == 0) {
                // The file ends before the picture: an end marker lets libjpeg stop,
                // and the warning marks the picture as cut.
                WARNMS(c, JWRN_JPEG_EOF);
                c->src->next_input_byte = self->eoi;
                c->src->bytes_in_buffer = 2;
                return TRUE;
            }
            c->src->next_input_byte = self->buffer.data();
            c->src->bytes_in_buffer = size_t(n);
            return TRUE;
        };
        src.skip_input_data = [](j_decompress_ptr c, long count) {
            if (count <= 0)
                return;
            auto *self = static_cast<JpegSession *>(c->client_data);
            if (size_t(count) <= c->src->bytes_in_buffer) {
                c->src->next_input_byte += count;
                c->src->bytes_in_buffer -= size_t(count);
                return;
            }
            self->offset += qint64(count) - qint64(c->src->bytes_in_buffer);
            c->src->bytes_in_buffer = 0;
            c->src->next_input_byte = nullptr;
        };
        src.resync_to_restart = jpeg_resync_to_restart;
        src.term_source = [](j_decompress_ptr) {};
        cinfo.src = &src;
        jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
        jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
        jpeg_save_markers(&cinfo, JPEG_APP0 + 13, 0xFFFF);
    }
    ~JpegSession()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
    JpegSession(const JpegSession &) = delete;
    JpegSession &operator=(const JpegSession &) = delete;

    void check() const
    {
        if (damaged)
            fail(ja("JPEG ファイルが壊れているか途中で切れています"));
    }

    // Reads the header and what it says: refused when damaged, too large, or too
    // short for the size it declares.
    void readHeader(MetadataBlocks &blocks)
    {
        jpeg_read_header(&cinfo, TRUE);
        const qint64 w = cinfo.image_width, h = cinfo.image_height;
        if (w <= 0 || h <= 0)
            fail(ja("JPEG ファイルが壊れているため読み込めません"));
        checkPictureSize(w, h);
        // Huffman-coded data spends at least one bit on each 8 x 8 block of a scan
        // (its DC code); halved here for subsampled components. Arithmetic coding can
        // go far lower, so it gets a much looser bound. A file too small for its size
        // is damaged or crafted (313 bytes declaring 20000 x 20000 pixels would take
        // minutes and gigabytes to come out grey).
        const qint64 blocks8 = ((w + 7) / 8) * ((h + 7) / 8);
        const qint64 minimumBits = cinfo.arith_code ? blocks8 / 1024 : blocks8 / 2;
        if (source.size() * 8 < minimumBits)
            failTooLittleData(PictureFormat::Jpeg, w, h);
        started = true;

        std::map<int, QByteArray> icc;
        QByteArray resources;
        int iccCount = -1;
        bool iccBroken = false;
        for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
            const ByteView b{m->data, qint64(m->data_length)};
            if (m->marker == JPEG_APP0 + 1 && b.is(0, "Exif\0\0", 6) && blocks.exif.isEmpty())
                blocks.exif = b.bytes(6, b.size - 6);
            else if (m->marker == JPEG_APP0 + 1 && b.is(0, "http://ns.adobe.com/xap/1.0/\0", 29)
                     && blocks.xmp.isEmpty())
                blocks.xmp = b.bytes(29, b.size - 29);
            else if (m->marker == JPEG_APP0 + 13 && b.is(0, "Photoshop 3.0\0", 14))
                // Resources longer than a segment continue in the next one.
                resources += b.bytes(14, b.size - 14);
            else if (m->marker == JPEG_APP0 + 2 && b.size >= 14 && b.is(0, "ICC_PROFILE\0", 12)) {
                const int seq = b.p[12], count = b.p[13];
                if (iccCount < 0)
                    iccCount = count;
                // A numbering that does not add up gives no profile rather than a wrong one.
                iccBroken = iccBroken || seq < 1 || seq > count || count != iccCount || icc.count(seq);
                icc[seq] = b.bytes(14, b.size - 14);
            }
        }
        blocks.iptc = iptcRecords(resources);
        if (!iccBroken && iccCount > 0 && int(icc.size()) == iccCount)
            for (const auto &[seq, chunk] : icc)
                blocks.icc += chunk;
    }

    // Starts the output. A picture of several scans (progressive) is gathered scan
    // by scan first, with a check point between libjpeg's steps: its own start would
    // gather every scan in one call, many seconds for a very large picture that a
    // stop request could not end.
    void begin()
    {
        if (!jpeg_has_multiple_scans(&cinfo)) {
            jpeg_start_decompress(&cinfo);
            return;
        }
        cinfo.buffered_image = TRUE;
        jpeg_start_decompress(&cinfo);
        buffered = true;
        for (int step = 0;; ++step) {
            if (step % 16 == 0)
                checkPoint();
            const int got = jpeg_consume_input(&cinfo);
            if (!scans.check(cinfo))
                fail(scans.reason());
            if (got == JPEG_REACHED_EOI || got == JPEG_SUSPENDED)
                break;
        }
        check();
        // Every scan is in: one output pass gives the finished picture.
        jpeg_start_output(&cinfo, cinfo.input_scan_number);
    }

    // After the output: the rest of the data and its end.
    void end()
    {
        if (buffered)
            jpeg_finish_output(&cinfo);
        jpeg_finish_decompress(&cinfo);
        check();
    }

    // The scans, from their headers, before the memory for them is reserved:
    // refused when there are more than any encoder writes, or when they repeat.
    void checkScans() const
    {
        const QString why = JpegScanGuard::checkScans(source, offset - qint64(cinfo.src->bytes_in_buffer), cinfo);
        if (!why.isEmpty())
            fail(why);
    }

    // What libjpeg holds for a picture of several scans (progressive, or one
    // component a scan): every coefficient of the picture, 2 bytes each.
    qint64 coefficientBytes() const
    {
        if (!cinfo.progressive_mode && cinfo.comps_in_scan >= cinfo.num_components)
            return qint64(cinfo.image_width) * 64; // a few rows of blocks
        qint64 bytes = 0;
        for (int c = 0; c < cinfo.num_components; ++c) {
            const jpeg_component_info &comp = cinfo.comp_info[c];
            const qint64 bw = (qint64(cinfo.image_width) * comp.h_samp_factor + cinfo.max_h_samp_factor * 8 - 1)
                              / (cinfo.max_h_samp_factor * 8);
            const qint64 bh = (qint64(cinfo.image_height) * comp.v_samp_factor + cinfo.max_v_samp_factor * 8 - 1)
                              / (cinfo.max_v_samp_factor * 8);
            bytes += (bw + comp.h_samp_factor) * (bh + comp.v_samp_factor) * 128;
        }
        return bytes;
    }
};

class JpegRows : public RowReader {
public:
    JpegRows(const PictureSource &source, const NeedFunction &need)
        : m_s(source)
    {
        jpeg_decompress_struct &c = m_s.cinfo;
        m_s.readHeader(blocks);
        stored = QSize(int(c.image_width), int(c.image_height));
        orientation = exifBlockOrientation(blocks.exif);
        m_cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
        rgbProfile = !m_cmyk;
        greyRows = c.jpeg_color_space == JCS_GRAYSCALE;
        // Shrink on load with libjpeg's reduced inverse DCTs.
        const int d = setJpegReduction(&c, storedNeed(need, stored, orientation), kReducedPerDrawn, kChromaPerDrawn, 2);
        // Format_RGB32 is B, G, R, 0xFF in memory on little-endian processors.
        c.out_color_space = m_cmyk ? JCS_CMYK : (Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRA : JCS_EXT_ARGB);
        jpeg_calc_output_dimensions(&c);
        size = QSize(int(c.output_width), int(c.output_height));
        // A last partial block (w mod d pixels) sits at the right and bottom.
        extent = QRectF(0, 0, double(stored.width()) / d, double(stored.height()) / d);
        chunk = std::max(1, c.rec_outbuf_height);
        m_s.checkScans();
        memory = m_s.coefficientBytes() + (m_cmyk ? qint64(size.width()) * 4 * 16 : 0);
    }

    void read(std::uint8_t *const *rows, int n) override
    {
        jpeg_decompress_struct &c = m_s.cinfo;
        if (!m_begun) {
            m_s.begin();
            m_begun = true;
            if (m_cmyk)
                m_converter = std::make_unique<CmykConverter>(blocks.icc);
        }
        std::vector<std::uint8_t> cmyk;
        std::vector<JSAMPROW> cmykRows;
        if (m_cmyk) {
            cmyk.resize(size_t(n) * size_t(size.width()) * 4);
            for (int i = 0; i < n; ++i)
                cmykRows.push_back(cmyk.data() + size_t(i) * size_t(size.width()) * 4);
        }
        int got = 0;
        while (got < n) {
            if (c.output_scanline >= c.output_height)
                fail(ja("JPEG ファイルが壊れているか途中で切れています"));
            JSAMPARRAY to = m_cmyk ? cmykRows.data() + got : const_cast<JSAMPARRAY>(rows + got);
            got += int(jpeg_read_scanlines(&c, to, JDIMENSION(n - got)));
            m_s.check();
        }
        if (m_cmyk)
            for (int i = 0; i < n; ++i)
                m_converter->convert(cmykRows[size_t(i)], reinterpret_cast<std::uint32_t *>(rows[i]), size.width());
    }

    void finish() override
    {
        jpeg_decompress_struct &c = m_s.cinfo;
        if (!m_begun)
            return;
        std::vector<std::uint8_t> row(size_t(size.width()) * 4);
        JSAMPROW r = row.data();
        while (c.output_scanline < c.output_height)
            jpeg_read_scanlines(&c, &r, 1);
        m_s.end();
    }

private:
    JpegSession m_s;
    bool m_cmyk = false;
    bool m_begun = false;
    std::unique_ptr<CmykConverter> m_converter;
};

class JpegPlaneRows : public PlaneReader {
public:
    explicit JpegPlaneRows(const PictureSource &source)
        : m_s(source)
    {
        m_s.readHeader(blocks);
    }

    // Whether the picture is a plain colour photo stored upright, its luma sampled
    // once or twice across and down for each chroma sample. (libjpeg repeats the
    // chroma of 4:1:1 where the planes would interpolate it: the preview shows
    // libjpeg's, so the file must too.)
    bool plain() const
    {
        const jpeg_decompress_struct &c = m_s.cinfo;
        if (c.jpeg_color_space != JCS_YCbCr || c.num_components != 3 || exifBlockOrientation(blocks.exif) != 1)
            return false;
        const jpeg_component_info *k = c.comp_info;
        if (k[1].h_samp_factor != 1 || k[1].v_samp_factor != 1 || k[2].h_samp_factor != 1 || k[2].v_samp_factor != 1)
            return false;
        const int h = k[0].h_samp_factor, v = k[0].v_samp_factor;
        return (h == 1 || h == 2) && (v == 1 || v == 2);
    }

    void start(const NeedFunction &need) override
    {
        jpeg_decompress_struct &c = m_s.cinfo;
        stored = QSize(int(c.image_width), int(c.image_height));
        c.raw_data_out = TRUE;
        c.do_fancy_upsampling = FALSE;
        setJpegReduction(&c, need ? need(stored) : QSize(), kReducedPerDrawn, kChromaPerDrawn, 2);
        m_s.checkScans();
        memory = m_s.coefficientBytes();
        // The sizes only: the decoding starts with the first read, once the memory
        // is reserved. libjpeg may decode chroma at a larger scale than luma (it
        // spares itself the upsampling that way): each plane's extent is its own.
        for (int i = 0; i < 3; ++i) {
            const jpeg_component_info &k = c.comp_info[i];
            // Whole blocks: libjpeg writes them even past the picture's edge.
            planes[i] = QSize(int(k.width_in_blocks * unsigned(k.DCT_scaled_size)),
                              int(k.height_in_blocks * unsigned(k.DCT_scaled_size)));
            rowsPerChunk[i] = k.v_samp_factor * k.DCT_scaled_size;
        }
        lumaExtent = QRectF(QPointF(0, 0), jpegComponentExtent(&c, 0));
        chromaExtent = QRectF(QPointF(0, 0), jpegComponentExtent(&c, 1));
    }

    JDIMENSION width() const { return m_s.cinfo.image_width; }
    JDIMENSION height() const { return m_s.cinfo.image_height; }
    bool more() const override { return m_s.cinfo.output_scanline < m_s.cinfo.output_height; }

    void read(std::uint8_t *const *const *rows) override
    {
        jpeg_decompress_struct &c = m_s.cinfo;
        if (!m_begun) {
            m_s.begin();
            m_begun = true;
        }
        JSAMPARRAY planesRows[3] = {const_cast<JSAMPARRAY>(rows[0]), const_cast<JSAMPARRAY>(rows[1]),
                                    const_cast<JSAMPARRAY>(rows[2])};
        if (jpeg_read_raw_data(&c, planesRows, JDIMENSION(c.max_v_samp_factor * c.min_DCT_scaled_size)) == 0)
            fail(ja("JPEG ファイルが壊れているか途中で切れています"));
        m_s.check();
    }

    void finish() override
    {
        if (m_begun)
            m_s.end();
    }

private:
    JpegSession m_s;
    bool m_begun = false;
};

// ---- PNG (libpng) ----

// Larger text and profile chunks than this do not occur in real files; the bound
// keeps a chunk whose length claims gigabytes from being allocated.
constexpr png_alloc_size_t kPngChunkMax = 32 << 20;
// Everything before the pixels (profile, text, metadata): a few megabytes in any
// real file.
constexpr qint64 kPngBeforePixelsMax = qint64(64) << 20;

// libpng's structures, freed also when a constructor throws.
struct PngHandles {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngHandles()
    {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

class PngRows : public RowReader {
public:
    explicit PngRows(const PictureSource &source)
        : m_source(source, 64 * 1024)
    {
        // The size from IHDR first, so that a picture beyond the limits is named
        // as such rather than as libpng's refusal.
        const ByteView head = ByteView::of(source.head());
        if (!head.has(16, 8) || !head.is(12, "IHDR", 4))
            fail(head.size < 33 ? cutShortReason(PictureFormat::Png) : damagedReason(PictureFormat::Png));
        const qint64 w = head.be32(16), h = head.be32(20);
        if (w <= 0 || h <= 0)
            fail(damagedReason(PictureFormat::Png));
        checkPictureSize(w, h);
        // Deflate packs at most 1032 bytes into one, and one byte holds at least 8
        // pixels: a file too small for its size is damaged or crafted.
        if (w * h > source.size() * 1032 * 8)
            failTooLittleData(PictureFormat::Png, w, h);
        // The chunks before the pixels, by their headers alone: a length that claims
        // more than the file holds (libpng would allocate it before reading) or more
        // than any text or profile needs is refused here.
        for (qint64 at = 8;;) {
            std::uint8_t header[8];
            if (m_source.read(at, header, 8) < 8)
                fail(cutShortReason(PictureFormat::Png));
            const ByteView c{header, 8};
            const qint64 length = c.be32(0);
            if (length > source.size() - at - 12)
                fail(cutShortReason(PictureFormat::Png));
            if (c.is(4, "IDAT", 4) || c.is(4, "IEND", 4))
                break;
            if (length > qint64(kPngChunkMax) || at > kPngBeforePixelsMax)
                fail(damagedReason(PictureFormat::Png));
            at += 12 + length;
        }

        m_h.png = m_png = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, onError, onWarning);
        if (!m_png)
            fail(ja("PNG デコーダを初期化できません"));
        m_h.info = m_info = png_create_info_struct(m_png);
        if (!m_info)
            fail(ja("PNG デコーダを初期化できません"));
        png_set_read_fn(m_png, this, onRead);
        png_set_user_limits(m_png, kMaxPictureSide, kMaxPictureSide);
        png_set_chunk_malloc_max(m_png, kPngChunkMax);
        png_set_chunk_cache_max(m_png, 256);
        // libpng clears a buffer of a chunk's declared length before it reads a
        // known chunk, wherever the chunk lies (2 GB for a 279-byte file whose text
        // chunk after the pixels claims so). The metadata chunks come to onChunk
        // instead, one at a time within the bound above, and the chunks nothing
        // here uses are passed over unread.
        static const png_byte metadataChunks[] = "tEXt\0zTXt\0iTXt\0eXIf";
        static const png_byte unusedChunks[] = "sPLT\0pCAL\0sCAL\0hIST";
        png_set_keep_unknown_chunks(m_png, PNG_HANDLE_CHUNK_ALWAYS, metadataChunks, 4);
        png_set_keep_unknown_chunks(m_png, PNG_HANDLE_CHUNK_NEVER, unusedChunks, 4);
        png_set_read_user_chunk_fn(m_png, this, onChunk);
        png_read_info(m_png, m_info);

        png_uint_32 pw = 0, ph = 0;
        int depth = 0, type = 0, interlace = 0;
        png_get_IHDR(m_png, m_info, &pw, &ph, &depth, &type, &interlace, nullptr, nullptr);
        stored = size = QSize(int(pw), int(ph));
        extent = QRectF(0, 0, pw, ph);
        collectProfile();
        orientation = exifBlockOrientation(blocks.exif);

        if (type == PNG_COLOR_TYPE_PALETTE)
            png_set_palette_to_rgb(m_png);
        if (type == PNG_COLOR_TYPE_GRAY && depth < 8)
            png_set_expand_gray_1_2_4_to_8(m_png);
        // Transparent colours become alpha before 16-bit samples are reduced, so a
        // 16-bit colour key matches on all its bits.
        alpha = (type & PNG_COLOR_MASK_ALPHA) != 0;
        greyRows = !(type & PNG_COLOR_MASK_COLOR);
        if (png_get_valid(m_png, m_info, PNG_INFO_tRNS)) {
            png_set_tRNS_to_alpha(m_png);
            alpha = true;
        }
        if (depth == 16)
            png_set_scale_16(m_png);
        // Interlaced rows come in seven passes over the whole picture; the first
        // six make the even rows, the seventh the odd ones. The even rows are held,
        // in the file's own samples (a grey picture one byte a pixel), and each odd
        // row goes out as it comes: half the picture is held, not all of it.
        m_interlaced = interlace != PNG_INTERLACE_NONE;
        if (!m_interlaced) {
            if (!(type & PNG_COLOR_MASK_COLOR))
                png_set_gray_to_rgb(m_png);
            if (Q_BYTE_ORDER == Q_LITTLE_ENDIAN)
                png_set_bgr(m_png);
            else
                png_set_swap_alpha(m_png);
            if (!alpha)
                png_set_filler(m_png, 0xFF, Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? PNG_FILLER_AFTER : PNG_FILLER_BEFORE);
        } else {
            png_set_interlace_handling(m_png);
        }
        png_read_update_info(m_png, m_info);
        m_channels = png_get_channels(m_png, m_info);
        if (png_get_rowbytes(m_png, m_info) != png_size_t(pw) * (m_interlaced ? m_channels : 4))
            fail(damagedReason(PictureFormat::Png));
        memory = m_interlaced ? (qint64(ph) + 1) / 2 * pw * m_channels + qint64(pw) * 8 : qint64(pw) * 8;
    }
    void read(std::uint8_t *const *rows, int n) override
    {
        if (!m_interlaced) {
            for (int i = 0; i < n; ++i)
                png_read_row(m_png, rows[i], nullptr);
            m_row += n;
            return;
        }
        if (m_even.empty())
            readEvenRows();
        const size_t rowBytes = size_t(size.width()) * size_t(m_channels);
        for (int i = 0; i < n; ++i, ++m_row) {
            // The seventh pass: an odd row whole, nothing for an even one.
            png_read_row(m_png, m_odd.data(), nullptr);
            expand(m_row % 2 ? m_odd.data() : m_even.data() + rowBytes * size_t(m_row / 2),
                   reinterpret_cast<std::uint32_t *>(rows[i]));
        }
    }

    void finish() override
    {
        if (!m_interlaced || !m_even.empty()) {
            std::vector<std::uint8_t> row(size_t(size.width()) * 4);
            for (; m_row < size.height(); ++m_row)
                png_read_row(m_png, row.data(), nullptr);
        }
        png_read_end(m_png, m_info);
        collectProfile();
    }

private:
    // Passes one to six over every row: the even rows into their store (each pass
    // adds its own pixels to them), the odd rows untouched.
    void readEvenRows()
    {
        const size_t rowBytes = size_t(size.width()) * size_t(m_channels);
        m_even.resize(rowBytes * size_t((size.height() + 1) / 2));
        m_odd.resize(rowBytes);
        for (int pass = 0; pass < 6; ++pass)
            for (int y = 0; y < size.height(); ++y) {
                if (y % 64 == 0)
                    checkPoint();
                png_read_row(m_png, y % 2 ? m_odd.data() : m_even.data() + rowBytes * size_t(y / 2), nullptr);
            }
    }

    // A row of grey, grey and alpha, RGB or RGBA samples as straight ARGB32.
    void expand(const std::uint8_t *s, std::uint32_t *d) const
    {
        const int w = size.width();
        switch (m_channels) {
        case 1:
            for (int x = 0; x < w; ++x)
                d[x] = 0xFF000000u | s[x] * 0x010101u;
            break;
        case 2:
            for (int x = 0; x < w; ++x, s += 2)
                d[x] = std::uint32_t(s[1]) << 24 | s[0] * 0x010101u;
            break;
        case 3:
            for (int x = 0; x < w; ++x, s += 3)
                d[x] = 0xFF000000u | std::uint32_t(s[0]) << 16 | std::uint32_t(s[1]) << 8 | s[2];
            break;
        default:
            for (int x = 0; x < w; ++x, s += 4)
                d[x] = std::uint32_t(s[3]) << 24 | std::uint32_t(s[0]) << 16 | std::uint32_t(s[1]) << 8 | s[2];
        }
    }

    static void onError(png_structp png, png_const_charp)
    {
        auto *self = static_cast<PngRows *>(png_get_error_ptr(png));
        fail(self->m_cut ? cutShortReason(PictureFormat::Png) : damagedReason(PictureFormat::Png));
    }
    static void onWarning(png_structp, png_const_charp) { }
    static void onRead(png_structp png, png_bytep data, png_size_t length)
    {
        auto *self = static_cast<PngRows *>(png_get_io_ptr(png));
        const qint64 got = self->m_source.read(self->m_offset, data, qint64(length));
        self->m_offset += got;
        if (got < qint64(length)) {
            self->m_cut = true;
            png_error(png, "cut");
        }
    }
    // eXIf and the text chunks' XMP and raw profiles, wherever they lie.
    static int onChunk(png_structp png, png_unknown_chunkp chunk)
    {
        auto *self = static_cast<PngRows *>(png_get_user_chunk_ptr(png));
        addPngChunkBlock(self->blocks, QByteArray(reinterpret_cast<const char *>(chunk->name), 4),
                         QByteArray::fromRawData(reinterpret_cast<const char *>(chunk->data), qsizetype(chunk->size)));
        return 1; // taken: libpng keeps nothing of it
    }
    // The iCCP profile, which comes before the pixels.
    void collectProfile()
    {
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 profileLength = 0;
        if (blocks.icc.isEmpty() && png_get_iCCP(m_png, m_info, &name, &compression, &profile, &profileLength))
            blocks.icc = QByteArray(reinterpret_cast<const char *>(profile), qsizetype(profileLength));
    }

    SourceWindow m_source;
    qint64 m_offset = 0;
    bool m_cut = false;
    PngHandles m_h;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
    bool m_interlaced = false;
    int m_channels = 4;
    int m_row = 0;
    std::vector<std::uint8_t> m_even, m_odd;
};

// ---- WebP (libwebp) ----

// Chunks looked at, from their headers: a still picture has a handful, an
// animation one a frame before its metadata. A file of endless empty chunks costs
// these headers, not its length.
constexpr int kMaxWebpChunks = 4096;
// Metadata chunks larger than this do not occur in real files.
constexpr qint64 kMaxWebpBlock = qint64(32) << 20;
// libwebp's scaled decoding keeps at least this many pixels for each one drawn.
constexpr qint64 kWebpReducedPerDrawn = 16;

// Where a WebP's parts lie (payload offsets and sizes), from its chunk headers.
struct WebpLayout {
    struct Range {
        qint64 at = -1, size = 0;
    };
    QSize canvas; // VP8X's, when there is one
    Range exif, xmp, icc;
    Range firstFrame; // an animation's first ANMF
    qint64 pictureEnd = 0; // past a still picture's coded data (VP8 or VP8L)
};

WebpLayout webpLayout(const PictureSource &source)
{
    SourceWindow w(source, 1024);
    WebpLayout l;
    std::uint8_t h[8];
    const qint64 end = std::min<qint64>(source.size(), 8 + qint64(ByteView::of(source.head()).le32(4)));
    qint64 at = 12;
    for (int count = 0; count < kMaxWebpChunks && at + 8 <= end && w.read(at, h, 8) == 8; ++count) {
        const ByteView c{h, 8};
        const qint64 size = c.le32(4);
        const WebpLayout::Range payload{at + 8, std::min(size, end - at - 8)};
        if (c.is(0, "VP8X", 4)) {
            std::uint8_t x[10];
            if (w.read(payload.at, x, 10) == 10)
                l.canvas = QSize(int(1 + (x[4] | x[5] << 8 | x[6] << 16)), int(1 + (x[7] | x[8] << 8 | x[9] << 16)));
        }
        WebpLayout::Range *range = c.is(0, "EXIF", 4)   ? &l.exif
                                   : c.is(0, "XMP ", 4) ? &l.xmp
                                   : c.is(0, "ICCP", 4) ? &l.icc
                                   : c.is(0, "ANMF", 4) ? &l.firstFrame
                                                        : nullptr;
        if (range && range->at < 0)
            *range = payload;
        if ((c.is(0, "VP8 ", 4) || c.is(0, "VP8L", 4)) && !l.pictureEnd)
            l.pictureEnd = payload.at + payload.size;
        at += 8 + size + (size & 1);
    }
    return l;
}

// A buffer written front to back and read once: the pages of what has been read
// go back to the system (the buffer stays mapped, and reads as zeros there), so
// that a picture decoded whole by its library is held only as far as it has not
// been handed on. Without a way to give pages back, it is an ordinary buffer.
class ReleasedBehind {
public:
    ReleasedBehind() = default;
    ~ReleasedBehind()
    {
        if (m_data)
            ::munmap(m_data, m_size);
    }
    ReleasedBehind(const ReleasedBehind &) = delete;
    ReleasedBehind &operator=(const ReleasedBehind &) = delete;

    void allocate(size_t bytes)
    {
        void *p = ::mmap(nullptr, std::max<size_t>(bytes, 1), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED)
            fail(ja("画像を展開するメモリが足りません（%1 MB）").arg(bytes >> 20));
        m_data = static_cast<std::uint8_t *>(p);
        m_size = std::max<size_t>(bytes, 1);
    }
    std::uint8_t *data() const { return m_data; }
    size_t size() const { return m_size; }
    // Gives back the whole pages below offset `read`.
    void release(size_t read)
    {
        static const size_t page = size_t(::sysconf(_SC_PAGESIZE));
        const size_t end = std::min(read, m_size) / page * page;
        if (end > m_released) {
            ::madvise(m_data + m_released, end - m_released, MADV_DONTNEED);
            m_released = end;
        }
    }

private:
    std::uint8_t *m_data = nullptr;
    size_t m_size = 0, m_released = 0;
};

class WebpRows : public RowReader {
public:
    WebpRows(const PictureSource &source, const NeedFunction &need)
        : m_source(source)
    {
        const ByteView head = ByteView::of(source.head());
        if (head.size < 12 || head.le32(4) + 8 > std::uint64_t(source.size()))
            fail(cutShortReason(PictureFormat::WebP));
        m_layout = webpLayout(source);
        readMetadataChunks();
        bool lossless = false;
        if (m_layout.firstFrame.at >= 0)
            readFirstFrameHeader(lossless);
        else
            readStillHeader(lossless);
        const qint64 w = stored.width(), h = stored.height();
        checkPictureSize(w, h);
        // Both codings can spend next to nothing on a flat area, but no real
        // picture packs more than this many pixels into a byte: a few dozen bytes
        // that declare hundreds of megapixels are damaged or crafted.
        if (w * h > source.size() * (qint64(1) << 17))
            failTooLittleData(PictureFormat::WebP, w, h);
        // libwebp scales while it decodes, by a box over the pixels under each one
        // it gives: softer than the final filter by several dB unless it keeps many
        // pixels for each one drawn (at 2 or 3 a pixel drawn, 2 to 18 dB below the
        // same pixels shrunk from a PNG; at 16, within a dB). It is asked for a
        // whole factor only, and only that far above the size drawn. An animation's
        // first frame that leaves part of the canvas clear is drawn on it at full
        // size.
        const QSize n = storedNeed(need, stored, orientation);
        int d = 1;
        if (m_frame == QRect(QPoint(0, 0), stored) && n.isValid() && !n.isEmpty())
            d = int(std::clamp<qint64>(
                std::min(w / (kWebpReducedPerDrawn * n.width()), h / (kWebpReducedPerDrawn * n.height())), 1, 8));
        m_decoded = QSize(int((w + d - 1) / d), int((h + d - 1) / d));
        size = m_decoded;
        extent = QRectF(0, 0, size.width(), size.height());
        // The rows come out of one buffer of the decoded size, three bytes a pixel
        // for an opaque picture; libwebp keeps what it has not used of the data
        // (lossy: little beyond the first partition) and, for a lossless picture,
        // every pixel at full size besides. (An animation's frame, read into memory
        // first, is reserved when it is read.)
        const qint64 coded = m_layout.firstFrame.at >= 0 ? m_layout.firstFrame.size : m_codedEnd;
        memory = qint64(size.width()) * size.height() * pixelBytes() + w * 16
                 + (lossless ? coded + w * h * 4 : std::min<qint64>(coded, 4 << 20));
    }

    void read(std::uint8_t *const *rows, int n) override
    {
        if (!m_decoder)
            startDecoding();
        while (m_ready < m_row + n)
            decodeMore();
        const int w = size.width();
        const size_t rowBytes = size_t(w) * size_t(pixelBytes());
        for (int i = 0; i < n; ++i) {
            const std::uint8_t *s = m_pixels.data() + rowBytes * size_t(m_row + i);
            if (alpha) {
                std::memcpy(rows[i], s, rowBytes);
                continue;
            }
            auto *d = reinterpret_cast<std::uint32_t *>(rows[i]);
            for (int x = 0; x < w; ++x, s += 3)
                d[x] = 0xFF000000u | std::uint32_t(s[0]) << 16 | std::uint32_t(s[1]) << 8 | s[2];
        }
        m_row += n;
        m_pixels.release(rowBytes * size_t(m_row));
    }

private:
    // A still picture: its size and coding from libwebp's reading of the headers.
    void readStillHeader(bool &lossless)
    {
        WebPBitstreamFeatures features;
        const ByteView head = ByteView::of(m_source.head());
        VP8StatusCode found = WebPGetFeatures(head.p, size_t(head.size), &features);
        if (found == VP8_STATUS_NOT_ENOUGH_DATA && m_source.size() > head.size) {
            // Chunks before the picture's own (a large profile) push its header further.
            const QByteArray start = m_source.bytes(0, std::min<qint64>(m_source.size(), 1 << 20));
            found = WebPGetFeatures(reinterpret_cast<const std::uint8_t *>(start.constData()), size_t(start.size()),
                                    &features);
        }
        if (found != VP8_STATUS_OK || features.width <= 0 || features.height <= 0)
            fail(damagedReason(PictureFormat::WebP));
        stored = QSize(features.width, features.height);
        m_frame = QRect(QPoint(0, 0), stored);
        alpha = features.has_alpha != 0;
        lossless = features.format == 2;
        // libwebp is fed the file up to the picture's coded data; what follows it
        // (metadata, or anything at all) is never read for the pixels.
        m_codedEnd = m_layout.pictureEnd > 0 ? m_layout.pictureEnd : m_source.size();
    }

    // An animation: the canvas, and its first frame's place and coding from the
    // frame's own chunks (an optional ALPH, then VP8, or VP8L).
    void readFirstFrameHeader(bool &lossless)
    {
        if (m_layout.canvas.isEmpty())
            fail(damagedReason(PictureFormat::WebP));
        SourceWindow w(m_source, 1024);
        const WebpLayout::Range f = m_layout.firstFrame;
        std::uint8_t a[16];
        if (f.size < 16 || w.read(f.at, a, 16) < 16)
            fail(cutShortReason(PictureFormat::WebP));
        const auto u24 = [&](int i) { return int(a[i] | a[i + 1] << 8 | a[i + 2] << 16); };
        m_frame = QRect(2 * u24(0), 2 * u24(3), 1 + u24(6), 1 + u24(9));
        stored = m_layout.canvas;
        if (!QRect(QPoint(0, 0), stored).contains(m_frame))
            fail(damagedReason(PictureFormat::WebP));
        alpha = m_frame != QRect(QPoint(0, 0), stored); // the canvas around it is clear
        bool coded = false;
        for (qint64 at = f.at + 16; at + 8 <= f.at + f.size && !coded;) {
            std::uint8_t c[13];
            const qint64 got = w.read(at, c, 13);
            const ByteView chunk{c, got};
            if (got < 8)
                break;
            const qint64 size = chunk.le32(4);
            alpha = alpha || chunk.is(0, "ALPH", 4);
            coded = chunk.is(0, "VP8 ", 4) || chunk.is(0, "VP8L", 4);
            lossless = chunk.is(0, "VP8L", 4);
            // VP8L: the signature, 14 bits each of width and height, then whether
            // alpha is used.
            if (lossless && got == 13)
                alpha = alpha || (c[12] & 0x10);
            at += 8 + size + (size & 1);
        }
        if (!coded)
            fail(damagedReason(PictureFormat::WebP));
    }

    // The EXIF, XMP and ICCP chunks.
    void readMetadataChunks()
    {
        const auto take = [&](const WebpLayout::Range &r, QByteArray &block) {
            if (r.at >= 0 && r.size <= kMaxWebpBlock)
                block = m_source.bytes(r.at, r.size);
        };
        take(m_layout.exif, blocks.exif);
        take(m_layout.xmp, blocks.xmp);
        take(m_layout.icc, blocks.icc);
        if (blocks.exif.startsWith(QByteArrayLiteral("Exif\0\0")))
            blocks.exif.remove(0, 6);
        orientation = exifBlockOrientation(blocks.exif);
    }

    // The first frame as a still WebP of its own: its chunks in a RIFF, with a
    // VP8X that names its alpha channel.
    PictureSource firstFrameAlone()
    {
        const WebpLayout::Range f = m_layout.firstFrame;
        m_frameMemory.grow(f.size + 64, stored.width(), stored.height());
        const QByteArray chunks = m_source.bytes(f.at + 16, f.size - 16);
        if (chunks.size() < f.size - 16)
            fail(cutShortReason(PictureFormat::WebP));
        const auto le24 = [](int v) { return QByteArray() + char(v) + char(v >> 8) + char(v >> 16); };
        const auto le32 = [&](qint64 v) { return le24(int(v)) + char(v >> 24); };
        QByteArray vp8x;
        if (chunks.startsWith("ALPH"))
            vp8x = QByteArrayLiteral("VP8X") + le32(10) + char(0x10) + QByteArray(3, '\0') + le24(m_frame.width() - 1)
                   + le24(m_frame.height() - 1);
        return PictureSource::memory(QByteArrayLiteral("RIFF") + le32(4 + vp8x.size() + chunks.size())
                                     + QByteArrayLiteral("WEBP") + vp8x + chunks);
    }

    // libwebp's incremental decoder, fed the file a piece at a time as rows are
    // asked for: the file is never held whole, a stop request ends it between
    // pieces, and the rows it has finished go out while it decodes the next ones.
    void startDecoding()
    {
        const bool animated = m_layout.firstFrame.at >= 0;
        m_coded = animated ? firstFrameAlone() : m_source;
        m_codedEnd = animated ? m_coded.size() : m_codedEnd;
        WebPDecoderConfig &config = m_config;
        if (!WebPInitDecoderConfig(&config))
            fail(ja("WebP デコーダを初期化できません"));
        if (m_decoded != stored) {
            config.options.use_scaling = 1;
            config.options.scaled_width = m_decoded.width();
            config.options.scaled_height = m_decoded.height();
        }
        // The frame's rectangle of the buffer; the rest stays clear.
        const int bytes = pixelBytes();
        m_pixels.allocate(size_t(size.width()) * size_t(size.height()) * size_t(bytes));
        const size_t first = (size_t(m_frame.y()) * size_t(size.width()) + size_t(m_frame.x())) * size_t(bytes);
        config.output.colorspace = !alpha ? MODE_RGB : Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_BGRA : MODE_ARGB;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = m_pixels.data() + first;
        config.output.u.RGBA.stride = size.width() * bytes;
        config.output.u.RGBA.size = m_pixels.size() - first;
        m_decoder.reset(WebPIDecode(nullptr, 0, &config));
        if (!m_decoder)
            fail(damagedReason(PictureFormat::WebP));
        m_piece.resize(size_t(std::min<qint64>(256 * 1024, std::max<qint64>(m_codedEnd, 1))));
        // Rows above the first frame are clear, ready at once.
        m_ready = m_frame.y();
    }

    // The next piece of the file to libwebp; m_ready is then the rows finished.
    void decodeMore()
    {
        checkPoint();
        if (m_fed >= m_codedEnd)
            fail(cutShortReason(PictureFormat::WebP));
        const qint64 got = m_coded.read(m_fed, m_piece.data(), std::min(qint64(m_piece.size()), m_codedEnd - m_fed));
        m_fed += got;
        const VP8StatusCode status = WebPIAppend(m_decoder.get(), m_piece.data(), size_t(got));
        if (status == VP8_STATUS_OK) {
            m_ready = size.height();
            return;
        }
        if (status == VP8_STATUS_UNSUPPORTED_FEATURE)
            fail(ja("この種類の WebP ファイルには対応していません"));
        if (status != VP8_STATUS_SUSPENDED)
            fail(damagedReason(PictureFormat::WebP));
        int lastRow = 0;
        if (WebPIDecGetRGB(m_decoder.get(), &lastRow, nullptr, nullptr, nullptr))
            m_ready = m_frame.y() + lastRow;
    }

    int pixelBytes() const { return alpha ? 4 : 3; }

    PictureSource m_source;
    WebpLayout m_layout;
    QRect m_frame; // the first frame's place on the canvas; the whole picture when still
    QSize m_decoded;
    MemoryReservation m_frameMemory;
    PictureSource m_coded = PictureSource::memory(QByteArray()); // what libwebp is fed: the file, or a frame
    qint64 m_codedEnd = 0, m_fed = 0;
    std::vector<std::uint8_t> m_piece;
    ReleasedBehind m_pixels; // before the decoder, which writes into it
    WebPDecoderConfig m_config; // libwebp keeps pointing at its options
    std::unique_ptr<WebPIDecoder, void (*)(WebPIDecoder *)> m_decoder{nullptr, WebPIDelete};
    int m_ready = 0; // rows libwebp has finished
    int m_row = 0;
};

// A grey picture described by a grey profile, whatever its format: its rows
// through that profile into sRGB, so that the output (which carries no grey
// profile) means the greys the source means.
class GreyProfileRows : public RowReader {
public:
    GreyProfileRows(std::unique_ptr<RowReader> inner, const std::array<std::uint32_t, 256> &table)
        : m_inner(std::move(inner))
        , m_table(table)
    {
        size = m_inner->size;
        extent = m_inner->extent;
        stored = m_inner->stored;
        orientation = m_inner->orientation;
        alpha = m_inner->alpha;
        rgbProfile = false;
        chunk = m_inner->chunk;
        memory = m_inner->memory;
        blocks = m_inner->blocks;
    }
    void read(std::uint8_t *const *rows, int n) override
    {
        m_inner->read(rows, n);
        for (int i = 0; i < n; ++i) {
            auto *p = reinterpret_cast<std::uint32_t *>(rows[i]);
            for (int x = 0; x < size.width(); ++x)
                p[x] = (p[x] & 0xFF000000u) | (m_table[p[x] & 0xFF] & 0xFFFFFFu);
        }
    }
    void finish() override
    {
        m_inner->finish();
        blocks = m_inner->blocks;
    }

private:
    std::unique_ptr<RowReader> m_inner;
    std::array<std::uint32_t, 256> m_table;
};

} // namespace

// BMP rows live in bmprows.cpp, HEIF rows in heifrows.cpp, TIFF rows in tiffrows.cpp.
std::unique_ptr<RowReader> openBmpRows(const PictureSource &source, const NeedFunction &need);
std::unique_ptr<RowReader> openHeifRows(const PictureSource &source);
std::unique_ptr<RowReader> openTiffRows(const PictureSource &source, const NeedFunction &need);

namespace {

std::unique_ptr<RowReader> openFormatRows(const PictureSource &source, PictureFormat format, const NeedFunction &need)
{
    switch (format) {
    case PictureFormat::Jpeg: return std::make_unique<JpegRows>(source, need);
    case PictureFormat::Png: {
        auto r = std::make_unique<PngRows>(source);
        if (need)
            need(r->upright());
        return r;
    }
    case PictureFormat::Tiff: return openTiffRows(source, need);
    case PictureFormat::WebP: return std::make_unique<WebpRows>(source, need);
    case PictureFormat::Bmp: return openBmpRows(source, need);
    case PictureFormat::Heif: {
        auto r = openHeifRows(source);
        if (need)
            need(r->upright());
        return r;
    }
    default: return nullptr;
    }
}

} // namespace

std::unique_ptr<RowReader> openRowReader(const PictureSource &source, PictureFormat format, const NeedFunction &need)
{
    std::unique_ptr<RowReader> r = openFormatRows(source, format, need);
    if (r && r->greyRows)
        if (const auto table = greyToSrgb(r->blocks.icc))
            return std::make_unique<GreyProfileRows>(std::move(r), *table);
    return r;
}

std::unique_ptr<PlaneReader> openPlaneReader(const PictureSource &source)
{
    if (sniffPictureFormat(source.head()) != PictureFormat::Jpeg)
        return nullptr;
    auto r = std::make_unique<JpegPlaneRows>(source);
    if (!r->plain())
        return nullptr;
    r->stored = QSize(int(r->width()), int(r->height()));
    return r;
}

} // namespace kestrovia
