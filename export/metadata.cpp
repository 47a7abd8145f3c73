#include "export/metadata.h"

#include "compose/colorprofile.h"
#include "compose/pictureformat.h"

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <QStringList>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kestrovia {

struct SourceMetadata::Data {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
    QByteArray icc;
    QString problem;
};

namespace {

QString tr(const char *text) { return QString::fromUtf8(text); }

std::mutex xmpToolkit;

// exiv2's XMP toolkit keeps shared state; this serialises it between the worker
// threads of a batch run.
void lockXmpToolkit(void *, bool lock)
{
    if (lock)
        xmpToolkit.lock();
    else
        xmpToolkit.unlock();
}

void setUpExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // exiv2 writes its warnings to standard error; failures reach us as exceptions.
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(lockXmpToolkit, nullptr);
    });
}

const Exiv2::byte *bytesOf(const QByteArray &a) { return reinterpret_cast<const Exiv2::byte *>(a.constData()); }

enum Block { Exif = 1, Iptc = 2, Xmp = 4, Icc = 8 };

QString blockNames(int blocks)
{
    QStringList names;
    if (blocks & Exif)
        names << QStringLiteral("EXIF");
    if (blocks & Iptc)
        names << QStringLiteral("IPTC");
    if (blocks & Xmp)
        names << QStringLiteral("XMP");
    if (blocks & Icc)
        names << tr("ICC プロファイル");
    return names.join(QStringLiteral("・"));
}

void erase(Exiv2::ExifData &exif, const char *key)
{
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it != exif.end())
        exif.erase(it);
}

// EXIF as it belongs in the output: the turn is in the pixels now, the thumbnail
// shows the old picture, and a TIFF source's layout tags describe strips that the
// JPEG does not have (a reader trusting them would misread the file).
Exiv2::ExifData outputExif(Exiv2::ExifData exif, QSize size)
{
    Exiv2::ExifThumb(exif).erase();
    static const char *const layout[] = {
        "Exif.Image.NewSubfileType", "Exif.Image.SubfileType", "Exif.Image.ImageWidth", "Exif.Image.ImageLength",
        "Exif.Image.BitsPerSample", "Exif.Image.Compression", "Exif.Image.PhotometricInterpretation",
        "Exif.Image.FillOrder", "Exif.Image.StripOffsets", "Exif.Image.SamplesPerPixel", "Exif.Image.RowsPerStrip",
        "Exif.Image.StripByteCounts", "Exif.Image.PlanarConfiguration", "Exif.Image.Predictor", "Exif.Image.ColorMap",
        "Exif.Image.TileWidth", "Exif.Image.TileLength", "Exif.Image.TileOffsets", "Exif.Image.TileByteCounts",
        "Exif.Image.SubIFDs", "Exif.Image.ExtraSamples", "Exif.Image.SampleFormat", "Exif.Image.JPEGTables",
        "Exif.Image.JPEGInterchangeFormat", "Exif.Image.JPEGInterchangeFormatLength", "Exif.Image.YCbCrSubSampling",
        // Carried as blocks of their own (ICC profile, XMP, IPTC) or not at all.
        "Exif.Image.InterColorProfile", "Exif.Image.XMLPacket", "Exif.Image.IPTCNAA", "Exif.Image.ImageResources"};
    for (const char *key : layout)
        erase(exif, key);
    if (exif.empty())
        return exif;
    const auto orientation = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (orientation != exif.end())
        *orientation = std::uint16_t(1);
    exif["Exif.Photo.PixelXDimension"] = std::uint32_t(size.width());
    exif["Exif.Photo.PixelYDimension"] = std::uint32_t(size.height());
    return exif;
}

Exiv2::XmpData outputXmp(Exiv2::XmpData xmp, QSize size)
{
    for (auto it = xmp.begin(); it != xmp.end();) {
        if (it->key().rfind("Xmp.xmp.Thumbnails", 0) == 0)
            it = xmp.erase(it);
        else
            ++it;
    }
    const auto set = [&](const char *key, const std::string &value) {
        const auto it = xmp.findKey(Exiv2::XmpKey(key));
        if (it != xmp.end())
            it->setValue(value);
    };
    set("Xmp.tiff.Orientation", "1");
    set("Xmp.exif.PixelXDimension", std::to_string(size.width()));
    set("Xmp.exif.PixelYDimension", std::to_string(size.height()));
    set("Xmp.tiff.ImageWidth", std::to_string(size.width()));
    set("Xmp.tiff.ImageLength", std::to_string(size.height()));
    return xmp;
}

