#pragma once
// Scaled drawing of one image into a rectangle of another without aliasing.
//
// Filter: Lanczos-3 widened by the reduction factor when shrinking, so a downscale
// weighs every source pixel under the destination pixel's footprint and removes
// what would alias; Catmull-Rom when enlarging, which interpolates smoothly (better
// than bilinear). Weights are computed once per column and per row and applied in
// two separable fixed-point passes.
//
// Rectangle edges between pixels: each edge of the destination rectangle is rounded
// to the nearest pixel boundary (ties to even), i.e. a destination pixel belongs to
// the rectangle when its centre lies inside it. The whole source rectangle is mapped
// onto exactly those pixels, so nothing of the picture is cut off by the rounding and
// no pixel is half picture, half background.

#include <QImage>
#include <QRectF>

namespace kestrovia {

// Draws the part srcRect of src (in src's pixels, may be fractional) scaled into
// destRect of dest (in dest's pixels, may be fractional, rounded as above). Clipped
// to dest; dest pixels outside the rounded rectangle keep their colour. Both images
// must be Format_RGB32. An empty rectangle draws nothing.
void drawScaled(QImage &dest, const QRectF &destRect, const QImage &src, const QRectF &srcRect);

// The same for one colour plane (Format_Grayscale8 images, e.g. a JPEG's Y, Cb or Cr).
void drawScaledPlane(QImage &dest, const QRectF &destRect, const QImage &src, const QRectF &srcRect);

// The pixel span [first, last) that an edge pair covers under the rounding rule.
struct PixelSpan {
    int first = 0;
    int end = 0;
};
PixelSpan pixelSpan(double start, double length);

} // namespace kestrovia
