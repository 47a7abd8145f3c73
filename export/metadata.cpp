#include "export/metadata.h"

#include "compose/byteview.h"
#include "compose/colorprofile.h"
#include "export/programmark.h"
#include "platform/japanese.h"

#include <exiv2/exiv2.hpp>

#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace kestrovia {

struct SourceMetadata::Data {
    Exiv2::ExifData exif;
    Exiv2::ByteOrder byteOrder = Exiv2::littleEndian;
    QByteArray rawExif; // the block exif came from, for its maker note
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
    QString problem;
};

namespace {

// The most one JPEG segment holds after its marker and length.
constexpr qsizetype kSegmentPayload = 65533;
constexpr char kExifHeader[] = "Exif\0\0"; // 6 bytes
constexpr char kXmpHeader[] = "http://ns.adobe.com/xap/1.0/"; // with its NUL: 29 bytes
constexpr char kPhotoshopHeader[] = "Photoshop 3.0"; // with its NUL: 14 bytes
// Stands in the EXIF directory for the maker note while exiv2 encodes it: an
// unknown tag right after MakerNote (0x927C), so the entry sorts where the maker
// note belongs once it is renamed.
constexpr std::uint16_t kMakerNotePlaceholder = 0x927D;

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
        Exiv2::XmpProperties::registerNs(kRecordNamespace, kRecordPrefix);
    });
}

const Exiv2::byte *bytesOf(const QByteArray &a) { return reinterpret_cast<const Exiv2::byte *>(a.constData()); }

enum Block { Exif = 1, Iptc = 2, Xmp = 4 };

QString blockNames(int blocks)
{
    QStringList names;
    if (blocks & Exif)
        names << QStringLiteral("EXIF");
    if (blocks & Iptc)
        names << QStringLiteral("IPTC");
    if (blocks & Xmp)
        names << QStringLiteral("XMP");
    return names.join(QStringLiteral("・"));
}

// ---- EXIF ----

template <typename Data, typename Pred> void eraseIf(Data &data, Pred pred)
{
    for (auto it = data.begin(); it != data.end();)
        it = pred(*it) ? data.erase(it) : std::next(it);
}

void erase(Exiv2::ExifData &exif, const char *key)
{
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it != exif.end())
        exif.erase(it);
}

bool has(const Exiv2::ExifData &exif, const char *key) { return exif.findKey(Exiv2::ExifKey(key)) != exif.end(); }

long intValue(const Exiv2::ExifData &exif, const char *key)
{
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    return it == exif.end() || it->count() == 0 ? -1 : it->toLong();
}

void setUndefined(Exiv2::ExifData &exif, const char *key, const char *bytes, long size)
{
    Exiv2::DataValue value(Exiv2::undefined);
    value.read(reinterpret_cast<const Exiv2::byte *>(bytes), size);
    exif[key] = value;
}

// Where the maker note lies in a TIFF structure: offset and size from the EXIF
// directory's MakerNote entry; {0, 0} when there is none or it lies outside.
std::pair<qint64, qint64> makerNoteRange(const QByteArray &raw)
{
    const ByteView t = ByteView::of(raw);
    const bool le = t.is(0, "II*\0", 4);
    if (!le && !t.is(0, "MM\0*", 4))
        return {0, 0};
    const auto u16 = [&](qint64 at) { return le ? t.le16(at) : t.be16(at); };
    const auto u32 = [&](qint64 at) { return le ? t.le32(at) : t.be32(at); };
    const auto entry = [&](qint64 ifd, std::uint32_t tag) -> qint64 {
        if (!t.has(ifd, 2))
            return -1;
        const int entries = int(u16(ifd));
        for (int e = 0; e < entries && t.has(ifd + 2 + qint64(e) * 12, 12); ++e)
            if (u16(ifd + 2 + qint64(e) * 12) == tag)
                return ifd + 2 + qint64(e) * 12;
        return -1;
    };
    const qint64 exifPointer = entry(u32(4), 0x8769);
    if (exifPointer < 0)
        return {0, 0};
    const qint64 note = entry(u32(exifPointer + 8), 0x927C);
    if (note < 0)
        return {0, 0};
    const qint64 size = u32(note + 4), at = u32(note + 8);
    if (size <= 4 || at < 8 || !t.has(at, size))
        return {0, 0};
    return {at, size};
}

