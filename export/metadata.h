#pragma once
// The source picture's metadata carried into its output JPEG (exiv2): EXIF, IPTC,
// XMP and the ICC profile. Metadata never fails a row: what cannot be read or
// written is left out, and the reason is returned for diagnostics only.

#include <QByteArray>
#include <QSize>
#include <QString>

#include <memory>

namespace kestrovia {

struct JpegWithMetadata {
    QByteArray jpeg; // the output JPEG, with whatever metadata could be written
    QString problem; // Japanese, for diagnostics: the blocks left out and why; empty when none
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
    // The embedded ICC profile as exiv2 found it (JPEG, PNG, TIFF, WebP); empty when none.
    QByteArray iccProfile() const;
    // Japanese, for diagnostics: why the metadata could not be read; empty when it was.
    QString problem() const;

    struct Data;

private:
    std::shared_ptr<const Data> d;
    friend SourceMetadata readSourceMetadata(const QByteArray &source);
    friend JpegWithMetadata addSourceMetadata(const QByteArray &jpeg, const SourceMetadata &source, QSize pixelSize,
                                              const QByteArray &iccProfile);
};

// Reads the metadata of a source file's bytes (any format exiv2 reads: JPEG, PNG,
// TIFF, WebP, GIF, BMP, HEIF). Never throws; a file exiv2 cannot read gives empty
// metadata with problem() set.
SourceMetadata readSourceMetadata(const QByteArray &source);

// Returns jpeg (a complete JPEG, e.g. as TurboJPEG wrote it) with the source's
// metadata added, prepared for a picture that is now pixelSize large and upright:
// EXIF and XMP orientation set to 1, the EXIF thumbnail (IFD1) and XMP thumbnails
// dropped, the EXIF and XMP pixel dimensions set to pixelSize, and the source's
// TIFF layout tags (strips, bit depths, compression, ...) left out.
// iccProfile is embedded (APP2 chunks) when it is a valid RGB profile; pass the
// profile describing the output's pixels, i.e. none for a CMYK source converted to
// sRGB. A block that cannot be written is left out; the plain jpeg comes back when
// nothing can. Never throws.
JpegWithMetadata addSourceMetadata(const QByteArray &jpeg, const SourceMetadata &source, QSize pixelSize,
                                   const QByteArray &iccProfile);

} // namespace kestrovia
