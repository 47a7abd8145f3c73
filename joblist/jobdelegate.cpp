#include "joblist/jobdelegate.h"

#include "joblist/cellview.h"
#include "joblist/jobcolumns.h"
#include "platform/contrast.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include <cmath>

namespace kestrovia {

namespace {

// A swatch drawn at the screen's own pixel density, framed so that white shows on
// white. The selected row keeps the true colour: Qt would tint a selected icon.
QIcon swatchIcon(const QColor &colour, QSize size, qreal dpr)
{
    QPixmap pm(QSize(int(std::ceil(size.width() * dpr)), int(std::ceil(size.height() * dpr))));
    pm.setDevicePixelRatio(dpr);
    pm.fill(colour);
    QPainter p(&pm);
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.drawRect(QRectF(QPointF(0, 0), QSizeF(size)).adjusted(0.5, 0.5, -0.5, -0.5));
    p.end();
    QIcon icon;
    icon.addPixmap(pm, QIcon::Normal);
    icon.addPixmap(pm, QIcon::Selected);
    return icon;
}

void applyCellView(QStyleOptionViewItem *option, int column, const QString &stored)
{
    const CellView view = cellView(column, stored);
    option->text = view.text;
    if (view.swatch.isValid()) {
        const int side = std::max(8, option->fontMetrics.ascent());
        option->features |= QStyleOptionViewItem::HasDecoration;
        option->decorationSize = QSize(side, side);
        option->decorationPosition = QStyleOptionViewItem::Left;
        option->icon =
            swatchIcon(view.swatch, option->decorationSize, option->widget ? option->widget->devicePixelRatioF() : 1.0);
    }
    // A path says most at its two ends: the top folder and the file's own name.
    if (column == ColPath || column == ColSaveFolder)
        option->textElideMode = Qt::ElideMiddle;
    // A row that cannot be converted as it stands shows it before the run does,
    // in red that reads on the row (selected or not) and with a mark that does
    // not depend on colour; the tooltip says why.
    if (view.problem) {
        option->text = u'⚠' + option->text;
        const bool selected = option->state & QStyle::State_Selected;
        const QPalette::ColorRole back = selected ? QPalette::Highlight : QPalette::Base;
        const QPalette::ColorRole text = selected ? QPalette::HighlightedText : QPalette::Text;
        option->palette.setColor(text, readableRed(option->palette.color(back)));
    }
}

} // namespace

void JobDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    applyCellView(option, index.column(), index.data(Qt::DisplayRole).toString());
}

void JobDelegate::initCellOption(QStyleOptionViewItem *option, int column, const QString &stored) const
{
    option->features |= QStyleOptionViewItem::HasDisplay;
    applyCellView(option, column, stored);
}

bool JobDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                            const QModelIndex &index)
{
    if (!event || !view || event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QStyleOptionViewItem shown = option;
    initStyleOption(&shown, index);
    QString tip = cellView(index.column(), index.data(Qt::DisplayRole).toString()).toolTip;
    if (sizeHint(option, index).width() > option.rect.width() && !shown.text.isEmpty())
        tip = tip.isEmpty() ? shown.text : shown.text + u'\n' + tip;
    // An empty text takes away a tooltip that another cell left.
    QToolTip::showText(event->globalPos(), tip, view->viewport(), option.rect);
    return true;
}

} // namespace kestrovia
