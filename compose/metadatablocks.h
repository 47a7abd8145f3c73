#pragma once
// The metadata a picture carries beside its pixels, as the raw blocks its container
// holds them: what the decoder found, handed on to the export, which parses them
// with exiv2's block parsers (never its readers of whole files).

#include <QByteArray>

namespace kestrovia {

struct MetadataBlocks {
    QByteArray exif; // a TIFF structure ("II*\0" / "MM\0*"), without the JPEG "Exif\0\0" prefix
    QByteArray xmp; // the XMP packet (UTF-8 XML)
    QByteArray iptc; // IPTC-IIM records (from a JPEG APP13 "Photoshop 3.0" 8BIM 0x0404 block)
    QByteArray icc; // the embedded ICC profile as stored, any colour space

    bool isEmpty() const { return exif.isEmpty() && xmp.isEmpty() && iptc.isEmpty() && icc.isEmpty(); }
};

} // namespace kestrovia
