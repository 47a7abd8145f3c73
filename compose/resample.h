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

#include <cstdint>
#include <functional>
#include <memory>

namespace kestrovia {

// Draws the part srcRect of src (in src's pixels, may be fractional) scaled into
// destRect of dest (in dest's pixels, may be fractional, rounded as above). Clipped
// to dest; dest pixels outside the rounded rectangle keep their colour. Both images
// must be Format_RGB32. An empty rectangle draws nothing.
void drawScaled(QImage &dest, const QRectF &destRect, const QImage &src, const QRectF &srcRect);

// The same for one colour plane (Format_Grayscale8 images, e.g. a JPEG's Y, Cb or Cr).
void drawScaledPlane(QImage &dest, const QRectF &destRect, const QImage &src, const QRectF &srcRect);

// The next n rows of a source picture, top to bottom, into rows[0..n): whole rows
// of the source's width, 4 bytes a pixel (Format_RGB32) or 1 (a plane).
using RowPull = std::function<void(std::uint8_t *const *rows, int n)>;

// drawScaled and drawScaledPlane for a source of srcSize pixels that arrives row by
// row through pull: the same pixels, holding only the filter's window of rows. Rows
// past the last one the rectangle needs are not pulled. Calls checkPoint() between
// bands (a stop request ends it with Stopped).
void drawScaledRows(QImage &dest, const QRectF &destRect, QSize srcSize, const QRectF &srcRect, const RowPull &pull);
void drawScaledPlaneRows(QImage &dest, const QRectF &destRect, QSize srcSize, const QRectF &srcRect,
                         const RowPull &pull);

// The engine of drawScaledRows, for a producer that hands rows over in chunks of
// its own (a JPEG's rows of blocks, a TIFF strip): take(n) gives where the next n
// source rows go (n <= chunk), put(n) takes them in and makes every output row that
// has all its rows. Rows outside the source rectangle go to a scratch row.
class RowScaler {
public:
    RowScaler(QImage &dest, const QRectF &destRect, QSize srcSize, const QRectF &srcRect, int bytesPerPixel, int chunk);
    ~RowScaler();
    RowScaler(const RowScaler &) = delete;
    RowScaler &operator=(const RowScaler &) = delete;
    // Whether rows the rectangle needs are still to come.
    bool wantsMore() const;
    int nextRow() const;
    std::uint8_t *const *take(int n);
    // Calls checkPoint() (a stop request ends it with Stopped).
    void put(int n);

private:
    struct Plan;
    std::unique_ptr<Plan> m;
};

// About the memory drawScaledRows holds besides dest, for a reservation.
qint64 scaledRowsMemory(QSize srcSize, int bytesPerPixel, QSize destSize, double scaleY);

// The pixel span [first, last) that an edge pair covers under the rounding rule.
struct PixelSpan {
    int first = 0;
    int end = 0;
};
PixelSpan pixelSpan(double start, double length);

} // namespace kestrovia
