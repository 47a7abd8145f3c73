#pragma once
// The mark every output carries, so that a later run can tell its own earlier
// outputs (which it may replace when the user agrees) from everything else at an
// output path (which may be a user's original, or an output the user has edited
// since, and is never replaced).
//
// The mark names the program (EXIF Software, XMP CreatorTool, the user attribute)
// and records what was written, twice: the attribute holds the file's size and
// modification time as written, and the XMP holds a digest of the file's bytes
// (sealOutput) that a later run computes again. The digest travels with the
// file (a copy, a memory card without attributes); the attribute answers without
// reading the file. A container carries the digest where it carries its XMP, so
// every output format can hold it; only finding the XMP is the container's own.

#include <QByteArray>
#include <QString>

#include <functional>

namespace kestrovia {

// "Kestrovia <version>": the EXIF Software and XMP CreatorTool of every output.
QString programMark();

// The extended attribute that marks an output where the file system keeps one.
inline constexpr char kOutputAttribute[] = "user.kestrovia.output";

// The XMP property holding the digest, in a namespace of its own.
inline constexpr char kRecordNamespace[] = "http://kestrovia.org/ns/output/1.0/";
inline constexpr char kRecordPrefix[] = "kestrovia";
inline constexpr char kRecordProperty[] = "OutputDigest";
// The property's value before sealOutput fills it in: as long as a digest, so that
// filling it in moves nothing in the container.
QString unsealedRecord();

// Fills in the digest of a complete output file (its XMP written with
// unsealedRecord()) in place; the length stays. False, and file unchanged, when
// it holds no unsealed record.
bool sealOutput(QByteArray &file);

// Sets the extended attribute on the open file fd, recording the file's size and
// modification time as they are now: call it once the bytes are written. A file
// system without user attributes (or one that refuses them) leaves the file
// without it, silently: the marks in the file remain.
void markOutputFile(int fd);

// What stands at an output path, as far as the mark tells.
enum class OutputMark {
    None, // no mark of this program: perhaps a user's original
    Ours, // an earlier output, as it was written (only its time may have changed)
    Changed, // an earlier output changed since it was written (by an editor,
             // exiftool, ImageMagick), or one whose record is gone: the user's now
    Unverified, // marked by a release that recorded nothing, on a file system without
                // attributes: nothing tells whether it was changed since
};

// Reads the mark of the regular file at path. Ours when the attribute's record
// matches the file's size and time, or else when the digest in its XMP matches its
// bytes (so a touch, or a copy that lost the attribute, stays ours). A file marked
// by a release that recorded nothing is ours only while it carries that release's
// attribute and a mark in the file (the tools that rewrite a file drop the
// attribute). Reads at most a few segments and a bounded sample of the bytes (the
// digest covers the length, the first and the last MiB), never follows a symbolic
// link (a link is never an output of ours) and never blocks on a FIFO or device.
// None when the file cannot be read.
OutputMark readOutputMark(const QString &path);

// readOutputMark(path) == OutputMark::Ours.
bool isKestroviaOutput(const QString &path);

// ---- for the containers that carry the mark ----

// Reads n bytes at offset into `into`; false when they are not all there.
using ReadAt = std::function<bool(qint64 offset, char *into, qint64 n)>;

// Where a container keeps the marks, as its reader found them.
struct MarkedBlocks {
    bool exifMarked = false; // EXIF Software names the program
    bool xmpMarked = false; // XMP CreatorTool names the program
    qint64 recordAt = -1; // the digest's offset in the file; -1 when there is none
    QByteArray record; // the digest as found there
    // A checksum the container keeps over the record (PNG's chunk CRC-32, big-endian
    // at checksumAt over [checksumFrom, checksumAt)): left out of the digest, and
    // made again when the record is sealed. -1 when there is none.
    qint64 checksumFrom = -1, checksumAt = -1;
};

// A JPEG's marks, from its first APP segments. The other containers (WebP, AVIF,
// PNG) have their readers of the same shape in containers.h.
MarkedBlocks jpegMarkedBlocks(const ReadAt &read);

// The XMP packet's marks: CreatorTool, and the record with its offset in the
// packet (packetAt is the packet's offset in the file).
void readXmpMarks(const QByteArray &packet, qint64 packetAt, MarkedBlocks &into);
// Whether the EXIF block (a TIFF structure) names the program as its Software.
bool exifNamesProgram(const QByteArray &tiff);

} // namespace kestrovia
