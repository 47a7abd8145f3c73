#pragma once
// The export of one job: its composed canvas as the output file.

#include "compose/jobcompose.h"
#include "compose/jobrow.h"
#include "compose/metadatablocks.h"
#include "compose/picturedecoder.h"
#include "export/safewrite.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace kestrovia {

// The job's output file as bytes, in job.format: the canvas encoded at job.level
// (JPEG: the converter's settings, encodeJpeg, at jpegQuality; WebP, AVIF, PNG:
// the writers at the level's settings, levels.h), with the source's metadata as
// job.metadata chooses, the program's mark and the picture's RGB profile
// (addSourceMetadata, outputMetadata: orientation 1, no thumbnail, the canvas's
// size), and the mark's record of the finished bytes (sealOutput); metadata that
// cannot be carried is left out and never fails the row. A canvas with
// transparency (composeJob for a job that keeps alpha) keeps it in the formats
// that store it. metadata holds the blocks the decoder found in the source
// (embeddedMetadata); iccProfile describes the canvas's pixels. Nothing is
// written; several rows may be encoded at once on different threads. Throws
// Failure with a Japanese reason.
QByteArray encodeJob(const QImage &canvas, const Job &job, const MetadataBlocks &metadata = {},
                     const QByteArray &iccProfile = {});
// The same from colour planes (composeJobPlanes), which carry their profile: JPEG's
// own route (planeRoute), for a JPEG job only; Failure for any other format.
QByteArray encodeJob(const JpegPlanes &planes, const Job &job, const MetadataBlocks &metadata);

// Whether the batch may compose the job as colour planes, and with which chroma:
// only for a JPEG output, whose encoder takes the planes as they are (the chroma
// its quality calls for, fullChroma). WebP's and AVIF's own YCbCr differ from
// JPEG's (range, matrix), so other formats take the RGB canvas.
PlaneRoute planeRoute(const Job &job);

// Writes file as the output file at output, the path the batch's plan worked out
// and checked (planBatch), through writeOutputFile. WriteMode::Replace replaces only
// an earlier output of this program as it was written (isKestroviaOutput) or
// nothing: any other file that took the name since the plan, or the output changed
// since, is kept and NameTaken thrown, as it is in WriteMode::New for any file.
// Throws Failure with a Japanese reason.
void writeJobOutput(const QString &output, const QByteArray &file, WriteMode mode = WriteMode::New);

} // namespace kestrovia
