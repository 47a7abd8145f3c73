#include "app/colorswatch.h"

#include "platform/syscolor.h"

#include <QMouseEvent>
#include <QPainter>

namespace kestrovia {

ColorSwatch::ColorSwatch(QWidget *parent)
    : QFrame(parent)
    , m_value(kWindowBackgroundRef)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setCursor(Qt::PointingHandCursor);
}

void ColorSwatch::setColorValue(std::int32_t value)
{
    if (m_value == value)
        return;
    m_value = value;
    update();
}

void ColorSwatch::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    p.fillRect(contentsRect(), resolveColorValue(m_value));
    p.end();
    QFrame::paintEvent(event);
}

void ColorSwatch::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

} // namespace kestrovia
