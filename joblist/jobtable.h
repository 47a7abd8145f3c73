#pragma once
// The job table: the one store of queued pictures and their per-row settings.
//
// It offers the grid's property names as its API (Rows, Cols, Row, RowSel,
// TextMatrix, ColWidth, RemoveItem, Sort) and works without a window. Row numbers
// are grid numbers: row 0 is the header row, rows 1..Rows()-1 are job rows. The
// Qt model below exposes only the job rows (model row i is grid row i + 1); the
// header row is the view's horizontal header, so it can never be selected,
// sorted or removed.

#include "compose/jobrow.h"

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

class QItemSelectionModel;

namespace kestrovia {

class JobTable : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit JobTable(QObject *parent = nullptr);

    // The selection lives here so that the table's commands run without a view; a
    // view shares it. Every command of the panel and the list acts on the selected
    // rows; the current row is the one the panel and the preview show.
    QItemSelectionModel *selectionModel() const;

    int Rows() const;
    // Appends rows whose cells are all "" or drops rows from the end; never below 1.
    void setRows(int rows);
    int Cols() const;
    // Whether r is a job row (1..Rows()-1): the header row and rows past the end
    // are not.
    bool isJobRow(int r) const { return r >= 1 && r < Rows(); }

    // The current row; 0 while no job row is current (empty table or nothing picked).
    int Row() const;
    // Makes job row r current and the only selected row; raises SelChange.
    void setRow(int r);
    // The far end of the range Sort works on (Row() itself unless set). Setting it
    // selects the rows from Row() to r, as a sort leaves them highlighted; raises
    // no SelChange.
    int RowSel() const;
    void setRowSel(int r);

    // The selected job rows, ascending (grid numbers); none while nothing is selected.
    QList<int> selectedRows() const;
    // Selects rows (grid numbers; others ignored) and makes current the job row
    // current, or the first of rows when current is not one of them. Raises SelChange.
    void selectRows(const QList<int> &rows, int current = 0);

    QString TextMatrix(int row, int col) const;
    // Out-of-range cells are ignored. Row 0 is the header row.
    void setTextMatrix(int row, int col, const QString &text);

    // The texts of job row r as a value; an empty JobRow outside the job rows.
    JobRow jobRow(int row) const;
    // Appends a job row holding job's texts (ColArrow "→", the reserved columns "").
    void appendJob(const JobRow &job);
    // Writes the cells of job row r that differ from job's texts.
    void setJobRow(int r, const JobRow &job);
    // Sets field of job row r from settings (writeRowField: a field that decides the
    // size works the row's new size out again).
    void setRowField(int r, RowField field, const RowSettings &settings);
    // Job row r's picture has this upright size (from its header): ColOriginalSize,
    // and ColNewSize from the row's rule, or the picture's own size while it has none.
    void setPictureSize(int r, QSize picture);

    // Column display width in twips.
    int ColWidth(int col) const;
    void setColWidth(int col, int twips);

    // Job row r's cell texts, one per column; empty outside the job rows.
    QStringList rowCells(int row) const;
    // Inserts job rows holding these cells (missing cells are "") so that the first
    // becomes row `row` (clamped to 1..Rows(), Rows() appending); the rows from
    // there move down. One insertion; the current row stays on its job, under its
    // new number. Raises no SelChange.
    void insertRowCells(int row, const QList<QStringList> &rows);

    // Deletes one job row; the rows below move up. Row 0 is never removed.
    // The current row keeps its number where it still exists. Raises no SelChange.
    void RemoveItem(int row);
    // Deletes these job rows. The job that took the first one's place (or the new
    // last row) becomes current and selected. Raises no SelChange.
    void removeRows(const QList<int> &rows);

    // 1 = generic ascending, 2 = generic descending; other codes do nothing.
    // Sorts the rows from Row() to RowSel(), or every job row when they are the
    // same row, by ColFileName. Two cells that are both numbers compare as numbers,
    // otherwise as text; equal names keep their previous order. Whole rows move;
    // the current row keeps its row number. Raises no SelChange.
    void setSort(int code);

    // Generic order of two cell texts: negative, zero or positive.
    static int genericCompare(const QString &a, const QString &b);

    // QAbstractItemModel. Display and edit data are the cells' texts; the accessible
    // text and description are their readable form (cellView). Every header has an
    // accessible name, the columns without a caption included.
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    Qt::DropActions supportedDropActions() const override;

signals:
    // The current row or the highlighted block changed (mouse, keyboard or program).
    void SelChange();
    void colWidthChanged(int col, int twips);

private:
    void selectionMoved();
    void emitSelChangeIfMoved();
    struct SelectionState {
        int row = 0;
        int rowSel = 0;
        QList<int> block;
        bool operator==(const SelectionState &) const = default;
    };
    SelectionState selectionState() const;

    QList<QStringList> m_cells; // m_cells[0] is the header row; JobColumnCount cells a row
    QList<int> m_colWidths;
    QItemSelectionModel *m_selection;
    int m_rowSel = 0;
    int m_quiet = 0; // > 0 while the table moves rows itself
    bool m_checkQueued = false;
    SelectionState m_lastEmitted;
};

} // namespace kestrovia