// HEIF through libheif: exiv2 0.27 finds the metadata items of only some HEIF
// writers (it misreads libheif's item locations and finds nothing). Throws
// std::runtime_error when the file cannot be read.
void readHeif(const QByteArray &source, SourceMetadata::Data &out)
{
    const auto check = [](heif_error err) {
        if (err.code != heif_error_Ok)
            throw std::runtime_error(err.message ? err.message : "libheif");
    };
    const std::unique_ptr<heif_context, void (*)(heif_context *)> ctx(heif_context_alloc(), heif_context_free);
    check(heif_context_read_from_memory_without_copy(ctx.get(), source.constData(), size_t(source.size()), nullptr));
    heif_image_handle *raw = nullptr;
    check(heif_context_get_primary_image_handle(ctx.get(), &raw));
    const std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle *)> handle(raw,
                                                                                         heif_image_handle_release);

    const int count = heif_image_handle_get_number_of_metadata_blocks(handle.get(), nullptr);
    std::vector<heif_item_id> ids(size_t(std::max(count, 0)));
    heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), nullptr, ids.data(), count);
    for (const heif_item_id id : ids) {
        std::vector<Exiv2::byte> block(heif_image_handle_get_metadata_size(handle.get(), id));
        check(heif_image_handle_get_metadata(handle.get(), id, block.data()));
        const auto text = [](const char *s) { return std::string(s ? s : ""); };
        const std::string type = text(heif_image_handle_get_metadata_type(handle.get(), id));
        const std::string content = text(heif_image_handle_get_metadata_content_type(handle.get(), id));
        if (type == "Exif" && out.exif.empty() && block.size() >= 4) {
            // Four bytes give the offset of the TIFF header that follows them.
            const std::size_t skip = 4
                                     + ((std::size_t(block[0]) << 24) | (std::size_t(block[1]) << 16)
                                        | (std::size_t(block[2]) << 8) | block[3]);
            if (skip < block.size())
                Exiv2::ExifParser::decode(out.exif, block.data() + skip, std::uint32_t(block.size() - skip));
        } else if (type == "mime" && content == "application/rdf+xml" && out.xmp.empty()) {
            Exiv2::XmpParser::decode(out.xmp, std::string(block.begin(), block.end()));
        }
    }
    const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(handle.get());
    if (profile == heif_color_profile_type_prof || profile == heif_color_profile_type_rICC) {
        out.icc.resize(qsizetype(heif_image_handle_get_raw_color_profile_size(handle.get())));
        check(heif_image_handle_get_raw_color_profile(handle.get(), out.icc.data()));
    }
}

} // namespace

struct MetadataWriter {
    const QByteArray &jpeg;
    const SourceMetadata::Data &source;
    QSize size;
    const QByteArray &icc;

    // The JPEG with the chosen blocks; throws what exiv2 throws.
    QByteArray write(int blocks) const
    {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytesOf(jpeg), long(jpeg.size()));
        if (image->imageType() != Exiv2::ImageType::jpeg)
            throw Exiv2::Error(Exiv2::kerNotAJpeg);
        if (blocks & Exif)
            image->setExifData(outputExif(source.exif, size));
        if (blocks & Iptc)
            image->setIptcData(source.iptc);
        if (blocks & Xmp)
            image->setXmpData(outputXmp(source.xmp, size));
        if (blocks & Icc) {
            Exiv2::DataBuf profile(bytesOf(icc), long(icc.size()));
            image->setIccProfile(profile);
        }
        image->writeMetadata();
        Exiv2::BasicIo &io = image->io();
        io.seek(0, Exiv2::BasicIo::beg);
        const Exiv2::DataBuf out = io.read(io.size());
        return QByteArray(reinterpret_cast<const char *>(out.pData_), out.size_);
    }

    JpegWithMetadata run() const
    {
        int wanted = 0;
        if (!source.exif.empty())
            wanted |= Exif;
        if (!source.iptc.empty())
            wanted |= Iptc;
        if (!source.xmp.empty())
            wanted |= Xmp;
        if (!icc.isEmpty() && iccColourSpace(icc) == IccSpace::Rgb)
            wanted |= Icc;
        if (!wanted)
            return {jpeg, {}};
        try {
            return {write(wanted), {}};
        } catch (...) {
        }
        // Something would not go in (a damaged block, an EXIF over the 64 KB a JPEG
        // segment holds, ...): keep each block that can be written on its own.
        int written = 0;
        QByteArray best = jpeg;
        for (int block : {Exif, Xmp, Iptc, Icc}) {
            if (!(wanted & block))
                continue;
            try {
                best = write(written | block);
                written |= block;
            } catch (...) {
            }
        }
        return {best, tr("%1 を出力に書き込めないため省きました").arg(blockNames(wanted & ~written))};
    }
};

SourceMetadata::SourceMetadata()
    : d(std::make_shared<Data>())
{
}
SourceMetadata::~SourceMetadata() = default;
SourceMetadata::SourceMetadata(const SourceMetadata &) = default;
SourceMetadata &SourceMetadata::operator=(const SourceMetadata &) = default;

bool SourceMetadata::hasExif() const { return !d->exif.empty(); }
bool SourceMetadata::hasIptc() const { return !d->iptc.empty(); }
bool SourceMetadata::hasXmp() const { return !d->xmp.empty(); }
QByteArray SourceMetadata::iccProfile() const { return d->icc; }
QString SourceMetadata::problem() const { return d->problem; }

SourceMetadata readSourceMetadata(const QByteArray &source)
{
    setUpExiv2();
    auto data = std::make_shared<SourceMetadata::Data>();
    try {
        if (sniffPictureFormat(source) == PictureFormat::Heif) {
            readHeif(source, *data);
            SourceMetadata out;
            out.d = data;
            return out;
        }
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytesOf(source), long(source.size()));
        image->readMetadata();
        data->exif = image->exifData();
        data->iptc = image->iptcData();
        data->xmp = image->xmpData();
        if (image->iccProfileDefined()) {
            const Exiv2::DataBuf *icc = image->iccProfile();
            data->icc = QByteArray(reinterpret_cast<const char *>(icc->pData_), icc->size_);
        }
    } catch (...) {
        *data = SourceMetadata::Data();
        data->problem = tr("画像のメタデータを読み取れないため、出力には含めません");
    }
    SourceMetadata out;
    out.d = data;
    return out;
}

JpegWithMetadata addSourceMetadata(const QByteArray &jpeg, const SourceMetadata &source, QSize pixelSize,
                                   const QByteArray &iccProfile)
{
    setUpExiv2();
    return MetadataWriter{jpeg, *source.d, pixelSize, iccProfile}.run();
}

} // namespace kestrovia
