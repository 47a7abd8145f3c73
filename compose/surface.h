#pragma once
// A drawing surface: a backing image of whole pixels plus its geometry in twips.
// It stands in for the picture boxes of the preview window: the preview area that
// the user sees and the three hidden work surfaces (source holder, turned picture,
// output canvas). It has no widget; a view in preview/ shows it where visible.

#include "platform/units.h"

#include <QImage>
#include <QObject>
#include <QRectF>
#include <QSize>
#include <QString>
#include <cstdint>
#include <functional>

namespace kestrovia {

// Unit of a surface's inner coordinates.
enum class ScaleMode { User = 0, Twips = 1, Pixels = 3 };

class Surface : public QObject {
    Q_OBJECT
public:
    explicit Surface(TwipsPerPixel tpp = {}, QObject *parent = nullptr);

    TwipsPerPixel twipsPerPixel() const;

    // Outer geometry in twips, in the owner's client coordinates. Surfaces have no
    // border, so the inner extent equals the outer size. Resizing keeps the drawing
    // at the top-left and fills uncovered pixels with the back colour. The pixel
    // size is floor(twips / factor) per axis; a negative size is taken as 0.
    int left() const;
    int top() const;
    int width() const;
    int height() const;
    void move(int leftTwips, int topTwips);
    void resize(int widthTwips, int heightTwips);
    void setGeometry(int leftTwips, int topTwips, int widthTwips, int heightTwips);

    // Size of the picture held, in pixels (after a reduced decode still the
    // picture's real size: geometry and coordinates always use the real size).
    QSize pixelSize() const;

    // Inner extent in the current unit. Twips and Pixels derive it from the pixel
    // size; setScaleSize sets a user-defined extent and throws Failure for a zero
    // (or negative) side, as a coordinate system of no extent cannot exist.
    ScaleMode scaleMode() const;
    void setScaleMode(ScaleMode mode);
    double scaleWidth() const;
    double scaleHeight() const;
    void setScaleSize(double width, double height);

    // When set, loading a picture resizes the surface to the picture's size.
    bool autoSize() const;
    void setAutoSize(bool on);

    // Decodes a JPEG or BMP file into the surface, drawn at its top-left at 1:1.
    // reduceTo, when valid, is the largest size the picture will ever be drawn at;
    // the decoder may then keep a smaller image (shrink on load) while pixelSize()
    // still reports the real size. Throws Failure for a missing, unreadable, corrupt
    // or too large file; the surface is then left empty.
    void loadPicture(const QString &path, QSize reduceTo = QSize());
    // The same, with the largest drawn size computed from the picture's real
    // upright size once its header is known (invalid result: no reduction).
    void loadPicture(const QString &path, const std::function<QSize(QSize)> &reduceTo);
    // The surface holds no picture: all pixels become the back colour.
    void removePicture();
    // Blank surface: picture and drawing removed and repainted. The source holder
    // (autoSize) also shrinks to zero size.
    void empty();

    // Persistent drawing. The backing image always keeps the drawing; the flag is
    // kept so that callers can state their intent; drawing while it is off still
    // lands in the backing image.
    bool autoRedraw() const;
    void setAutoRedraw(bool on);
    // Shows the backing image now (emits changed()).
    void refresh();

    // Back colour as a colour value (0x00BBGGRR or system colour reference).
    // Setting it fills the whole surface, erasing drawings; a system colour
    // reference resolves through the fixed classic table (resolveColorValue).
    std::int32_t backColor() const;
    void setBackColor(std::int32_t colorValue);

    // Scaled copy of a rectangle of src's picture into a rectangle of this surface.
    // Both rectangles are in their surface's inner coordinates (twips unless the
    // scale mode says otherwise); the copy is clipped to this surface and pixels
    // outside the destination rectangle keep their colour.
    void paintPicture(const Surface &src, const QRectF &dest, const QRectF &srcRect);
    // The whole of src into dest.
    void paintPicture(const Surface &src, const QRectF &dest);

    // The backing image (Format_RGB32). After a reduced decode it may be smaller
    // than pixelSize(); draw into it only through the calls above.
    const QImage &image() const;
    QImage &image();
    // The backing image's pixels for a rectangle in this surface's pixels: its
    // extent (below) stands for the whole pixelSize().
    QRectF toImage(const QRectF &pixels) const;

    // Replaces the whole drawing with image, which stands for the surface's full
    // pixelSize() (it may be smaller, e.g. a picture decoded at a reduced scale;
    // it is then scaled wherever it is drawn). extent is the rectangle of image that
    // stands for the whole surface (DecodedPicture::extent); by default all of it.
    // The image is shared, not copied.
    void setBackingImage(const QImage &image, const QRectF &extent = QRectF());
    // True while the backing image is smaller than pixelSize().
    bool isReduced() const;

signals:
    // Content changed (drawing, fill, load, empty, refresh).
    void changed();
    // Position or size changed.
    void geometryChanged();

private:
    // Pixel coordinates of this surface from inner coordinates.
    double toPixelsX(double v) const;
    double toPixelsY(double v) const;
    // The backing image is made only when first needed: until then the surface is
    // all back colour, so a fill or a resize of a large surface costs nothing.
    void materialize() const;
    void setPixelSize(QSize size);

    TwipsPerPixel m_tpp;
    int m_left = 0, m_top = 0, m_width = 0, m_height = 0;
    ScaleMode m_scaleMode = ScaleMode::Twips;
    double m_scaleWidth = 0, m_scaleHeight = 0;
    bool m_autoSize = false;
    bool m_autoRedraw = true;
    std::int32_t m_backColor;
    QSize m_pixelSize;
    mutable QImage m_image;
    mutable QRectF m_extent; // of m_image, standing for m_pixelSize
};

} // namespace kestrovia
