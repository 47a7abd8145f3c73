#include "joblist/joblistview.h"

#include "joblist/jobtable.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QHeaderView>
#include <QMimeData>

#include <algorithm>

namespace kestrovia {

JobListView::JobListView(JobTable *table, QWidget *parent)
    : QTableView(parent)
    , m_table(table)
{
    setObjectName(QStringLiteral("PicsGalary"));
    setModel(table);
    setSelectionModel(table->selectionModel());
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the grid for the panel and the button; the arrow keys move within it.
    setTabKeyNavigation(false);
    setFont(gridFont());
    setWordWrap(false);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DropOnly);
    verticalHeader()->setVisible(false);
    verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 4);
    horizontalHeader()->setFont(font());
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->viewport()->installEventFilter(this);
    // Files dropped on the header row are as welcome as anywhere else on the grid.
    horizontalHeader()->viewport()->setAcceptDrops(true);
    connect(table, &JobTable::colWidthChanged, this, &JobListView::applyColWidth);
    for (int c = 0; c < table->Cols(); ++c)
        applyColWidth(c, table->ColWidth(c));
}

QFont JobListView::gridFont()
{
    const QStringList families = QFontDatabase::families();
    QString family = QStringLiteral("IPAPGothic");
    for (const QString &candidate : {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                                     QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")}) {
        if (families.contains(candidate)) {
            family = candidate;
            break;
        }
    }
    QFont f(family, 9);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

void JobListView::applyColWidth(int col, int twips) { setColumnWidth(col, twipsToPixels(twips)); }

void JobListView::focusInEvent(QFocusEvent *event)
{
    // Qt's view makes its first row current when it gains focus without one, for
    // any reason but a click. Its window coming back to the front (a click on 処理実行
    // right after a drop from the file manager) would then show that row, unasked,
    // as the batch starts. Only Tab into the list picks a row; the arrows do too.
    const Qt::FocusReason reason = event->reason();
    if (!currentIndex().isValid() && reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason) {
        QFocusEvent asByMouse(QEvent::FocusIn, Qt::MouseFocusReason);
        QTableView::focusInEvent(&asByMouse);
        return;
    }
    QTableView::focusInEvent(event);
}

void JobListView::keyPressEvent(QKeyEvent *event)
{
    emit KeyDown(event->key(), event->modifiers());
    // What the mouse does with a double click and the right button, the keyboard
    // does with Enter and the Menu key or Shift+F10.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit DblClick();
        return;
    }
    if (event->key() == Qt::Key_Menu || (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        // Near the left end of the current row, whatever width its columns have.
        const QModelIndex current = currentIndex();
        const QPoint at(std::min(viewport()->width() / 2, 2 * fontMetrics().height()),
                        current.isValid() ? rowViewportPosition(current.row()) + rowHeight(current.row()) / 2 : 0);
        emit MenuKey(viewport()->mapToGlobal(at));
        return;
    }
    QTableView::keyPressEvent(event);
}

void JobListView::contextMenuEvent(QContextMenuEvent *event)
{
    // The right button opens the menu through MouseDown; the keyboard's context-menu
    // event (the Menu key on some platforms) is handled in keyPressEvent.
    event->accept();
}

void JobListView::mousePressEvent(QMouseEvent *event)
{
    emit MouseDown(event->buttons(), event->globalPosition().toPoint());
    // The right button only opens the popup menu: it must not move the current row.
    if (event->button() == Qt::RightButton)
        return;
    QTableView::mousePressEvent(event);
}

void JobListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit DblClick();
}

void JobListView::dragEnterEvent(QDragEnterEvent *event) { event->acceptProposedAction(); }

void JobListView::dragMoveEvent(QDragMoveEvent *event) { event->acceptProposedAction(); }

void JobListView::dropEvent(QDropEvent *event)
{
    event->acceptProposedAction();
    emit OLEDragDrop(event->mimeData());
}

bool JobListView::eventFilter(QObject *watched, QEvent *event)
{
    // The header row belongs to the grid too: a right click or double click there
    // means the same as anywhere else on the grid.
    if (watched == horizontalHeader()->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            auto *me = static_cast<QMouseEvent *>(event);
            emit MouseDown(me->buttons(), me->globalPosition().toPoint());
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            auto *me = static_cast<QMouseEvent *>(event);
            if (me->button() == Qt::LeftButton)
                emit DblClick();
        } else if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            static_cast<QDragMoveEvent *>(event)->acceptProposedAction();
            return true;
        } else if (event->type() == QEvent::Drop) {
            auto *drop = static_cast<QDropEvent *>(event);
            drop->acceptProposedAction();
            emit OLEDragDrop(drop->mimeData());
            return true;
        }
    }
    return QTableView::eventFilter(watched, event);
}

} // namespace kestrovia
