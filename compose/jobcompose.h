#pragma once
// The composition of one job: its source picture, turned, fitted or stretched, on
// its background colour, into a canvas of the job's new size. Two steps, each an
// image in and an image out:
//   loadJobSource(job)            decode, no larger than the job draws the picture
//   composeJob(job, picture)      the canvas
// The batch composes with the turn; the quick preview leaves the turn out and is
// otherwise the same picture.

#include "compose/jobrow.h"
#include "compose/picturedecoder.h"

#include <QImage>

#include <functional>

namespace kestrovia {

// Decodes job.path. When the job's size text asks for a much smaller canvas the
// picture may be decoded at a reduced scale (shrink on load), never below the size
// it is drawn at; the turn is taken into account when applyTurn. A size text that
// is not a number only means "decode in full" here (composeJob reports it). Throws
// Failure for a missing, unreadable, damaged or too large file. beforeDecode, when
// given, is called with the picture's upright size once its header is read and
// before its pixels are allocated (the batch waits there for memory).
DecodedPicture loadJobSource(const JobRow &job, bool applyTurn = true,
                             const std::function<void(QSize picture)> &beforeDecode = {});

// The job's canvas, in a buffer of its own, Format_RGB32: the new size, or the
// picture's own unturned size without one. "ON" stretches the turned picture over
// the whole canvas; "OFF" fills the canvas with the background colour and draws the
// picture fitted with FitAspectSize in twips (15 a pixel), at the top-left or
// centred; a side that rounds to nothing becomes a sliver one pixel across. A
// picture with transparency is laid on the background colour first. Without
// applyTurn the picture is drawn unturned. Throws Failure for a size or colour text
// that is not a number, a negative or too large size, or no picture.
QImage composeJob(const JobRow &job, const DecodedPicture &picture, bool applyTurn = true);

} // namespace kestrovia