// Moves an exiv2-encoded TIFF structure (no thumbnail directory) behind the
// maker note, which keeps the offset it had in the source: its offsets, whether
// counted from the TIFF header or from itself, stay right. The placeholder entry
// becomes the maker note's. Returns the block, or empty when it does not fit.
QByteArray withMakerNote(const QByteArray &encoded, const QByteArray &raw, qint64 noteAt, qint64 noteSize,
                         qsizetype room)
{
    const qint64 body = (noteAt + noteSize + 1) & ~qint64(1);
    const qint64 shift = body - 8;
    QByteArray out(qsizetype(body), '\0');
    out.replace(0, 8, encoded.left(8));
    out.replace(qsizetype(noteAt), qsizetype(noteSize), raw.mid(qsizetype(noteAt), qsizetype(noteSize)));
    out += encoded.mid(8);
    if (out.size() > room)
        return {};

    auto *p = reinterpret_cast<std::uint8_t *>(out.data());
    const ByteView t{p, out.size()};
    const bool le = p[0] == 'I';
    const auto u16 = [&](qint64 at) { return le ? t.le16(at) : t.be16(at); };
    const auto u32 = [&](qint64 at) { return le ? t.le32(at) : t.be32(at); };
    const auto put16 = [&](qint64 at, std::uint32_t v) {
        p[at + (le ? 0 : 1)] = std::uint8_t(v);
        p[at + (le ? 1 : 0)] = std::uint8_t(v >> 8);
    };
    const auto put32 = [&](qint64 at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            p[at + (le ? i : 3 - i)] = std::uint8_t(v >> (8 * i));
    };
    const auto typeSize = [](std::uint32_t type) -> qint64 {
        switch (type) {
        case 3:
        case 8: return 2;
        case 4:
        case 9:
        case 11:
        case 13: return 4;
        case 5:
        case 10:
        case 12: return 8;
        default: return 1;
        }
    };
    std::set<qint64> seen;
    bool placed = false;
    // ifd: where the directory now lies.
    const auto relocate = [&](auto &self, qint64 ifd) -> bool {
        if (!t.has(ifd, 2) || !seen.insert(ifd).second)
            return false;
        const int entries = int(u16(ifd));
        if (!t.has(ifd + 2, qint64(entries) * 12 + 4))
            return false;
        for (int e = 0; e < entries; ++e) {
            const qint64 at = ifd + 2 + qint64(e) * 12;
            const std::uint32_t tag = u16(at);
            if (tag == kMakerNotePlaceholder) {
                put16(at, 0x927C);
                put32(at + 4, std::uint32_t(noteSize));
                put32(at + 8, std::uint32_t(noteAt));
                placed = true;
                continue;
            }
            if (typeSize(u16(at + 2)) * u32(at + 4) <= 4 && tag != 0x8769 && tag != 0x8825 && tag != 0xA005)
                continue;
            const qint64 moved = qint64(u32(at + 8)) + shift;
            put32(at + 8, std::uint32_t(moved));
            if ((tag == 0x8769 || tag == 0x8825 || tag == 0xA005) && !self(self, moved))
                return false;
        }
        const qint64 next = u32(ifd + 2 + qint64(entries) * 12);
        return next == 0; // no thumbnail directory is written
    };
    const qint64 ifd0 = qint64(u32(4)) + shift;
    put32(4, std::uint32_t(ifd0));
    if (!relocate(relocate, ifd0) || !placed)
        return {};
    return out;
}

