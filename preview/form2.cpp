#include "preview/form2.h"

#include "compose/surface.h"
#include "preview/surfaceview.h"

#include <QCloseEvent>
#include <QScreen>

#include <cmath>

namespace kestrovia {

namespace {
Surface *makeSurface(const QString &name, TwipsPerPixel tpp, QObject *parent)
{
    auto *s = new Surface(tpp, parent);
    s->setObjectName(name);
    return s;
}
} // namespace

Form2::Form2(TwipsPerPixel tpp, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_tpp(tpp)
    , m_picPreview(makeSurface(QStringLiteral("PicPreview"), tpp, this))
    , m_supportPicture(makeSurface(QStringLiteral("SupportPicture"), tpp, this))
    , m_completePicture(makeSurface(QStringLiteral("CompletePicture"), tpp, this))
    , m_picNormal(makeSurface(QStringLiteral("PicNormal"), tpp, this))
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Preview  "));
    m_picPreview->setGeometry(0, 0, 3135, 2865);
    m_picNormal->setAutoSize(true);
    m_picPreviewView = new SurfaceView(m_picPreview, this);
    m_picPreviewView->setObjectName(QStringLiteral("PicPreview"));
    resize(twipsToPixels(3150, tpp.x), twipsToPixels(2910, tpp.y));
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
    const QSize pixels(twipsToPixels(m_picPreview->width(), m_tpp.x), twipsToPixels(m_picPreview->height(), m_tpp.y));
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
    if (onResize)
        onResize();
}

void Form2::closeEvent(QCloseEvent *event)
{
    // The close box only hides the window: a double-click on the job list shows
    // it again with its surfaces intact. The main window closes it for good.
    event->accept();
}

} // namespace kestrovia
