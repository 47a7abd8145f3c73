#include "preview/form2.h"

#include "compose/surface.h"
#include "preview/surfaceview.h"

#include <QCloseEvent>
#include <QShowEvent>

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

int Form2::clientWidthTwips() const { return int(pixelsToTwips(width(), m_tpp.x)); }
int Form2::clientHeightTwips() const { return int(pixelsToTwips(height(), m_tpp.y)); }

void Form2::fitToPreviewArea()
{
    // The client area is the widget's own size here; the frame is the window system's.
    resize(twipsToPixels(m_picPreview->width(), m_tpp.x), twipsToPixels(m_picPreview->height(), m_tpp.y));
}

void Form2::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (onResize)
        onResize();
}

void Form2::placeFrameAt(const QPoint &p)
{
    m_framePos = p;
    move(p);
    if (isVisible())
        move(pos() + (p - frameGeometry().topLeft()));
}

void Form2::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_framePos) {
        move(pos() + (*m_framePos - frameGeometry().topLeft()));
        m_framePos.reset();
    }
}

void Form2::closeEvent(QCloseEvent *event)
{
    // The close box only hides the window: a double-click on the job list shows
    // it again with its surfaces intact. The main window closes it for good.
    event->accept();
}

} // namespace kestrovia
