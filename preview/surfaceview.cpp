#include "preview/surfaceview.h"

#include "platform/syscolor.h"
#include "platform/units.h"
#include "preview/surface.h"

#include <QPainter>

#include <cmath>

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
    const double ratio = devicePixelRatioF();
    const auto logical = [ratio](int twips) { return int(std::ceil(twipsToPixels(twips) / ratio)); };
    setGeometry(logical(m_surface->left()), logical(m_surface->top()), logical(m_surface->width()),
                logical(m_surface->height()));
    update();
}

void SurfaceView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), resolveColorValue(m_surface->backColor()));
    if (!m_surface->picture().isNull())
        p.drawImage(QRectF(QPointF(0, 0), QSizeF(m_surface->drawnSize()) / devicePixelRatioF()), m_surface->picture(),
                    m_surface->extent());
    if (!m_surface->message().isEmpty()) {
        // Black on the surface's own back colour (the classic window colours), as
        // the pictures are drawn: the same on every desktop theme.
        p.setPen(Qt::black);
        const int margin = fontMetrics().height() / 2;
        p.drawText(rect().adjusted(margin, margin, -margin, -margin), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                   m_surface->message());
    }
}

} // namespace kestrovia