// The EXIF a JPEG of pixelSize carries: see addSourceMetadata.
Exiv2::ExifData outputExif(Exiv2::ExifData exif, QSize size, MetadataChoice choice, bool withProfile)
{
    if (choice == MetadataChoice::DropAll)
        exif.clear();
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
        "Exif.Image.InterColorProfile", "Exif.Image.XMLPacket", "Exif.Image.IPTCNAA", "Exif.Image.ImageResources",
        "Exif.Photo.MakerNote"};
    for (const char *key : layout)
        erase(exif, key);
    // The maker note goes in as the source's bytes (withMakerNote); exiv2's own
    // reading of it, and the sub-images of a TIFF, stay out.
    eraseIf(exif, [](const Exiv2::Exifdatum &d) {
        const std::string group = d.groupName();
        return Exiv2::ExifTags::isMakerGroup(group) || group == "MakerNote" || group.rfind("SubImage", 0) == 0
               || group.rfind("SubThumb", 0) == 0 || group == "Image2" || group == "Image3";
    });
    if (choice == MetadataChoice::DropLocation)
        eraseIf(exif, [](const Exiv2::Exifdatum &d) { return d.groupName() == "GPSInfo"; });
    // An entry of a type EXIF does not have (none, an unknown one, BigTIFF's 8-byte
    // ones) is damage no reader can take: written back, it would sort first in its
    // directory and make readers give up on the whole directory. exiv2's own types
    // (comments, strings) are numbered from 0x10000 and encode as EXIF's.
    eraseIf(exif, [](const Exiv2::Exifdatum &d) {
        const int type = d.typeId();
        return type < Exiv2::unsignedByte || (type > Exiv2::tiffIfd && type < Exiv2::string)
               || type == Exiv2::invalidTypeId;
    });

    const auto orientation = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (orientation != exif.end())
        *orientation = std::uint16_t(1);
    exif["Exif.Image.Software"] = programMark().toStdString();
    // What a JPEG's EXIF must hold; a HEIC, TIFF or PNG source's EXIF often lacks it.
    if (!has(exif, "Exif.Image.XResolution") || !has(exif, "Exif.Image.YResolution")) {
        exif["Exif.Image.XResolution"] = Exiv2::URational(72, 1);
        exif["Exif.Image.YResolution"] = Exiv2::URational(72, 1);
        exif["Exif.Image.ResolutionUnit"] = std::uint16_t(2);
    }
    if (const long unit = intValue(exif, "Exif.Image.ResolutionUnit"); unit < 1 || unit > 3)
        exif["Exif.Image.ResolutionUnit"] = std::uint16_t(2);
    if (const long siting = intValue(exif, "Exif.Image.YCbCrPositioning"); siting != 1 && siting != 2)
        exif["Exif.Image.YCbCrPositioning"] = std::uint16_t(1); // libjpeg's chroma sits centred
    if (!has(exif, "Exif.Photo.ExifVersion"))
        setUndefined(exif, "Exif.Photo.ExifVersion", "0232", 4);
    if (!has(exif, "Exif.Photo.ComponentsConfiguration"))
        setUndefined(exif, "Exif.Photo.ComponentsConfiguration", "\1\2\3\0", 4);
    if (!has(exif, "Exif.Photo.FlashpixVersion"))
        setUndefined(exif, "Exif.Photo.FlashpixVersion", "0100", 4);
    if (const long space = intValue(exif, "Exif.Photo.ColorSpace"); space != 1 && space != 0xFFFF)
        exif["Exif.Photo.ColorSpace"] = std::uint16_t(withProfile ? 0xFFFF : 1); // uncalibrated: see the profile
    erase(exif, "Exif.Photo.PixelXDimension");
    erase(exif, "Exif.Photo.PixelYDimension");
    exif["Exif.Photo.PixelXDimension"] = std::uint32_t(size.width());
    exif["Exif.Photo.PixelYDimension"] = std::uint32_t(size.height());
    const bool gps =
        std::any_of(exif.begin(), exif.end(), [](const Exiv2::Exifdatum &d) { return d.groupName() == "GPSInfo"; });
    if (gps && !has(exif, "Exif.GPSInfo.GPSVersionID")) {
        Exiv2::DataValue version(Exiv2::unsignedByte);
        version.read(reinterpret_cast<const Exiv2::byte *>("\2\3\0\0"), 4);
        exif["Exif.GPSInfo.GPSVersionID"] = version;
    }
    return exif;
}

