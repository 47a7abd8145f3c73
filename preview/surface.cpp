#include "preview/surface.h"

#include "platform/syscolor.h"
#include "platform/units.h"

#include <algorithm>

namespace kestrovia {

Surface::Surface(QObject *parent)
    : QObject(parent)
    , m_backColor(kWindowBackgroundRef)
{
}

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
    emit geometryChanged();
}

void Surface::resize(int widthTwips, int heightTwips) { setGeometry(m_left, m_top, widthTwips, heightTwips); }

QSize Surface::pixelSize() const { return QSize(twipsToPixels(m_width), twipsToPixels(m_height)); }

void Surface::setBackColor(std::int32_t colorValue)
{
    m_backColor = colorValue;
    emit changed();
}

void Surface::setPicture(const QImage &image, const QRectF &extent)
{
    m_picture = image;
    m_extent = extent.isEmpty() ? QRectF(image.rect()) : extent;
    m_drawnSize = pixelSize();
    m_message.clear();
    emit changed();
}

void Surface::setMessage(const QString &text)
{
    m_picture = QImage();
    m_extent = QRectF();
    m_drawnSize = QSize();
    m_message = text;
    emit changed();
}

} // namespace kestrovia
