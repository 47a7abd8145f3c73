#include "app/levelbar.h"

#include <QPainter>

namespace kestrovia {

void LevelBar::paintEvent(QPaintEvent *event)
{
    QScrollBar::paintEvent(event);
    if (!hasFocus())
        return;
    // The palette's highlight, as other controls mark their focus.
    QPainter p(this);
    p.setPen(QPen(palette().color(QPalette::Highlight), 2));
    p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
}

} // namespace kestrovia
