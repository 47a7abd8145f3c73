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
    if (!m_surface->picture().isNull()) {
        const QRectF drawn(QPointF(0, 0), QSizeF(m_surface->drawnSize()) / devicePixelRatioF());
        // A canvas that keeps its transparency shows it as image editors do: over
        // a grey checkerboard, not over the background colour it will not have.
        if (m_surface->picture().hasAlphaChannel()) {
            const int cell = 8;
            QImage tile(2 * cell, 2 * cell, QImage::Format_RGB32);
            tile.fill(QColor(255, 255, 255));
            for (int y = 0; y < 2 * cell; ++y)
                for (int x = 0; x < 2 * cell; ++x)
                    if ((x < cell) != (y < cell))
                        tile.setPixel(x, y, qRgb(204, 204, 204));
            p.fillRect(drawn, QBrush(tile));
        }
        p.drawImage(drawn, m_surface->picture(), m_surface->extent());
    }
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
