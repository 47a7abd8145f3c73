#pragma once
// The export of one job: its composed canvas as the output JPEG file.

#include "compose/jobrow.h"
#include "compose/metadatablocks.h"
#include "compose/picturedecoder.h"
#include "export/safewrite.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace kestrovia {

// The job's output file as bytes: the canvas encoded with the converter's settings
// (encodeJpeg) at the quality of job.level, then the source's metadata, as
// job.metadata chooses, with the program's mark and the picture's RGB profile
// (addSourceMetadata: orientation 1, no thumbnail, the canvas's size), and the
// mark's record of the finished bytes (sealOutput); metadata that cannot be
// carried is left out and never fails the row. metadata holds the blocks the
// decoder found in the source (embeddedMetadata); iccProfile describes the
// canvas's pixels. Nothing is written; several rows may be encoded at once on
// different threads. Throws Failure with a Japanese reason.
QByteArray encodeJob(const QImage &canvas, const Job &job, const MetadataBlocks &metadata = {},
                     const QByteArray &iccProfile = {});
// The same from colour planes (composeJobPlanes), which carry their profile.
QByteArray encodeJob(const JpegPlanes &planes, const Job &job, const MetadataBlocks &metadata);

// Writes jpeg as the output file at output, the path the batch's plan worked out
// and checked (planBatch), through writeOutputFile. WriteMode::Replace replaces only
// an earlier output of this program as it was written (isKestroviaOutput) or
// nothing: any other file that took the name since the plan, or the output changed
// since, is kept and NameTaken thrown, as it is in WriteMode::New for any file.
// Throws Failure with a Japanese reason.
void writeJobOutput(const QString &output, const QByteArray &jpeg, WriteMode mode = WriteMode::New);

} // namespace kestrovia