QByteArray encodeExif(const Exiv2::ExifData &exif, Exiv2::ByteOrder order)
{
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, order, exif);
    return QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
}

// The EXIF block (a TIFF structure) for the output, at most room bytes; leftOut
// says what was left out.
QByteArray exifBlock(const SourceMetadata::Data &source, QSize size, MetadataChoice choice, bool withProfile,
                     qsizetype room, int &leftOut)
{
    Exiv2::ExifData exif = outputExif(source.exif, size, choice, withProfile);
    const auto [noteAt, noteSize] =
        choice == MetadataChoice::DropAll ? std::pair<qint64, qint64>{0, 0} : makerNoteRange(source.rawExif);
    if (noteSize > 0) {
        try {
            Exiv2::ExifData placed = exif;
            setUndefined(placed, "Exif.Photo.0x927d", "\0\0\0\0", 4);
            const QByteArray block =
                withMakerNote(encodeExif(placed, source.byteOrder), source.rawExif, noteAt, noteSize, room);
            if (!block.isEmpty())
                return block;
        } catch (...) {
        }
    }
    try {
        // exiv2 leaves out large tags of its own accord when the block outgrows a
        // segment; what still does not fit goes whole.
        const QByteArray block = encodeExif(exif, source.byteOrder);
        if (block.size() <= room)
            return block;
    } catch (...) {
    }
    leftOut |= Exif;
    return encodeExif(outputExif({}, size, MetadataChoice::DropAll, withProfile), source.byteOrder);
}

// ---- XMP ----

// A property that tells where a picture was taken: GPS coordinates, a place's name
// or code, in any schema (also the ones of drone and phone makers).
bool isLocationProperty(const Exiv2::Xmpdatum &d)
{
    std::string name = d.tagName();
    name = name.substr(0, name.find_first_of("[/"));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    static const char *const places[] = {"city",        "state",       "country",       "countrycode",
                                         "countryname", "sublocation", "provincestate", "worldregion"};
    return name.find("gps") != std::string::npos || name.find("latitude") != std::string::npos
           || name.find("longitude") != std::string::npos || name.find("location") != std::string::npos
           || std::any_of(std::begin(places), std::end(places), [&](const char *p) { return name == p; });
}

Exiv2::XmpData outputXmp(Exiv2::XmpData xmp, QSize size, MetadataChoice choice)
{
    if (choice == MetadataChoice::DropAll)
        xmp.clear();
    eraseIf(xmp, [&](const Exiv2::Xmpdatum &d) {
        return d.key().rfind("Xmp.xmp.Thumbnails", 0) == 0
               || (choice == MetadataChoice::DropLocation && isLocationProperty(d));
    });
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
    xmp["Xmp.xmp.CreatorTool"] = programMark().toStdString();
    // Filled in once the whole file is made (sealOutput); a source that is an
    // output of ours brings its own, which goes.
    xmp[std::string("Xmp.") + kRecordPrefix + '.' + kRecordProperty] = unsealedRecord().toStdString();
    return xmp;
}

QByteArray encodeXmp(const Exiv2::XmpData &xmp)
{
    std::string packet;
    if (Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::useCompactFormat) != 0)
        return {};
    return QByteArray::fromStdString(packet);
}

