#include "preview/windowframe.h"

#include <QWidget>

#include <algorithm>

namespace kestrovia {

QMargins frameMargins(const QWidget &w)
{
    const QRect inner = w.geometry(), outer = w.frameGeometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                    outer.bottom() - inner.bottom());
}

QRect keptWithin(QRect frame, const QRect &room)
{
    frame.moveLeft(std::max(room.left(), std::min(frame.left(), room.right() + 1 - frame.width())));
    frame.moveTop(std::max(room.top(), std::min(frame.top(), room.bottom() + 1 - frame.height())));
    return frame;
}

} // namespace kestrovia
