#pragma once
// The composition of one job row: its source picture, turned, fitted or stretched,
// on its background colour, onto a target surface of the job's new size.
//
// Two calls, because the batch run clears its "preview ready" flag in between:
//   loadJobSource(surfaces, job, tpp)                      clear + decode
//   composeJob(surfaces, job, tpp, target, applyTurn)     size, turn, draw
// The batch run passes the output canvas as target and applyTurn = true; the
// preview passes its visible area, with applyTurn = false for the quick preview
// (the same picture without the turn; the turn surface is then left alone).

#include "platform/units.h"

#include <QSize>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace kestrovia {

class Surface;

// The row's cells as texts, converted and checked inside the composition.
struct JobSettings {
    QString path;       // ColPath: source picture
    QString newSize;    // ColNewSize: "W*H" in pixels
    QString fit;        // ColFit: "OFF" keeps the aspect ratio, anything else stretches
    QString backColor;  // ColBackColor: signed decimal colour value
    QString position;   // ColPosition: "Center" centres, anything else top-left
    QString rotation;   // ColRotation: "+90°", "-90°", "+180°"; anything else no turn
};

// The preview window's three work surfaces.
struct JobSurfaces {
    Surface &source;   // PicNormal: the decoded picture at its real pixel size (auto-size)
    Surface &turned;   // SupportPicture: the turned picture
    Surface &canvas;   // CompletePicture: emptied when a job's source is loaded
};

// Rotation code of a rotation text: "+90°" 90, "-90°" 270, "+180°" 180, any other 0.
std::int16_t rotationCode(QStringView rotationText);

// Canvas size of a size text, in pixels. nullopt means "use the source's size": the
// text is empty, holds no "*", or a side is 0. The text is split at the first "*";
// each side is a decimal number rounded to a whole pixel (nearest, ties to even).
// Throws Failure for a side that is not a number (the empty side included), a
// negative side, or a size beyond 32767 pixels a side / 400 megapixels.
std::optional<QSize> canvasPixelSize(QStringView sizeText);

// Steps 1-2: empties the canvas and the source surface, then decodes job.path into
// the source surface (which takes the picture's real size). When the job's size text
// asks for a much smaller canvas the picture may be decoded at a reduced scale; the
// turn (only when applyTurn) is taken into account. Throws Failure for a missing or
// undecodable file; the source surface is then empty.
void loadJobSource(JobSurfaces surfaces, const JobSettings &job, TwipsPerPixel tpp,
                   bool applyTurn = true);

// Steps 3-7: sizes target to the canvas size (new size or the source's real size)
// in twips (W*tpp.x x H*tpp.y), sets its scale mode to twips, and draws the job into
// it: stretched over the whole target ("ON"), or filled with the background colour
// and the picture fitted with FitAspectSize in twips at the top-left or centred
// ("OFF"). With applyTurn the source is first turned into surfaces.turned; without
// it the source is drawn unturned. Throws Failure for a size or colour text that is
// not a number, a negative or too large size, or no picture loaded.
void composeJob(JobSurfaces surfaces, const JobSettings &job, TwipsPerPixel tpp,
                Surface &target, bool applyTurn);

// Convenience for the batch run and tools: both steps with the canvas as target.
void composeJobToCanvas(JobSurfaces surfaces, const JobSettings &job, TwipsPerPixel tpp);

} // namespace kestrovia
