#include "preview/surfaceview.h"

#include "compose/surface.h"
#include "platform/syscolor.h"

#include <QPainter>

#include <cmath>
#include <exception>

namespace kestrovia {

SurfaceView::SurfaceView(Surface *surface, QWidget *parent)
    : QWidget(parent)
    , m_surface(surface)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(surface, &Surface::changed, this, qOverload<>(&QWidget::update));
    connect(surface, &Surface::geometryChanged, this, &SurfaceView::followGeometry);
    followGeometry();
}

void SurfaceView::followGeometry()
{
    // A surface pixel is a device pixel: logical units are pixels / ratio.
    const TwipsPerPixel tpp = m_surface->twipsPerPixel();
    const double ratio = devicePixelRatioF();
    const auto logical = [ratio](int twips, int factor) {
        return int(std::ceil(twipsToPixels(twips, factor) / ratio));
    };
    setGeometry(logical(m_surface->left(), tpp.x), logical(m_surface->top(), tpp.y), logical(m_surface->width(), tpp.x),
                logical(m_surface->height(), tpp.y));
    update();
}

void SurfaceView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), resolveColorValue(m_surface->backColor()));
    try {
        const QImage &img = m_surface->image();
        if (!img.isNull())
            p.drawImage(QRectF(QPointF(0, 0), QSizeF(m_surface->pixelSize()) / devicePixelRatioF()), img);
    } catch (const std::exception &) {
        // A surface too large to hold stays its back colour on screen.
    }
}

} // namespace kestrovia
