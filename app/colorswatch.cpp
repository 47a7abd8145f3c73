#include "app/colorswatch.h"

#include "platform/japanese.h"
#include "platform/syscolor.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace kestrovia {

ColorSwatch::ColorSwatch(QWidget *parent)
    : QFrame(parent)
    , m_value(kWindowBackgroundRef)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setCursor(Qt::PointingHandCursor);
    // Reachable with Tab and opened with Space or Enter, as a button is.
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(ja("背景色"));
}

void ColorSwatch::setColorValue(std::int32_t value)
{
    if (m_value == value && !m_mixed)
        return;
    m_value = value;
    m_mixed = false;
    setAccessibleDescription(QString());
    update();
}

void ColorSwatch::setMixed(bool mixed)
{
    if (m_mixed == mixed)
        return;
    m_mixed = mixed;
    setAccessibleDescription(mixed ? ja("複数の値") : QString());
    update();
}

void ColorSwatch::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    p.fillRect(contentsRect(), resolveColorValue(m_value));
    if (m_mixed) {
        // Hatched in the text colour on the window colour: reads on any colour
        // under it, light or dark.
        p.fillRect(contentsRect(), palette().color(QPalette::Window));
        p.fillRect(contentsRect(), QBrush(palette().color(QPalette::WindowText), Qt::BDiagPattern));
    }
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = contentsRect().adjusted(1, 1, -1, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }
    p.end();
    QFrame::paintEvent(event);
}

void ColorSwatch::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        emit clicked();
    else
        QFrame::keyPressEvent(event);
}

void ColorSwatch::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

} // namespace kestrovia
