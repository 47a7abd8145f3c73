#pragma once
// Where the formats beside JPEG keep the EXIF and XMP blocks, read back from an
// open file with a bounded number of small reads: for telling an output of this
// program (programmark) by the mark those blocks carry, without reading pictures.

#include "compose/metadatablocks.h"

#include <QtGlobal>

namespace kestrovia {

// Reads exactly n bytes at offset of the open file fd; false on a short read or an
// error.
bool readAt(int fd, qint64 offset, void *into, qint64 n);

// The EXIF (as a TIFF structure) and XMP blocks of the PNG, WebP or AVIF file open
// at fd: PNG's eXIf and uncompressed iTXt "XML:com.adobe.xmp" chunks before the
// pixels (IDAT); WebP's EXIF and XMP chunks, found by walking the RIFF chunks'
// headers past the bitstream; AVIF's Exif and XMP items, found through the meta
// box's item information and locations. Reads at most a few dozen chunk or box
// headers and blocks of up to 1 MB each; anything else (another format, a broken
// container, a block stored elsewhere or compressed) gives empty blocks. The ICC
// profile and IPTC are not looked for.
MetadataBlocks headMetadataBlocks(int fd);

} // namespace kestrovia