// The XMP packet for the output, at most room bytes, with iptc's records added
// where the source's XMP has none of their own (for containers that hold no IPTC).
QByteArray xmpPacket(const SourceMetadata::Data &source, QSize size, MetadataChoice choice, const Exiv2::IptcData &iptc,
                     qsizetype room, int &leftOut)
{
    try {
        Exiv2::XmpData xmp = source.xmp;
        if (!iptc.empty()) {
            Exiv2::XmpData converted;
            Exiv2::copyIptcToXmp(iptc, converted);
            for (const Exiv2::Xmpdatum &d : converted)
                if (xmp.findKey(Exiv2::XmpKey(d.key())) == xmp.end())
                    xmp.add(d);
        }
        const QByteArray packet = encodeXmp(outputXmp(xmp, size, choice));
        if (!packet.isEmpty() && packet.size() <= room)
            return packet;
    } catch (...) {
    }
    if (!source.xmp.empty() && choice != MetadataChoice::DropAll)
        leftOut |= Xmp;
    try {
        return encodeXmp(outputXmp({}, size, MetadataChoice::DropAll));
    } catch (...) {
        return {};
    }
}

// ---- IPTC ----

// The source's IPTC records as choice allows.
Exiv2::IptcData outputIptc(const SourceMetadata::Data &source, MetadataChoice choice)
{
    if (choice == MetadataChoice::DropAll)
        return {};
    Exiv2::IptcData iptc = source.iptc;
    if (choice == MetadataChoice::DropLocation) {
        // City, sub-location, province/state, country code and name; content location.
        static const std::set<std::uint16_t> places = {26, 27, 90, 92, 95, 100, 101};
        eraseIf(iptc, [](const Exiv2::Iptcdatum &d) { return d.record() == 2 && places.count(d.tag()); });
    }
    return iptc;
}

QByteArray iptcResources(const Exiv2::IptcData &iptc, int &leftOut)
{
    if (iptc.empty())
        return {};
    try {
        const Exiv2::DataBuf irb = Exiv2::Photoshop::setIptcIrb(nullptr, 0, iptc);
        const QByteArray out(reinterpret_cast<const char *>(irb.pData_), irb.size_);
        if (!out.isEmpty() && out.size() <= kSegmentPayload - qsizetype(sizeof kPhotoshopHeader))
            return out;
    } catch (...) {
    }
    leftOut |= Iptc;
    return {};
}

// ---- the JPEG ----

QByteArray segment(int marker, const QByteArray &payload)
{
    const qsizetype length = payload.size() + 2;
    QByteArray s;
    s.reserve(length + 2);
    s += char(0xFF);
    s += char(marker);
    s += char(length >> 8);
    s += char(length & 0xFF);
    s += payload;
    return s;
}

QByteArray iccSegments(const QByteArray &icc)
{
    constexpr qsizetype chunk = kSegmentPayload - 14;
    const qsizetype count = (icc.size() + chunk - 1) / chunk;
    if (count < 1 || count > 255)
        return {};
    QByteArray out;
    for (qsizetype i = 0; i < count; ++i)
        out += segment(0xE2, QByteArray("ICC_PROFILE", 12) + char(i + 1) + char(count) + icc.mid(i * chunk, chunk));
    return out;
}

} // namespace

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
QString SourceMetadata::problem() const { return d->problem; }

SourceMetadata readSourceMetadata(const MetadataBlocks &blocks)
{
    setUpExiv2();
    auto data = std::make_shared<SourceMetadata::Data>();
    int unread = 0;
    if (!blocks.exif.isEmpty()) {
        try {
            data->byteOrder =
                Exiv2::ExifParser::decode(data->exif, bytesOf(blocks.exif), std::uint32_t(blocks.exif.size()));
            data->rawExif = blocks.exif;
        } catch (...) {
            data->exif.clear();
            unread |= Exif;
        }
        if (data->byteOrder == Exiv2::invalidByteOrder) {
            data->exif.clear();
            data->byteOrder = Exiv2::littleEndian;
            unread |= Exif;
        }
    }
    if (!blocks.iptc.isEmpty()) {
        try {
            if (Exiv2::IptcParser::decode(data->iptc, bytesOf(blocks.iptc), std::uint32_t(blocks.iptc.size())) != 0) {
                data->iptc.clear();
                unread |= Iptc;
            }
        } catch (...) {
            data->iptc.clear();
            unread |= Iptc;
        }
    }
    if (!blocks.xmp.isEmpty()) {
        try {
            // A packet may end in NULs or padding that the parser does not want.
            QByteArray packet = blocks.xmp;
            while (packet.endsWith('\0'))
                packet.chop(1);
            if (Exiv2::XmpParser::decode(data->xmp, packet.toStdString()) != 0) {
                data->xmp.clear();
                unread |= Xmp;
            }
        } catch (...) {
            data->xmp.clear();
            unread |= Xmp;
        }
    }
    if (unread)
        data->problem = ja("%1 を読み取れないため、出力には含めません").arg(blockNames(unread));
    SourceMetadata out;
    out.d = data;
    return out;
}

