#pragma once
// What a picture file is, told from its first bytes (never from its name), and the
// two things stored beside the pixels that decoding needs: the embedded ICC profile
// and the EXIF orientation. Every read is bounds-checked; broken containers give
// "none", never a failure, because the pixels may still be fine.

#include "compose/metadatablocks.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace kestrovia {

enum class PictureFormat { Unknown, Jpeg, Bmp, Png, Tiff, WebP, Gif, Heif };

// The names of the pictures the program reads, by their extension in any letter
// case (lower case here, without the dot): JPEG (.jpg .jpeg .jpe .jfif), BMP, PNG,
// TIFF (.tif .tiff), WebP, GIF, HEIC/HEIF. The decoder goes by the content; the
// name only decides what a drop, a folder or the file dialog takes.
const QStringList &pictureExtensions();
bool isPictureName(QStringView name);
// A JPEG's own extension (.jpg .jpeg .jpe .jfif, any letter case, without the dot).
bool isJpegExtension(QStringView extension);

// JPEG (FF D8 FF), BMP ("BM"), PNG (signature), TIFF (II*\0 / MM\0*, also BigTIFF),
// WebP (RIFF....WEBP), GIF (GIF87a / GIF89a), HEIF (an ISO-BMFF "ftyp" box whose
// major or compatible brands name a HEIF still picture: heic, heix, mif1, avif, ...).
PictureFormat sniffPictureFormat(const QByteArray &data);

// Short name for messages: "JPEG", "PNG", "HEIF", ...; "" for Unknown.
QString pictureFormatName(PictureFormat format);
// The reasons a decoder gives for a picture of format that is damaged, or that
// ends before its data does.
QString damagedReason(PictureFormat format);
QString cutShortReason(PictureFormat format);

// The embedded ICC profile as stored, in whatever colour space it describes:
// JPEG APP2 "ICC_PROFILE" chunks joined in sequence order, PNG iCCP (inflated),
// TIFF tag 34675 of the first image, WebP ICCP chunk. Empty when the file has none,
// when the container around it is broken, or for formats that keep it elsewhere
// (HEIF: read through libheif).
QByteArray embeddedIccProfile(const QByteArray &data, PictureFormat format);

// EXIF orientation (1..8) of a JPEG (first APP1 "Exif" segment), PNG (eXIf chunk) or
// WebP (EXIF chunk); 1 when absent, broken or out of range, and for the other
// formats (whose decoders apply it).
int embeddedExifOrientation(const QByteArray &data, PictureFormat format);

// The metadata blocks stored beside the pixels, as raw blocks for exiv2's block
// parsers: JPEG APP1 "Exif" and XMP, APP13 IPTC (Photoshop 8BIM 0x0404) and the ICC
// chunks; PNG eXIf, iTXt XMP and the "Raw profile type exif/iptc/xmp" text chunks
// image tools write; WebP EXIF, XMP and ICCP chunks; TIFF: the first directory's
// tags rebuilt as a compact EXIF, and its XMP, IPTC and ICC (tiffMetadataBlocks);
// HEIF: the primary picture's Exif and XMP items and its profile, through libheif.
// Every read is bounds-checked and capped; a broken block is left out, never a
// failure. BMP and GIF give none.
MetadataBlocks embeddedMetadata(const QByteArray &data, PictureFormat format);

// The block a PNG text chunk holds, added to m where m has none of its kind yet: XMP
// ("XML:com.adobe.xmp"), or the "Raw profile type exif/iptc/xmp" hexadecimal text of
// ImageMagick and exiv2. Other keywords add nothing.
void addPngTextBlock(MetadataBlocks &m, const QByteArray &keyword, const QByteArray &text);

// The block a PNG metadata chunk holds (type: its four letters), added to m where m
// has none of its kind yet: eXIf, and the text chunks (tEXt, zTXt, iTXt) as
// addPngTextBlock takes them. Other chunks add nothing.
void addPngChunkBlock(MetadataBlocks &m, const QByteArray &type, const QByteArray &data);

// IPTC as image tools store it outside a JPEG (a TIFF tag, a PNG text chunk): the
// records themselves, or Photoshop resources holding them; empty for anything else.
QByteArray iptcRecords(const QByteArray &stored);

// The orientation (1..8) in an EXIF block (a TIFF structure, with or without the
// "Exif\0\0" prefix); 1 when absent, broken or out of range.
int exifBlockOrientation(const QByteArray &exif);

// When the picture was taken by an EXIF block (DateTimeOriginal, the camera's local
// time); invalid when absent, broken or never set (blanks, zeros).
QDateTime exifDateTaken(const QByteArray &exif);

} // namespace kestrovia
