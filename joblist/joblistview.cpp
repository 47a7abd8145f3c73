#include "joblist/joblistview.h"

#include "joblist/cellview.h"
#include "joblist/jobcolumns.h"
#include "joblist/jobdelegate.h"
#include "joblist/jobtable.h"
#include "platform/japanese.h"
#include "platform/syscolor.h"

#include <QContextMenuEvent>
#include <QDataStream>
#include <QDragEnterEvent>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QHeaderView>
#include <QMimeData>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace kestrovia {

namespace {

// Marks the bytes of headerState, so that anything else is refused.
constexpr quint32 kHeaderStateMagic = 0x4B4A4C48; // "KJLH"
constexpr quint32 kHeaderStateVersion = 1;

// A column grows with its rows only up to this many line heights, so that one long
// name or path does not push every other column out of sight; the cell's tooltip
// shows it whole.
constexpr int kLongTextLimitEm = 14;

// Stored texts whose readable form is as wide as a column's cells usually get.
QStringList typicalTexts(int col)
{
    switch (col) {
    case ColOriginalSize:
    case ColNewSize: return {QStringLiteral("10000*10000")};
    case ColFit: return {QStringLiteral("OFF"), QStringLiteral("ON")};
    case ColBackColor:
        return {QString::number(kWindowBackgroundRef), QStringLiteral("16777215"), QStringLiteral("11259375")};
    case ColPosition: return {QStringLiteral("Top"), QStringLiteral("Center")};
    case ColRotation: return {QStringLiteral("+180°"), QStringLiteral("-90°"), QString()};
    case ColCompression: return {QStringLiteral("10")};
    case ColMetadata: return {QStringLiteral("all"), QStringLiteral("nolocation"), QStringLiteral("none")};
    case ColSizeRule: return {QStringLiteral("original"), QStringLiteral("long 10000 shrink")};
    case ColFormat: return {QStringLiteral("webp alpha"), QStringLiteral("avif")};
    case ColNamePattern: return {QStringLiteral("{name}_{n:3}")};
    default: return {};
    }
}

bool keepsItsWidth(int col) { return col == ColArrow || col == ColReserved9 || col == ColReserved10; }

} // namespace

JobListView::JobListView(JobTable *table, QWidget *parent)
    : QTableView(parent)
    , m_table(table)
    , m_delegate(new JobDelegate(this))
    , m_userWidth(table->Cols(), false)
{
    setObjectName(QStringLiteral("PicsGalary"));
    setAccessibleName(ja("画像の一覧"));
    setModel(table);
    // The cells read as words and swatches; the table keeps its own texts.
    setItemDelegate(m_delegate);
    setSelectionModel(table->selectionModel());
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // Click, Shift/Ctrl+click, Ctrl+A and Shift+arrows select rows: the panel and
    // the row commands act on every selected row.
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
    // A width the user dragged stays: the view only ever widens the others.
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int col, int, int) {
        if (m_settingWidth == 0 && col >= 0 && col < m_userWidth.size())
            m_userWidth[col] = true;
    });
    connect(table, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { fitRowsLater(first, last, 0, m_table->Cols() - 1); });
    connect(table, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &from, const QModelIndex &to) {
        fitRowsLater(from.row(), to.row(), from.column(), to.column());
    });
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

void JobListView::resetColumnWidths()
{
    m_userWidth.fill(false);
    for (int c = 0; c < m_table->Cols(); ++c)
        applyColWidth(c, m_table->ColWidth(c));
}

void JobListView::applyColWidth(int col, int twips)
{
    setWidth(col, std::max(twipsToPixels(twips), typicalWidth(col)));
}

void JobListView::setWidth(int col, int pixels)
{
    ++m_settingWidth;
    setColumnWidth(col, pixels);
    --m_settingWidth;
}

int JobListView::typicalWidth(int col) const
{
    if (keepsItsWidth(col))
        return 0;
    int width = horizontalHeader()->sectionSizeHint(col);
    QStyleOptionViewItem base;
    initViewItemOption(&base);
    for (const QString &text : typicalTexts(col)) {
        QStyleOptionViewItem option = base;
        m_delegate->initCellOption(&option, col, text);
        width = std::max(width, style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).width());
    }
    return width + (showGrid() ? 1 : 0);
}

void JobListView::fitRowsLater(int first, int last, int firstCol, int lastCol)
{
    if (m_toFit) {
        m_toFit = Range{std::min(first, m_toFit->first), std::max(last, m_toFit->last),
                        std::min(firstCol, m_toFit->firstCol), std::max(lastCol, m_toFit->lastCol)};
        return;
    }
    m_toFit = Range{first, last, firstCol, lastCol};
    QTimer::singleShot(0, this, [this] {
        const Range r = *std::exchange(m_toFit, std::nullopt);
        fitRows(r.first, r.last, r.firstCol, r.lastCol);
    });
}

void JobListView::fitRows(int first, int last, int firstCol, int lastCol)
{
    // A large drop is measured by its first rows, as resizeColumnToContents
    // measures the rows in view. Rows removed meanwhile are not there to measure.
    first = std::max(first, 0);
    last = std::min({last, first + 999, m_table->rowCount() - 1});
    const int limit = kLongTextLimitEm * fontMetrics().height();
    // The text's own width plus what the style puts around it: measured once, as
    // the style's full measure costs too much for every cell of a large drop.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("0");
    const QFontMetrics &metrics = option.fontMetrics;
    const int padding = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).width()
                        - metrics.horizontalAdvance(option.text) + 1 + (showGrid() ? 1 : 0);
    for (int col = std::max(firstCol, 0); col <= std::min(lastCol, int(m_userWidth.size()) - 1); ++col) {
        // The colour column's names are few and measured at start (typicalWidth);
        // a rare long one is cut and told in full by the tooltip.
        if (m_userWidth[col] || keepsItsWidth(col) || col == ColBackColor)
            continue;
        int wanted = 0;
        for (int r = first; r <= last; ++r) {
            const QString stored = m_table->TextMatrix(r + 1, col);
            if (!stored.isEmpty())
                wanted = std::max(wanted, metrics.horizontalAdvance(cellView(col, stored).text));
        }
        wanted = std::min(wanted + padding, limit);
        if (wanted > columnWidth(col))
            setWidth(col, wanted);
    }
}

QByteArray JobListView::headerState() const
{
    QByteArray state;
    QDataStream out(&state, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << kHeaderStateMagic << kHeaderStateVersion << horizontalHeader()->saveState() << m_userWidth;
    return state;
}

bool JobListView::restoreHeaderState(const QByteArray &state)
{
    QDataStream in(state);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0;
    quint32 version = 0;
    QByteArray header;
    QList<bool> userWidth;
    in >> magic >> version >> header >> userWidth;
    if (in.status() != QDataStream::Ok || magic != kHeaderStateMagic || version != kHeaderStateVersion
        || userWidth.size() != m_userWidth.size())
        return false;
    ++m_settingWidth;
    const bool restored = horizontalHeader()->restoreState(header);
    --m_settingWidth;
    if (!restored)
        return false;
    m_userWidth = userWidth;
    // A larger font than last time still shows the undragged columns whole.
    for (int col = 0; col < m_userWidth.size(); ++col) {
        if (!m_userWidth[col] && columnWidth(col) < typicalWidth(col))
            setWidth(col, typicalWidth(col));
    }
    if (m_table->rowCount() > 0)
        fitRows(0, m_table->rowCount() - 1, 0, m_table->Cols() - 1);
    return true;
}

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
