#pragma once
// Where the formats beside JPEG keep the program's mark, read back with a bounded
// number of small reads (programmark's markedBlocks joins these to JPEG's own):
// the EXIF and XMP blocks, and the XMP's offset in the file for the record.

#include "export/programmark.h"

namespace kestrovia {

// The marks of a PNG: its eXIf and uncompressed iTXt "XML:com.adobe.xmp" chunks
// before the pixels (IDAT). The iTXt chunk's CRC covers the record, so its place is
// given too (MarkedBlocks::checksumFrom/checksumAt).
MarkedBlocks pngMarkedBlocks(const ReadAt &read);
// The marks of a WebP: its EXIF and XMP chunks, found by walking the RIFF chunks'
// headers past the bitstream.
MarkedBlocks webpMarkedBlocks(const ReadAt &read);
// The marks of an AVIF (or another ISO base media file): its Exif and XMP items,
// found through the meta box's item information and locations; an item in more
// than one extent, or stored other than in the file, counts as none.
MarkedBlocks avifMarkedBlocks(const ReadAt &read);

// The container of the file by its first 12 bytes, and its marks; empty blocks for
// anything else (JPEG is programmark's own). Each reads at most a few dozen chunk or
// box headers and blocks of up to 1 MB each.
MarkedBlocks containerMarkedBlocks(const ReadAt &read);

} // namespace kestrovia
