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
#include "compose/sourcefile.h"

#include <QImage>

#include <functional>

namespace kestrovia {

// The size, in pixels of the upright picture, that job draws a picture of upright
// pixels at on its canvas: the fitted rectangle (FitAspectSize in twips, a sliver
// at least one pixel across), or the whole canvas when stretched, seen from the
// unturned picture (with the turn when applyTurn). What a reduced decode must keep.
QSize drawnSize(const Job &job, QSize upright, bool applyTurn = true);

// Decodes job.path. When the job's canvas is much smaller than the picture, the
// picture may be decoded at a reduced scale (shrink on load), never below the size
// it is drawn at; the turn is taken into account when applyTurn. Throws Failure for
// a missing, unreadable, damaged or too large file. beforeDecode, when
// given, is called with the picture's upright size once its header is read and
// before its pixels are allocated (the batch waits there for memory).
DecodedPicture loadJobSource(const Job &job, bool applyTurn = true,
                             const std::function<void(QSize picture)> &beforeDecode = {});
// The same for a source opened already (PictureSource::open), read no further
// than the decode needs.
DecodedPicture decodeJobSource(const Job &job, const PictureSource &source, bool applyTurn = true,
                               const std::function<void(QSize picture)> &beforeDecode = {});
// The same for the file's content, read already.
DecodedPicture decodeJobSource(const Job &job, const QByteArray &data, bool applyTurn = true,
                               const std::function<void(QSize picture)> &beforeDecode = {});

// The job's canvas straight from its file, for the batch: the picture is decoded
// in bands and each band reduced as it comes (resample's RowScaler), so only the
// filter's window of rows is held, never the whole picture, and the memory follows
// the canvas's size. The same pixels as composeJob(job, loadJobSource(job)) for a
// picture stored upright; GIF, read whole, and turned pictures drawn
// larger than they are go through those two steps. Memory is reserved from the
// process's budget before the rows are read. Throws Failure as loadJobSource and
// composeJob do, and Stopped when the current stop scope's flag is raised.
struct ComposedJob {
    QImage canvas; // as composeJob's; null when planes hold the job
    std::optional<JpegPlanes> planes; // the colour-plane route (composeJobPlanes), when asked and taken
    QSize pictureSize; // the picture's real upright size
    QByteArray iccProfile; // as DecodedPicture::iccProfile
    MetadataBlocks blocks; // as DecodedPicture::blocks
};
// planes: whether the colour-plane route may be taken, and with which chroma
// (composeJobPlanes); the RGB canvas otherwise.
enum class PlaneRoute { None, FullChroma, HalfChroma };
ComposedJob composeJobFile(const Job &job, bool applyTurn = true,
                           const std::function<void(QSize picture)> &beforeDecode = {},
                           PlaneRoute planes = PlaneRoute::None);
ComposedJob composeJobSource(const Job &job, const PictureSource &source, bool applyTurn = true,
                             const std::function<void(QSize picture)> &beforeDecode = {});

// The job's canvas, in a buffer of its own, Format_RGB32: the new size, or the
// picture's own unturned size without one. "ON" stretches the turned picture over
// the whole canvas; "OFF" fills the canvas with the background colour and draws the
// picture fitted with FitAspectSize in twips (15 a pixel), at the top-left or
// centred; a side that rounds to nothing becomes a sliver one pixel across. A
// picture with transparency is laid on the background colour first. When the job
// keeps alpha (Job::keepsAlpha) the canvas is Format_ARGB32 instead, with straight
// alpha: the picture keeps its transparency (scaled premultiplied) and the band
// around a fitted picture is transparent; the background colour is unused. Without
// applyTurn the picture is drawn unturned. Throws Failure for no picture or a
// canvas beyond the size limits.
QImage composeJob(const Job &job, const DecodedPicture &picture, bool applyTurn = true);

// The job composed as colour planes instead of an RGB canvas, for the most common
// job: a plain colour JPEG (see plainJpegSize) scaled, unturned, over the whole
// canvas (stretched, or fitted without a band). Each plane is filtered at its own
// size straight from the decoded planes, with no conversion to RGB and back: Y at
// the canvas size, Cb and Cr at half its size when halfChroma (the canvas then has
// even sides), else at the canvas size; the extents are the planes' rectangles. The
// same picture as composeJob within the rounding of the two routes. nullopt, having
// decoded nothing, for any other job or picture. Throws Failure as decodeJobSource
// and composeJob do.
// The planes are decoded in bands and reduced as they come, as composeJobFile does.
std::optional<JpegPlanes> composeJobPlanes(const Job &job, const QByteArray &data, bool halfChroma,
                                           const std::function<void(QSize picture)> &beforeDecode = {});
std::optional<JpegPlanes> composeJobPlanes(const Job &job, const PictureSource &source, bool halfChroma,
                                           const std::function<void(QSize picture)> &beforeDecode = {});

} // namespace kestrovia
