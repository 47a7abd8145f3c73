// HEIC / HEIF read through libheif, which decodes the whole picture at once: the
// file is read where libheif asks (its boxes, then the picture's data), and the
// rows are handed out of libheif's own RGB plane, so that the picture is never
// copied whole once more. libheif applies the file's turn, mirroring and crop.

#include "compose/picturelimits.h"
#include "compose/rowreaders.h"
#include "platform/failure.h"
#include "platform/japanese.h"
#include "platform/stop.h"

#include <libheif/heif.h>

#include <cstdint>
#include <cstring>
#include <optional>

namespace kestrovia {

namespace {

[[noreturn]] void fail(const QString &reason) { throw Failure(reason); }

QString brokenHeif() { return ja("HEIF ファイルが壊れているため読み込めません"); }

[[noreturn]] void failHeif(const heif_error &err)
{
    if (err.subcode == heif_suberror_End_of_data)
        fail(ja("HEIF ファイルが途中で切れているため読み込めません"));
    if (err.subcode == heif_suberror_Security_limit_exceeded)
        fail(ja("HEIF ファイルの画像が大きすぎるため読み込めません"));
    switch (err.code) {
    case heif_error_Unsupported_filetype:
    case heif_error_Unsupported_feature:
        if (err.subcode == heif_suberror_Unsupported_codec)
            fail(ja("この HEIF ファイルの圧縮方式を読むデコーダがインストールされていません"));
        fail(ja("この種類の HEIF ファイルには対応していません"));
    case heif_error_Memory_allocation_error: fail(ja("HEIF ファイルを展開するメモリが足りません"));
    default: fail(brokenHeif());
    }
}

// Larger metadata items than this do not occur in real files.
constexpr qint64 kMaxItemBytes = qint64(32) << 20;
// The most pixels a byte of a HEIF file may stand for (see HeifRows).
constexpr qint64 kHeifPixelsPerByte = 4096;

class HeifRows : public RowReader {
public:
    explicit HeifRows(const PictureSource &source)
        : m_source(source)
    {
        // A constructor that throws runs no destructor: the handles are freed by
        // their own holder.
        m_context = m_held.context = heif_context_alloc();
        if (!m_context)
            fail(ja("HEIF デコーダを初期化できません"));
        // libheif's own bound on a picture's sides, at ours.
        heif_context_set_maximum_image_size_limit(m_context, kMaxPictureSide);
        heif_error err = heif_context_read_from_reader(m_context, &kReader, this, nullptr);
        if (!m_readFailure.isEmpty())
            fail(m_readFailure);
        if (err.code != heif_error_Ok)
            failHeif(err);
        err = heif_context_get_primary_image_handle(m_context, &m_held.handle);
        m_handle = m_held.handle;
        if (err.code != heif_error_Ok)
            failHeif(err);
        // The handle's size is the upright size (after the file's turn and crop).
        const qint64 w = heif_image_handle_get_width(m_handle), h = heif_image_handle_get_height(m_handle);
        if (w <= 0 || h <= 0)
            fail(brokenHeif());
        checkPictureSize(w, h);
        // libheif decodes a picture in one call, several seconds for a large grid,
        // whatever its data: a grid of 100 megapixels declared in 17 KB (one tiny
        // tile named 400 times) would take a gigabyte and 16 s. HEVC spends at
        // least a byte on about a thousand pixels of a flat picture (x265: 1180 on
        // a 512 x 512 tile of one grey); fewer than a byte for every 4096 pixels
        // declared is no real picture.
        if (w * h > source.size() * kHeifPixelsPerByte)
            fail(ja("HEIF ファイルが壊れているか途中で切れています（%1 × %2 ピクセルに対してデータが少なすぎます）")
                     .arg(w)
                     .arg(h));
        stored = size = QSize(int(w), int(h));
        extent = QRectF(0, 0, w, h);
        alpha = heif_image_handle_has_alpha_channel(m_handle);
        m_premultiplied = alpha && heif_image_handle_is_premultiplied_alpha(m_handle);
        // libheif holds the coded picture, its decoded planes (up to 3 bytes a pixel)
        // and the RGB result it converts them to, all at once while it decodes.
        memory = source.size() + w * h * (3 + 3 + (alpha ? 4 : 3));
        readMetadata();
    }

    void read(std::uint8_t *const *rows, int n) override
    {
        if (!m_image)
            decode();
        for (int i = 0; i < n; ++i) {
            const std::uint8_t *s = m_plane + qsizetype(m_row + i) * m_stride;
            auto *d = reinterpret_cast<std::uint32_t *>(rows[i]);
            const int w = size.width();
            if (!alpha) {
                for (int x = 0; x < w; ++x, s += 3)
                    d[x] = 0xFF000000u | (std::uint32_t(s[0]) << 16) | (std::uint32_t(s[1]) << 8) | s[2];
                continue;
            }
            for (int x = 0; x < w; ++x, s += 4)
                d[x] = m_premultiplied ? straightPixel(s[3], s[0], s[1], s[2])
                                       : (std::uint32_t(s[3]) << 24) | (std::uint32_t(s[0]) << 16)
                                             | (std::uint32_t(s[1]) << 8) | s[2];
        }
        m_row += n;
    }

private:
    // The whole picture, in one call of libheif's (which has no way to be stopped
    // part way); the file and libheif's handles go as soon as it is done.
    void decode()
    {
        checkPoint();
        // libheif has no way to be stopped, but it reads a grid's tiles one by one
        // as it decodes them: a stop request fails the next read, and the decode
        // ends there (libheif frees what it holds).
        if (const StopFlag *flag = currentStopFlag())
            m_stop = *flag;
        const heif_error err =
            heif_decode_image(m_handle, &m_held.image, heif_colorspace_RGB,
                              alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr);
        if (m_stop && m_stop->stopRequested())
            throw Stopped();
        if (!m_readFailure.isEmpty())
            fail(m_readFailure);
        if (err.code != heif_error_Ok)
            failHeif(err);
        m_image = m_held.image;
        release();
        int stride = 0;
        m_plane = heif_image_get_plane_readonly(m_image, heif_channel_interleaved, &stride);
        m_stride = stride;
        if (!m_plane || heif_image_get_width(m_image, heif_channel_interleaved) != size.width()
            || heif_image_get_height(m_image, heif_channel_interleaved) != size.height()
            || m_stride < qsizetype(size.width()) * (alpha ? 4 : 3))
            fail(brokenHeif());
        checkPoint();
    }

