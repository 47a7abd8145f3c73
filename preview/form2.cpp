#include "preview/form2.h"

#include "platform/units.h"
#include "preview/surface.h"
#include "preview/surfaceview.h"

#include <QCloseEvent>
#include <QScreen>

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
    QSize logical(int(std::ceil(pixels.width() / ratio)), int(std::ceil(pixels.height() / ratio)));
    if (const QScreen *s = screen()) {
        // The frame is the window system's; before the window was first shown its
        // size is unknown, and a title bar's worth is kept free.
        const QMargins frame = isVisible() ? QMargins(geometry().left() - frameGeometry().left(),
                                                      geometry().top() - frameGeometry().top(),
                                                      frameGeometry().right() - geometry().right(),
                                                      frameGeometry().bottom() - geometry().bottom())
                                           : QMargins(8, 40, 8, 8);
        const QSize room = s->availableGeometry().size().shrunkBy(frame);
        logical = logical.boundedTo(room.expandedTo(QSize(1, 1)));
    }
    m_fitted = logical;
    resize(logical);
}

bool Form2::showsFittedSize() const { return size() == m_fitted; }

void Form2::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    emit resized();
}

void Form2::closeEvent(QCloseEvent *event)
{
    // The close box only hides the window: a double-click on the job list shows
    // it again as it was. The main window closes it for good.
    event->accept();
}

} // namespace kestrovia
