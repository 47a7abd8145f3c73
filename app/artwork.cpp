#include "app/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace kestrovia {

namespace {

const QColor kDusk(0x1f, 0x3b, 0x5c);
const QColor kAmber(0xf0, 0xa2, 0x3a);
const QColor kCream(0xfb, 0xf3, 0xe4);

// A stylised kestrel wing over a horizon: two swept strokes in a rounded square.
void drawEmblem(QPainter &p, const QRectF &r)
{
    QLinearGradient sky(r.topLeft(), r.bottomLeft());
    sky.setColorAt(0, kDusk.lighter(130));
    sky.setColorAt(1, kDusk);
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(r, r.width() * 0.18, r.height() * 0.18);

    const double w = r.width(), h = r.height();
    QPainterPath wing;
    wing.moveTo(r.left() + 0.14 * w, r.top() + 0.62 * h);
    wing.cubicTo(r.left() + 0.38 * w, r.top() + 0.20 * h, r.left() + 0.70 * w, r.top() + 0.16 * h, r.left() + 0.88 * w,
                 r.top() + 0.26 * h);
    wing.cubicTo(r.left() + 0.66 * w, r.top() + 0.32 * h, r.left() + 0.50 * w, r.top() + 0.46 * h, r.left() + 0.44 * w,
                 r.top() + 0.70 * h);
    wing.closeSubpath();
    p.setBrush(kAmber);
    p.drawPath(wing);

    p.setBrush(kCream);
    p.drawRect(QRectF(r.left() + 0.14 * w, r.top() + 0.76 * h, 0.72 * w, 0.07 * h));
}

} // namespace

void paintIcon(QPainter &painter, int size)
{
    painter.setRenderHint(QPainter::Antialiasing);
    drawEmblem(painter, QRectF(0.5, 0.5, size - 1, size - 1));
}

QPixmap iconPixmap(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    paintIcon(p, size);
    return pm;
}

QIcon programIcon()
{
    QIcon icon;
    for (int s : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(iconPixmap(s));
    return icon;
}

QPixmap bannerPixmap()
{
    QPixmap pm(280, 40);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient bg(0, 0, 280, 0);
    bg.setColorAt(0, kDusk);
    bg.setColorAt(1, kDusk.lighter(160));
    p.fillRect(pm.rect(), bg);
    drawEmblem(p, QRectF(5, 4, 32, 32));

    QFont title(QStringLiteral("DejaVu Sans"), 1);
    title.setPixelSize(20);
    title.setBold(true);
    title.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    p.setFont(title);
    p.setPen(kCream);
    p.drawText(QRectF(46, 2, 230, 26), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Kestrovia"));
    QFont sub(QStringLiteral("DejaVu Sans"), 1);
    sub.setPixelSize(9);
    p.setFont(sub);
    p.setPen(kAmber);
    p.drawText(QRectF(47, 25, 230, 12), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("batch resize · recompose · JPEG"));
    return pm;
}

} // namespace kestrovia