    void release()
    {
        heif_image_handle_release(m_held.handle);
        m_held.handle = m_handle = nullptr;
        heif_context_free(m_held.context);
        m_held.context = m_context = nullptr;
    }

    // The primary picture's EXIF and XMP items and its profile.
    void readMetadata()
    {
        heif_item_id ids[8];
        const int exifCount = heif_image_handle_get_list_of_metadata_block_IDs(m_handle, "Exif", ids, 8);
        for (int i = 0; i < exifCount && blocks.exif.isEmpty(); ++i) {
            // The item starts with the offset of its TIFF header, after these 4 bytes.
            const QByteArray item = metadataItem(ids[i]);
            if (item.size() < 4)
                continue;
            const auto *p = reinterpret_cast<const std::uint8_t *>(item.constData());
            const qint64 skip = 4 + ((qint64(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]);
            if (skip < item.size())
                blocks.exif = item.mid(skip);
        }
        const int mimeCount = heif_image_handle_get_list_of_metadata_block_IDs(m_handle, "mime", ids, 8);
        for (int i = 0; i < mimeCount && blocks.xmp.isEmpty(); ++i)
            if (std::strcmp(heif_image_handle_get_metadata_content_type(m_handle, ids[i]), "application/rdf+xml") == 0)
                blocks.xmp = metadataItem(ids[i]);
        const heif_color_profile_type type = heif_image_handle_get_color_profile_type(m_handle);
        if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
            const qint64 length = qint64(heif_image_handle_get_raw_color_profile_size(m_handle));
            QByteArray icc(length > 0 && length <= kMaxItemBytes ? length : 0, Qt::Uninitialized);
            if (!icc.isEmpty() && heif_image_handle_get_raw_color_profile(m_handle, icc.data()).code == heif_error_Ok)
                blocks.icc = icc;
        }
    }

    QByteArray metadataItem(heif_item_id id) const
    {
        const qint64 length = qint64(heif_image_handle_get_metadata_size(m_handle, id));
        if (length <= 0 || length > kMaxItemBytes)
            return {};
        QByteArray item(length, Qt::Uninitialized);
        return heif_image_handle_get_metadata(m_handle, id, item.data()).code == heif_error_Ok ? item : QByteArray();
    }

    // libheif's reads, through the source.
    static int64_t position(void *self) { return static_cast<HeifRows *>(self)->m_offset; }
    // libheif asserts that a read within the file succeeds (a failed one ends the
    // whole program), so a read that cannot be made gives zeros and is reported
    // once libheif returns: a file shortened meanwhile, or a stop request, which
    // then costs no more reading (the rest of a grid's tiles come out of zeros at
    // once).
    static int readBytes(void *to, size_t n, void *self)
    {
        auto *r = static_cast<HeifRows *>(self);
        if (!r->m_readFailure.isEmpty() || (r->m_stop && r->m_stop->stopRequested())) {
            std::memset(to, 0, n);
            r->m_offset += qint64(n);
            return 0;
        }
        try {
            const qint64 got = r->m_source.read(r->m_offset, to, qint64(n));
            if (got < qint64(n)) {
                std::memset(static_cast<char *>(to) + got, 0, n - size_t(got));
                r->m_readFailure = ja("HEIF ファイルが途中で切れているため読み込めません");
            }
            r->m_offset += qint64(n);
            return 0;
        } catch (const Failure &f) {
            r->m_readFailure = f.message();
            std::memset(to, 0, n);
            r->m_offset += qint64(n);
            return 0;
        }
    }
    static int seek(int64_t at, void *self)
    {
        auto *r = static_cast<HeifRows *>(self);
        if (at < 0 || at > r->m_source.size())
            return 1;
        r->m_offset = at;
        return 0;
    }
    static heif_reader_grow_status waitForSize(int64_t target, void *self)
    {
        return target > static_cast<HeifRows *>(self)->m_source.size() ? heif_reader_grow_status_size_beyond_eof
                                                                       : heif_reader_grow_status_size_reached;
    }
    static constexpr heif_reader kReader{1, position, readBytes, seek, waitForSize};

    struct Held {
        heif_context *context = nullptr;
        heif_image_handle *handle = nullptr;
        heif_image *image = nullptr;
        ~Held()
        {
            heif_image_release(image);
            heif_image_handle_release(handle);
            heif_context_free(context);
        }
    };

    PictureSource m_source;
    qint64 m_offset = 0;
    std::optional<StopFlag> m_stop; // the decode's, for libheif's reads (any thread)
    QString m_readFailure; // a read that failed, for after libheif returns
    Held m_held;
    heif_context *m_context = nullptr;
    heif_image_handle *m_handle = nullptr;
    heif_image *m_image = nullptr;
    const std::uint8_t *m_plane = nullptr;
    qsizetype m_stride = 0;
    bool m_premultiplied = false;
    int m_row = 0;
};

} // namespace

std::unique_ptr<RowReader> openHeifRows(const PictureSource &source) { return std::make_unique<HeifRows>(source); }

} // namespace kestrovia
