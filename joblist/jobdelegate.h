#pragma once
// Draws the job list's cells in their readable form (cellView): words, sizes as
// "1600 × 1200", the background colour as a swatch with its name. Only the drawing
// changes; the model's texts stay the job table's.

#include <QStyledItemDelegate>

namespace kestrovia {

class JobDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The option for a cell holding stored in column, as the list draws it (e.g.
    // to measure a typical value before any row holds it).
    void initCellOption(QStyleOptionViewItem *option, int column, const QString &stored) const;

    // Shows the cell's tooltip: why it reads as it does, or the whole text where
    // the column cuts it.
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};

} // namespace kestrovia
