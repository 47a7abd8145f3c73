#pragma once
// The metadata a TIFF file keeps in its first image's directory, read through the
// source with a few bounded reads, never the whole file.

#include "compose/metadatablocks.h"
#include "compose/sourcefile.h"

namespace kestrovia {

// The blocks of a classic TIFF (either byte order):
// - exif: a compact TIFF structure of its own, in the file's byte order, holding the
//   first directory's tags with the Exif, GPS and interoperability directories they
//   point to. Left out: what points elsewhere in the file (strips, tiles, sub-images,
//   a thumbnail), the maker note (its inner offsets count from the file's start and
//   would point nowhere once moved), and the blocks below. Entries and values are
//   read up to 1 MB in all; a directory or value past that or past the file's end
//   is left out, never a failure.
// - xmp (tag 700), iptc (33723, or the records in Photoshop's resources, 34377) and
//   icc (34675), each up to 32 MB.
// BigTIFF and anything that is no TIFF give no blocks.
MetadataBlocks tiffMetadataBlocks(const PictureSource &source);

} // namespace kestrovia
