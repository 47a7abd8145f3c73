#include "compose/surface.h"

#include "compose/imagebuffer.h"
#include "compose/picturedecoder.h"
#include "compose/resample.h"
#include "platform/failure.h"
#include "platform/syscolor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrovia {

Surface::Surface(TwipsPerPixel tpp, QObject *parent)
    : QObject(parent), m_tpp(tpp), m_backColor(kWindowBackgroundRef)
{
    if (m_tpp.x <= 0)
        m_tpp.x = 15;
    if (m_tpp.y <= 0)
        m_tpp.y = 15;
}

TwipsPerPixel Surface::twipsPerPixel() const { return m_tpp; }

int Surface::left() const { return m_left; }
int Surface::top() const { return m_top; }
int Surface::width() const { return m_width; }
int Surface::height() const { return m_height; }

void Surface::move(int leftTwips, int topTwips) { setGeometry(leftTwips, topTwips, m_width, m_height); }

void Surface::resize(int widthTwips, int heightTwips) { setGeometry(m_left, m_top, widthTwips, heightTwips); }

void Surface::setGeometry(int leftTwips, int topTwips, int widthTwips, int heightTwips)
{
    widthTwips = std::max(widthTwips, 0);
    heightTwips = std::max(heightTwips, 0);
    if (leftTwips == m_left && topTwips == m_top && widthTwips == m_width && heightTwips == m_height)
        return;
    m_left = leftTwips;
    m_top = topTwips;
    m_width = widthTwips;
    m_height = heightTwips;
    setPixelSize(QSize(twipsToPixels(m_width, m_tpp.x), twipsToPixels(m_height, m_tpp.y)));
    emit geometryChanged();
}

void Surface::setPixelSize(QSize size)
{
    if (size == m_pixelSize)
        return;
    const QSize old = m_pixelSize;
    m_pixelSize = size;
    if (m_image.isNull())
        return; // still all back colour
    const qint64 pixels = qint64(size.width()) * size.height();
    if (m_image.size() != old || size.width() > kMaxPictureSide || size.height() > kMaxPictureSide
        || pixels > kMaxPicturePixels) {
        // A reduced picture does not survive a change of size at full quality
        // (and a surface too large to hold stays plain back colour until drawn);
        // scaling it up would cost far more than a caller resizing a work surface
        // needs, so it is dropped and the surface shows its back colour.
        m_image = QImage();
        return;
    }
    // Keep the drawing at the top-left; uncovered pixels take the back colour.
    QImage next = newImage(m_pixelSize.width(), m_pixelSize.height());
    next.fill(resolveColorValue(m_backColor));
    const int w = std::min(old.width(), m_pixelSize.width());
    const int h = std::min(old.height(), m_pixelSize.height());
    for (int y = 0; y < h; ++y)
        std::memcpy(next.scanLine(y), m_image.constScanLine(y), size_t(w) * 4);
    m_image = next;
    m_extent = QRectF(next.rect());
    emit changed();
}

QSize Surface::pixelSize() const { return m_pixelSize; }

ScaleMode Surface::scaleMode() const { return m_scaleMode; }

void Surface::setScaleMode(ScaleMode mode)
{
    if (mode == ScaleMode::User && m_scaleMode != ScaleMode::User) {
        // Switching to a user scale keeps the current extent as its starting point.
        m_scaleWidth = scaleWidth();
        m_scaleHeight = scaleHeight();
    }
    m_scaleMode = mode;
}

double Surface::scaleWidth() const
{
    switch (m_scaleMode) {
    case ScaleMode::Twips: return m_width;
    case ScaleMode::Pixels: return m_pixelSize.width();
    case ScaleMode::User: return m_scaleWidth;
    }
    return m_width;
}

double Surface::scaleHeight() const
{
    switch (m_scaleMode) {
    case ScaleMode::Twips: return m_height;
    case ScaleMode::Pixels: return m_pixelSize.height();
    case ScaleMode::User: return m_scaleHeight;
    }
    return m_height;
}

void Surface::setScaleSize(double width, double height)
{
    if (!(width > 0) || !(height > 0) || !std::isfinite(width) || !std::isfinite(height))
        throw Failure(QString::fromUtf8("描画領域の座標の大きさを 0 以下にはできません（%1 × %2）")
                          .arg(width)
                          .arg(height));
    m_scaleMode = ScaleMode::User;
    m_scaleWidth = width;
    m_scaleHeight = height;
}

double Surface::toPixelsX(double v) const
{
    switch (m_scaleMode) {
    case ScaleMode::Twips: return v / m_tpp.x;
    case ScaleMode::Pixels: return v;
    case ScaleMode::User: return m_scaleWidth > 0 ? v * (double(m_width) / m_tpp.x) / m_scaleWidth : 0;
    }
    return v;
}

