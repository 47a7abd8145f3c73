#pragma once
// The source picture's metadata carried into its output JPEG: EXIF, IPTC and XMP
// parsed from the blocks the decoder found (exiv2's block parsers; exiv2 never opens
// a user's file), and written as our own JPEG's segments with the program's mark.
// Metadata never fails a row: what cannot be read or written is left out, and the
// reason is returned for diagnostics only.

#include "compose/jobrow.h"
#include "compose/metadatablocks.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <memory>

namespace kestrovia {

struct JpegWithMetadata {
    QByteArray jpeg; // the output JPEG, with whatever metadata could be written
    QString problem; // Japanese, for diagnostics: the blocks left out and why; empty when none
};

// The output's metadata as blocks, for a container that holds each on its own
// (WebP chunks, PNG chunks, AVIF items): what addSourceMetadata writes into a
// JPEG, made the same way, except that the IPTC records the choice keeps go into
// the XMP (where it has no value of its own for them), as these containers hold
// no IPTC, and that no 64 KB segment bounds the blocks.
struct OutputMetadata {
    QByteArray exif; // a TIFF structure ("II*\0" / "MM\0*"); never empty: it carries the mark
    QByteArray xmp; // the XMP packet; carries the mark
    QByteArray icc; // iccProfile when it is a valid RGB profile, else empty
    QString problem; // as JpegWithMetadata::problem
};

// What was read from a source. Cheap to copy (shared, read-only).
class SourceMetadata {
public:
    SourceMetadata();
    ~SourceMetadata();
    SourceMetadata(const SourceMetadata &);
    SourceMetadata &operator=(const SourceMetadata &);

    bool hasExif() const;
    bool hasIptc() const;
    bool hasXmp() const;
    // Japanese, for diagnostics: the blocks that could not be read; empty when all were.
    QString problem() const;

    struct Data;

private:
    std::shared_ptr<const Data> d;
    friend SourceMetadata readSourceMetadata(const MetadataBlocks &blocks);
    friend JpegWithMetadata addSourceMetadata(const QByteArray &jpeg, const SourceMetadata &source, QSize pixelSize,
                                              const QByteArray &iccProfile, MetadataChoice choice);
    friend OutputMetadata outputMetadata(const SourceMetadata &source, QSize pixelSize, const QByteArray &iccProfile,
                                         MetadataChoice choice);
};

// Parses the EXIF, IPTC and XMP blocks (the ICC profile is the caller's to pass on).
// Never throws; a block exiv2 cannot parse is left out with problem() set.
SourceMetadata readSourceMetadata(const MetadataBlocks &blocks);

// Returns jpeg (a complete JPEG as TurboJPEG wrote it: SOI, then APP0) with APP
// segments added after its APP0, for a picture that is now pixelSize large and
// upright:
// - EXIF: the source's, as choice allows (DropLocation: no GPS directory; DropAll:
//   none of it), with orientation 1, no thumbnail (IFD1), the pixel dimensions set,
//   no TIFF layout tags (strips, bit depths, compression, ...), and the tags a JPEG's
//   EXIF requires added where missing (resolution, YCbCrPositioning, ExifVersion,
//   ComponentsConfiguration, FlashpixVersion, ColorSpace; GPSVersionID with GPS).
//   The maker note keeps its offset from the TIFF header, so the offsets inside it
//   stay right; where it cannot (the block would outgrow a segment) it is left out.
// - XMP: the source's as choice allows (DropLocation: exif:GPS*, Iptc4xmpCore
//   Location and CountryCode, photoshop City/State/Country, Iptc4xmpExt
//   LocationShown/LocationCreated and other place properties), orientation,
//   dimensions and thumbnails made right.
// - IPTC: the source's records as choice allows (DropLocation: city, sub-location,
//   province/state, country code and name, content location).
// - The mark in every case: EXIF Software and XMP CreatorTool programMark(), and
//   the XMP record unsealed (sealOutput fills it in once the file is complete).
// - iccProfile (APP2 chunks) when it is a valid RGB profile; pass the profile
//   describing the output's pixels, i.e. none for a CMYK source converted to sRGB.
// A block that cannot be written is left out (the mark then goes in a minimal
// block). Never throws.
JpegWithMetadata addSourceMetadata(const QByteArray &jpeg, const SourceMetadata &source, QSize pixelSize,
                                   const QByteArray &iccProfile, MetadataChoice choice);

// The blocks for a picture of pixelSize as above; never throws.
OutputMetadata outputMetadata(const SourceMetadata &source, QSize pixelSize, const QByteArray &iccProfile,
                              MetadataChoice choice);

} // namespace kestrovia
