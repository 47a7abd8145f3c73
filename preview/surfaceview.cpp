#include "preview/surfaceview.h"

#include "compose/surface.h"
#include "platform/syscolor.h"

#include <QPainter>
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
    const TwipsPerPixel tpp = m_surface->twipsPerPixel();
    setGeometry(twipsToPixels(m_surface->left(), tpp.x), twipsToPixels(m_surface->top(), tpp.y),
                twipsToPixels(m_surface->width(), tpp.x), twipsToPixels(m_surface->height(), tpp.y));
    update();
}

void SurfaceView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), resolveColorValue(m_surface->backColor()));
    try {
        const QImage &img = m_surface->image();
        if (!img.isNull())
            p.drawImage(QRect(QPoint(0, 0), m_surface->pixelSize()), img);
    } catch (const std::exception &) {
        // A surface too large to hold stays its back colour on screen.
    }
}

} // namespace kestrovia