namespace {

// A profile whose header disagrees with its length was cut short somewhere.
bool isRgbProfile(const QByteArray &iccProfile)
{
    const ByteView icc = ByteView::of(iccProfile);
    return icc.has(0, 40) && icc.be32(0) == std::uint32_t(icc.size) && icc.is(36, "acsp", 4)
           && iccColourSpace(iccProfile) == IccSpace::Rgb;
}

QString leftOutProblem(int leftOut)
{
    return leftOut ? ja("%1 を出力に書き込めないため省きました").arg(blockNames(leftOut)) : QString();
}

} // namespace

OutputMetadata outputMetadata(const SourceMetadata &source, QSize pixelSize, const QByteArray &iccProfile,
                              MetadataChoice choice)
{
    setUpExiv2();
    // Far beyond any camera's, and what a container's 32-bit sizes hold with room.
    constexpr qsizetype room = qsizetype(16) << 20;
    OutputMetadata out;
    if (isRgbProfile(iccProfile))
        out.icc = iccProfile;
    int leftOut = 0;
    out.exif = exifBlock(*source.d, pixelSize, choice, !out.icc.isEmpty(), room, leftOut);
    out.xmp = xmpPacket(*source.d, pixelSize, choice, outputIptc(*source.d, choice), room, leftOut);
    out.problem = leftOutProblem(leftOut);
    return out;
}

JpegWithMetadata addSourceMetadata(const QByteArray &jpeg, const SourceMetadata &source, QSize pixelSize,
                                   const QByteArray &iccProfile, MetadataChoice choice)
{
    setUpExiv2();
    const ByteView b = ByteView::of(jpeg);
    if (!b.is(0, "\xFF\xD8", 2))
        return {jpeg, ja("JPEG ではないためメタデータを書き込めません")};
    // After the encoder's APP0 (JFIF), which readers expect first.
    qint64 at = 2;
    if (b.is(2, "\xFF\xE0", 2) && b.has(4, 2))
        at = 4 + b.be16(4);
    if (!b.has(at, 0))
        return {jpeg, ja("JPEG ではないためメタデータを書き込めません")};

    const bool withProfile = isRgbProfile(iccProfile);
    int leftOut = 0;
    QByteArray segments;
    const QByteArray exif = exifBlock(*source.d, pixelSize, choice, withProfile,
                                      kSegmentPayload - qsizetype(sizeof kExifHeader - 1), leftOut);
    segments += segment(0xE1, QByteArray(kExifHeader, sizeof kExifHeader - 1) + exif);
    // A JPEG holds IPTC in a segment of its own.
    if (const QByteArray xmp =
            xmpPacket(*source.d, pixelSize, choice, {}, kSegmentPayload - qsizetype(sizeof kXmpHeader), leftOut);
        !xmp.isEmpty())
        segments += segment(0xE1, QByteArray(kXmpHeader, sizeof kXmpHeader) + xmp);
    if (withProfile)
        segments += iccSegments(iccProfile);
    if (const QByteArray iptc = iptcResources(outputIptc(*source.d, choice), leftOut); !iptc.isEmpty())
        segments += segment(0xED, QByteArray(kPhotoshopHeader, sizeof kPhotoshopHeader) + iptc);

    JpegWithMetadata out;
    out.jpeg = jpeg.left(qsizetype(at)) + segments + jpeg.mid(qsizetype(at));
    out.problem = leftOutProblem(leftOut);
    return out;
}

} // namespace kestrovia
