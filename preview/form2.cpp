#include "preview/form2.h"

#include "platform/units.h"
#include "preview/surface.h"
#include "preview/surfaceview.h"
#include "preview/windowframe.h"

#include <QCloseEvent>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace kestrovia {

Form2::Form2(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_picPreview(new Surface(this))
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Preview  "));
    m_picPreview->setObjectName(QStringLiteral("PicPreview"));
    m_picPreview->setGeometry(0, 0, 3135, 2865);
    m_picPreviewView = new SurfaceView(m_picPreview, this);
    m_picPreviewView->setObjectName(QStringLiteral("PicPreview"));
    resize(twipsToPixels(3150), twipsToPixels(2910));
}

Form2::~Form2() = default;

QSize Form2::clientPixelSize() const
{
    const double ratio = devicePixelRatioF();
    return QSize(qRound(width() * ratio), qRound(height() * ratio));
}

void Form2::fitToPreviewArea()
{
    const double ratio = devicePixelRatioF();
    const QSize pixels = m_picPreview->pixelSize();
    // Qt sizes windows in whole logical units and makes them round(units x ratio)
    // device pixels wide; at a fractional ratio the unit below may be the one that
    // comes out exactly.
    const auto units = [ratio](int devicePixels) {
        const int below = int(std::floor(devicePixels / ratio));
        return qRound(below * ratio) == devicePixels ? below : int(std::ceil(devicePixels / ratio));
    };
    QSize logical(units(pixels.width()), units(pixels.height()));
    if (const QScreen *s = screen()) {
        // The frame is the window system's; before the window was first shown its
        // size is unknown, and a title bar's worth is kept free.
        const QMargins frame = isVisible() ? frameMargins(*this) : QMargins(8, 40, 8, 8);
        const QSize room = s->availableGeometry().size().shrunkBy(frame);
        logical = logical.boundedTo(room.expandedTo(QSize(1, 1)));
    }
    m_fitted = logical;
    resize(logical);
    keepOnScreen();
}

void Form2::keepOnScreen()
{
    const QScreen *s = screen();
    if (!s || !isVisible())
        return;
    const QRect frame = frameGeometry();
    const QPoint to = keptWithin(frame, s->availableGeometry()).topLeft();
    if (to != frame.topLeft())
        move(pos() + (to - frame.topLeft()));
}

bool Form2::showsFittedSize() const { return size() == m_fitted; }

void Form2::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // A hidden window's size is the program's; the resize that Qt delivers as it
    // first shows the window is that size arriving, not one the user chose.
    if (isVisible())
        emit resized();
}

void Form2::closeEvent(QCloseEvent *event)
{
    // The close box only hides the window: a double-click on the job list shows
    // it again as it was. The main window closes it for good.
    event->accept();
}

} // namespace kestrovia
