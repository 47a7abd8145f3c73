#include "joblist/jobtable.h"

#include "joblist/cellview.h"
#include "joblist/jobcolumns.h"
#include "platform/japanese.h"
#include "platform/numbers.h"

#include <QItemSelectionModel>
#include <QTimer>
#include <algorithm>

namespace kestrovia {

JobTable::JobTable(QObject *parent)
    : QAbstractTableModel(parent)
    , m_cells{QStringList(JobColumnCount)}
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
            m_cells.append(QStringList(JobColumnCount));
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
    if (!isJobRow(r))
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
    if (Row() == 0 || !isJobRow(r))
        return;
    m_rowSel = r;
    // The block a sort works on is highlighted, as the grid shows it after a sort.
    ++m_quiet;
    m_selection->select(QItemSelection(index(std::min(Row(), r) - 1, 0), index(std::max(Row(), r) - 1, 0)),
                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    --m_quiet;
    m_lastEmitted = selectionState();
}

QList<int> JobTable::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &i : m_selection->selectedRows())
        rows.append(i.row() + 1);
    std::sort(rows.begin(), rows.end());
    return rows;
}

void JobTable::selectRows(const QList<int> &rows, int current)
{
    QItemSelection selection;
    int first = 0;
    for (const int r : rows) {
        if (!isJobRow(r))
            continue;
        selection.select(index(r - 1, 0), index(r - 1, 0));
        if (first == 0)
            first = r;
        if (r == current)
            first = current;
    }
    if (first == 0)
        return;
    ++m_quiet;
    m_selection->setCurrentIndex(index(first - 1, 0), QItemSelectionModel::NoUpdate);
    m_selection->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_rowSel = first;
    --m_quiet;
    emitSelChangeIfMoved();
}

QString JobTable::TextMatrix(int row, int col) const
{
    if (row < 0 || row >= Rows() || col < 0 || col >= JobColumnCount)
        return {};
    return m_cells[row][col];
}

void JobTable::setTextMatrix(int row, int col, const QString &text)
{
    if (row < 0 || row >= Rows() || col < 0 || col >= JobColumnCount)
        return;
    if (m_cells[row][col] == text)
        return;
    m_cells[row][col] = text;
    if (row == 0) {
        emit headerDataChanged(Qt::Horizontal, col, col);
    } else {
        const QModelIndex i = index(row - 1, col);
        emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole, Qt::AccessibleTextRole, Qt::AccessibleDescriptionRole});
    }
}

JobRow JobTable::jobRow(int row) const
{
    JobRow job;
    if (!isJobRow(row))
        return job;
    for (int col = 0; col < JobColumnCount; ++col)
        job.setCell(col, m_cells[row][col]);
    return job;
}

void JobTable::appendJob(const JobRow &job)
{
    const int r = Rows();
    beginInsertRows({}, r - 1, r - 1);
    QStringList cells(JobColumnCount);
    for (int col = 0; col < JobColumnCount; ++col)
        cells[col] = job.cell(col);
    cells[ColArrow] = celltext::Arrow.toString();
    m_cells.append(cells);
    endInsertRows();
}

void JobTable::setJobRow(int r, const JobRow &job)
{
    if (!isJobRow(r))
        return;
    for (int col = 0; col < JobColumnCount; ++col) {
        // The arrow and the reserved columns are the table's own.
        if (JobRow::holds(col))
            setTextMatrix(r, col, job.cell(col));
    }
}

void JobTable::setRowField(int r, RowField field, const RowSettings &settings)
{
    if (!isJobRow(r))
        return;
    JobRow job = jobRow(r);
    writeRowField(job, field, settings);
    setJobRow(r, job);
}

void JobTable::setPictureSize(int r, QSize picture)
{
    if (!isJobRow(r) || picture.isEmpty())
        return;
    JobRow job = jobRow(r);
    job.originalSize = sizeText(picture);
    settleNewSize(job);
    // A row without a rule that was never given a size takes the picture's own.
    if (job.newSize.isEmpty())
        job.newSize = job.originalSize;
    setJobRow(r, job);
}

int JobTable::ColWidth(int col) const { return col >= 0 && col < JobColumnCount ? m_colWidths[col] : 0; }

void JobTable::setColWidth(int col, int twips)
{
    if (col < 0 || col >= JobColumnCount)
        return;
    m_colWidths[col] = twips;
    emit colWidthChanged(col, twips);
}

QStringList JobTable::rowCells(int row) const { return isJobRow(row) ? m_cells[row] : QStringList(); }

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
        r.resize(JobColumnCount);
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
    if (!isJobRow(row))
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

void JobTable::removeRows(const QList<int> &rows)
{
    QList<int> gone;
    for (const int r : rows) {
        if (isJobRow(r) && !gone.contains(r))
            gone.append(r);
    }
    if (gone.isEmpty())
        return;
    std::sort(gone.begin(), gone.end());
    ++m_quiet;
    // From the bottom up, so that the numbers still to remove stay right; one
    // removal for each run of neighbours.
    for (qsizetype i = gone.size() - 1; i >= 0;) {
        qsizetype first = i;
        while (first > 0 && gone[first - 1] == gone[first] - 1)
            --first;
        beginRemoveRows({}, gone[first] - 1, gone[i] - 1);
        m_cells.remove(gone[first], gone[i] - gone[first] + 1);
        endRemoveRows();
        i = first - 1;
    }
    if (Rows() > 1) {
        const int keep = std::min(gone.first(), Rows() - 1);
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
    if (orientation == Qt::Vertical)
        return role == Qt::DisplayRole || role == Qt::AccessibleTextRole ? QVariant(section + 1) : QVariant();
    if (section < 0 || section >= JobColumnCount)
        return {};
    const QString &caption = m_cells[0][section];
    if (role == Qt::DisplayRole)
        return caption;
    if (role != Qt::AccessibleTextRole)
        return {};
    // A screen reader names every column, also those whose caption is empty.
    if (!caption.isEmpty())
        return caption;
    switch (section) {
    case ColArrow: return ja("元サイズから新サイズへ");
    case ColReserved9: return ja("予備 1");
    case ColReserved10: return ja("予備 2");
    default: return ja("列 %1").arg(section + 1);
    }
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