double Surface::toPixelsY(double v) const
{
    switch (m_scaleMode) {
    case ScaleMode::Twips: return v / m_tpp.y;
    case ScaleMode::Pixels: return v;
    case ScaleMode::User: return m_scaleHeight > 0 ? v * (double(m_height) / m_tpp.y) / m_scaleHeight : 0;
    }
    return v;
}

bool Surface::autoSize() const { return m_autoSize; }
void Surface::setAutoSize(bool on) { m_autoSize = on; }

void Surface::loadPicture(const QString &path, QSize reduceTo)
{
    loadPicture(path, [reduceTo](QSize) { return reduceTo; });
}

void Surface::loadPicture(const QString &path, const std::function<QSize(QSize)> &reduceTo)
{
    DecodedPicture picture;
    try {
        // Only a surface that takes the picture's own size can keep a reduced
        // image; elsewhere the picture is drawn 1:1 and needs every pixel.
        picture = decodePicture(path, m_autoSize ? NeedFunction(reduceTo) : NeedFunction());
    } catch (const Failure &) {
        empty();
        throw;
    }
    if (m_autoSize) {
        const QSize s = picture.size;
        m_image = QImage();
        resize(s.width() * m_tpp.x, s.height() * m_tpp.y);
        m_image = picture.image;
        m_extent = picture.extent;
    } else {
        removePicture();
        materialize();
        drawScaled(m_image, QRectF(QPointF(0, 0), QSizeF(picture.size)), picture.image, picture.extent);
    }
    emit changed();
}

void Surface::removePicture()
{
    m_image = QImage();
    emit changed();
}

void Surface::empty()
{
    m_image = QImage();
    if (m_autoSize)
        resize(0, 0);
    emit changed();
}

bool Surface::autoRedraw() const { return m_autoRedraw; }
void Surface::setAutoRedraw(bool on) { m_autoRedraw = on; }

void Surface::refresh() { emit changed(); }

std::int32_t Surface::backColor() const { return m_backColor; }

void Surface::setBackColor(std::int32_t colorValue)
{
    m_backColor = colorValue;
    // The fill happens when the image is next needed; until then the whole surface
    // is the back colour, so dropping the drawing is the fill.
    m_image = QImage();
    emit changed();
}

void Surface::materialize() const
{
    if (!m_image.isNull() || m_pixelSize.isEmpty())
        return;
    // A geometry can be set to anything; only the memory behind it is limited.
    checkPictureSize(m_pixelSize.width(), m_pixelSize.height());
    m_image = newImage(m_pixelSize.width(), m_pixelSize.height());
    m_image.fill(resolveColorValue(m_backColor));
    m_extent = QRectF(m_image.rect());
}

void Surface::paintPicture(const Surface &src, const QRectF &dest, const QRectF &srcRect)
{
    if (m_pixelSize.isEmpty() || src.m_pixelSize.isEmpty())
        return;
    const QImage &from = src.image();
    materialize();
    // Inner coordinates -> surface pixels -> backing-image pixels (which differ
    // only for a reduced image).
    const QRectF s(src.toPixelsX(srcRect.x()), src.toPixelsY(srcRect.y()), src.toPixelsX(srcRect.width()),
                   src.toPixelsY(srcRect.height()));
    const QRectF d(toPixelsX(dest.x()), toPixelsY(dest.y()), toPixelsX(dest.width()), toPixelsY(dest.height()));
    drawScaled(m_image, toImage(d), from, src.toImage(s));
    emit changed();
}

void Surface::paintPicture(const Surface &src, const QRectF &dest)
{
    paintPicture(src, dest, QRectF(0, 0, src.scaleWidth(), src.scaleHeight()));
}

const QImage &Surface::image() const
{
    materialize();
    return m_image;
}

QImage &Surface::image()
{
    materialize();
    return m_image;
}

QRectF Surface::toImage(const QRectF &pixels) const
{
    materialize();
    if (m_pixelSize.isEmpty() || m_image.isNull())
        return pixels;
    const double fx = m_extent.width() / m_pixelSize.width();
    const double fy = m_extent.height() / m_pixelSize.height();
    return QRectF(m_extent.x() + pixels.x() * fx, m_extent.y() + pixels.y() * fy, pixels.width() * fx,
                  pixels.height() * fy);
}

void Surface::setBackingImage(const QImage &image, const QRectF &extent)
{
    m_image = image.format() == QImage::Format_RGB32 ? image : image.convertToFormat(QImage::Format_RGB32);
    m_extent = extent.isValid() ? extent : QRectF(m_image.rect());
    emit changed();
}

bool Surface::isReduced() const { return !m_image.isNull() && m_image.size() != m_pixelSize; }

} // namespace kestrovia
