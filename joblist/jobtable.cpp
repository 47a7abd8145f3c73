#include "joblist/jobtable.h"

#include "joblist/cellview.h"
#include "joblist/jobcolumns.h"
#include "platform/numbers.h"

#include <QItemSelectionModel>
#include <QTimer>
#include <algorithm>

namespace kestrovia {

JobTable::JobTable(QObject *parent)
    : QAbstractTableModel(parent)
    , m_cells{QStringList(StoredColumnCount)}
    , m_colWidths(JobColumnCount, 0)
    , m_selection(new QItemSelectionModel(this, this))
{
    connect(m_selection, &QItemSelectionModel::currentRowChanged, this, [this] {
        if (m_quiet == 0)
            m_rowSel = Row();
        selectionMoved();
    });
    connect(m_selection, &QItemSelectionModel::selectionChanged, this, [this] { selectionMoved(); });
}

QItemSelectionModel *JobTable::selectionModel() const { return m_selection; }

int JobTable::Rows() const { return int(m_cells.size()); }

void JobTable::setRows(int rows)
{
    rows = std::max(rows, 1);
    const int old = Rows();
    if (rows > old) {
        beginInsertRows({}, old - 1, rows - 2);
        while (m_cells.size() < rows)
            m_cells.append(QStringList(StoredColumnCount));
        endInsertRows();
    } else if (rows < old) {
        ++m_quiet;
        beginRemoveRows({}, rows - 1, old - 2);
        m_cells.resize(rows);
        endRemoveRows();
        --m_quiet;
        m_lastEmitted = selectionState();
    }
}

int JobTable::Cols() const { return JobColumnCount; }

int JobTable::Row() const
{
    const QModelIndex current = m_selection->currentIndex();
    return current.isValid() ? current.row() + 1 : 0;
}

void JobTable::setRow(int r)
{
    if (r < 1 || r >= Rows())
        return;
    ++m_quiet;
    m_selection->setCurrentIndex(index(r - 1, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_rowSel = r;
    --m_quiet;
    emitSelChangeIfMoved();
}

int JobTable::RowSel() const { return Row() == 0 ? 0 : m_rowSel; }

void JobTable::setRowSel(int r)
{
    if (Row() == 0 || r < 1 || r >= Rows())
        return;
    // Only the far end of the sort's range: the grid never highlights a block,
    // since no command acts on one.
    m_rowSel = r;
    m_lastEmitted = selectionState();
}

QString JobTable::TextMatrix(int row, int col) const
{
    if (row < 0 || row >= Rows() || col < 0 || col >= StoredColumnCount)
        return {};
    return m_cells[row][col];
}

void JobTable::setTextMatrix(int row, int col, const QString &text)
{
    if (row < 0 || row >= Rows() || col < 0 || col >= StoredColumnCount || (row == 0 && col >= JobColumnCount))
        return;
    if (m_cells[row][col] == text)
        return;
    m_cells[row][col] = text;
    if (row == 0) {
        emit headerDataChanged(Qt::Horizontal, col, col);
    } else if (col < JobColumnCount) {
        const QModelIndex i = index(row - 1, col);
        emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole, Qt::AccessibleTextRole, Qt::AccessibleDescriptionRole});
    }
}

JobRow JobTable::jobRow(int row) const
{
    if (row < 1 || row >= Rows())
        return {};
    const QStringList &c = m_cells[row];
    return {c[ColFileName],
            c[ColOriginalSize],
            c[ColPath],
            c[ColNewSize],
            c[ColFit],
            c[ColBackColor],
            c[ColPosition],
            c[ColRotation],
            c[ColSaveFolder],
            c[ColCompression],
            metadataChoiceOf(c[ColMetadata])};
}

void JobTable::appendJob(const JobRow &job)
{
    const int r = Rows();
    beginInsertRows({}, r - 1, r - 1);
    QStringList cells(StoredColumnCount);
    cells[ColFileName] = job.fileName;
    cells[ColOriginalSize] = job.originalSize;
    cells[ColPath] = job.path;
    cells[ColArrow] = celltext::Arrow.toString();
    cells[ColNewSize] = job.newSize;
    cells[ColFit] = job.fit;
    cells[ColBackColor] = job.backColor;
    cells[ColPosition] = job.position;
    cells[ColRotation] = job.rotation;
    cells[ColSaveFolder] = job.saveFolder;
    cells[ColCompression] = job.compression;
    cells[ColMetadata] = metadataText(job.metadata).toString();
    m_cells.append(cells);
    endInsertRows();
}

int JobTable::ColWidth(int col) const { return col >= 0 && col < JobColumnCount ? m_colWidths[col] : 0; }

void JobTable::setColWidth(int col, int twips)
{
    if (col < 0 || col >= JobColumnCount)
        return;
    m_colWidths[col] = twips;
    emit colWidthChanged(col, twips);
}

QStringList JobTable::rowCells(int row) const { return row >= 1 && row < Rows() ? m_cells[row] : QStringList(); }

void JobTable::insertRowCells(int row, const QList<QStringList> &rows)
{
    if (rows.isEmpty())
        return;
    row = std::clamp(row, 1, Rows());
    ++m_quiet;
    beginInsertRows({}, row - 1, row - 2 + int(rows.size()));
    QList<QStringList> cells = m_cells.first(row);
    cells.reserve(m_cells.size() + rows.size());
    for (QStringList r : rows) {
        r.resize(StoredColumnCount);
        cells.append(r);
    }
    cells.append(m_cells.sliced(row));
    m_cells = std::move(cells);
    endInsertRows();
    m_rowSel = Row();
    --m_quiet;
    m_lastEmitted = selectionState();
}

void JobTable::RemoveItem(int row)
{
    if (row < 1 || row >= Rows())
        return;
    const int current = Row();
    ++m_quiet;
    beginRemoveRows({}, row - 1, row - 1);
    m_cells.removeAt(row);
    endRemoveRows();
    // The current row keeps its number (the next job moves into it); only when
    // the last row went does it step back one.
    if (current == row && Rows() > 1) {
        const int keep = std::min(current, Rows() - 1);
        m_selection->setCurrentIndex(index(keep - 1, 0),
                                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    m_rowSel = Row();
    --m_quiet;
    m_lastEmitted = selectionState();
}

int JobTable::genericCompare(const QString &a, const QString &b)
{
    const auto na = parseDecimal(a);
    const auto nb = parseDecimal(b);
    if (na && nb)
        return *na < *nb ? -1 : (*na > *nb ? 1 : 0);
    // Text: letter case decides only between otherwise equal names.
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c : QString::compare(a, b, Qt::CaseSensitive);
}

void JobTable::setSort(int code)
{
    if (code != 1 && code != 2)
        return;
    int first = Row();
    int last = RowSel();
    if (first == 0 || first == last) {
        first = 1;
        last = Rows() - 1;
    }
    if (Rows() < 3)
        return;
    if (first > last)
        std::swap(first, last);

    // Row numbers stay put: the persistent indexes (current row, highlighted
    // block) are deliberately not remapped, so the current row keeps its number.
    ++m_quiet;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const bool descending = code == 2;
    std::stable_sort(m_cells.begin() + first, m_cells.begin() + last + 1,
                     [descending](const QStringList &x, const QStringList &y) {
                         const int c = genericCompare(x[ColFileName], y[ColFileName]);
                         return descending ? c > 0 : c < 0;
                     });
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    --m_quiet;
    m_lastEmitted = selectionState();
}

int JobTable::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : Rows() - 1; }

int JobTable::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : JobColumnCount; }

QVariant JobTable::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const QString &text = m_cells[index.row() + 1][index.column()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: return text;
    // A screen reader reads what the list shows (the view's delegate draws the
    // same), not the stored text.
    case Qt::AccessibleTextRole: return cellView(index.column(), text).text;
    case Qt::AccessibleDescriptionRole: return cellView(index.column(), text).toolTip;
    default: return {};
    }
}

QVariant JobTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < JobColumnCount ? QVariant(m_cells[0][section]) : QVariant();
    return section + 1;
}

Qt::ItemFlags JobTable::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
}

Qt::DropActions JobTable::supportedDropActions() const { return Qt::CopyAction | Qt::MoveAction | Qt::LinkAction; }

JobTable::SelectionState JobTable::selectionState() const
{
    SelectionState s;
    s.row = Row();
    s.rowSel = RowSel();
    for (const QModelIndex &i : m_selection->selectedRows())
        s.block.append(i.row() + 1);
    std::sort(s.block.begin(), s.block.end());
    return s;
}

void JobTable::selectionMoved()
{
    if (m_quiet > 0 || m_checkQueued)
        return;
    // A click moves the current index and the selection in two steps; look once
    // both have happened so that one gesture raises one SelChange.
    m_checkQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_checkQueued = false;
        emitSelChangeIfMoved();
    });
}

void JobTable::emitSelChangeIfMoved()
{
    const SelectionState now = selectionState();
    if (now == m_lastEmitted)
        return;
    m_lastEmitted = now;
    emit SelChange();
}

} // namespace kestrovia
