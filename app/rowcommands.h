#pragma once
// The job list's gestures: Delete, the popup menu SameAll with its copy, sort and
// remove commands, Ctrl+Z for the rows removed last, and the double-click that
// shows the preview window.
//
// Delete acts on the selected rows; a copy goes from the current row to the
// selected rows, or to every row while one row (or none) is selected. None of them
// refreshes the preview.

#include "compose/rowsettings.h"

#include <QList>
#include <QObject>
#include <QStringList>

class QAction;
class QMenu;
class QPoint;

namespace kestrovia {

class Form2;
class JobListView;
class JobTable;

class RowCommands : public QObject {
    Q_OBJECT
public:
    // Builds the popup menu (parented to menuParent) and connects grid's KeyDown,
    // MouseDown and DblClick.
    RowCommands(JobTable *table, JobListView *grid, Form2 *preview, QWidget *menuParent);

    // The root of the popup menu; its entries carry their names as objectName.
    QMenu *menu() const { return m_menu; }

    // Delete (any modifiers) removes the selected job rows; other keys do nothing.
    // No confirmation (undoRemove puts them back); nothing happens while no job row
    // is selected.
    void PicsGalary_KeyDown(int key, Qt::KeyboardModifiers modifiers);
    // 「すべての行を削除」: asks first (削除 / キャンセル, Escape cancels), then removes
    // every job row. Nothing happens while the table holds no job row.
    void DeleteAll_Click();
    // Ctrl+Z (the action UndoRemove, also in the popup menu, active in the whole
    // window while the grid takes input): puts back the rows that the last Delete
    // or 「すべての行を削除」 removed, at their old row numbers with their cells
    // unchanged, selects them and makes current the row that was current then.
    // Once: a second Ctrl+Z does nothing, and a new removal replaces what it puts
    // back.
    void undoRemove();
    // The right button opens SameAll at globalPos (pixels) without moving the
    // current row; other buttons do nothing here.
    void PicsGalary_MouseDown(Qt::MouseButtons buttons, const QPoint &globalPos);
    // Brings the preview window on screen, modeless; it is not redrawn.
    void PicsGalary_DblClick();

    // 項目の一致: the current row's fields written into the selected rows when more
    // than one is selected, and into every job row otherwise. Each row works its
    // own size out of its own picture when the size rule is copied. Nothing happens
    // while no job row is current.
    void copyFields(const QList<RowField> &fields);
    // copyFields for every field, and the reserved columns' texts; the name, sizes
    // as shown, path and arrow are never copied.
    void SameAllItem_Click();
    // index 0 ascending, 1 descending by file name, from the current row down to
    // the last row (every job row when the current row is the first or the last);
    // then the block from the current row to the last row is highlighted. Equal
    // names keep their previous order. Other indexes do nothing.
    void SortFile_Click(int index);

private:
    void buildMenu(QWidget *parent);
    // Where a copy goes: the selected rows, or every row while one or none is.
    QList<int> copyTargets() const;
    // Keeps rows (grid numbers, ascending) and their cells for undoRemove.
    void keepRemoved(const QList<int> &rows);

    JobTable *m_table;
    Form2 *m_preview;
    QMenu *m_menu = nullptr;
    QAction *m_undo = nullptr;
    struct Removed {
        QList<std::pair<int, QStringList>> rows; // grid numbers before the removal, ascending
        int current = 0; // the current row before the removal
    } m_removed;
};

} // namespace kestrovia
